#include "corvane_bo/qr/registry.hpp"

namespace corvane_bo_qr {

std::string call(std::string_view op, std::string_view payload) { return corvane_bo_core::ffi::call(QrOps{}, op, payload); }

}  // namespace corvane_bo_qr
