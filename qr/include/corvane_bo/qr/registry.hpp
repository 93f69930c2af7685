// The table of QR operations handed to `ffi::call`.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/ffi.hpp"

namespace corvane_bo_qr {

struct QrOps {
    std::optional<corvane_bo_core::Outcome> dispatch(std::string_view op,
                                                     std::string_view payload) const;
    std::span<const corvane_bo_core::OpInfo> operations() const;
};

// The answer text of one call against the QR registry.
std::string call(std::string_view op, std::string_view payload);

}  // namespace corvane_bo_qr
