// The QR system's operations and its one door.
#pragma once

#include <string>
#include <string_view>

#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/qr/ops.hpp"
#include "corvane_bo/qr/webhook.hpp"

namespace corvane_bo_qr {

// Every operation, once: "describe" lists them in this order and names are routed through it. A new
// operation is one more type here.
using QrOps = corvane_bo_core::OperationTable<Generate, Verify, Cancel, ParseWebhook>;

// The answer text of one call: every caller (the binding, tests, fuzzers, benchmarks) comes in here.
std::string call(std::string_view op, std::string_view payload);

}  // namespace corvane_bo_qr
