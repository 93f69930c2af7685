#include "corvane_bo/qr/registry.hpp"

namespace corvane_bo_qr {

using corvane_bo_core::OpInfo;
using corvane_bo_core::Result;

std::optional<Result<corvane_bo_json::Value>> QrOps::dispatch(std::string_view, std::string_view) const {
    return std::nullopt;
}

std::span<const OpInfo> QrOps::operations() const { return {}; }

std::string call(std::string_view op, std::string_view payload) {
    return corvane_bo_core::ffi::call(QrOps{}, op, payload);
}

}  // namespace corvane_bo_qr
