// The states of a QR payment, and the bank's words for them.
#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "corvane_bo/json/record.hpp"

namespace corvane_bo_qr {

// A closed set: a word the bank's vocabulary does not know is `unknown`, never an error.
enum class PaymentStatus { pending, processing, paid, cancelled, expired, rejected, reversed, error, unknown };

}  // namespace corvane_bo_qr

// The names written in JSON; the Python client's enumeration reads the same ones.
template <>
struct corvane_bo_json::Variants<corvane_bo_qr::PaymentStatus> {
    static constexpr std::array<std::string_view, 9> names = {
        "pending", "processing", "paid", "cancelled", "expired", "rejected", "reversed", "error", "unknown"};
};

namespace corvane_bo_qr {

constexpr std::string_view name(PaymentStatus status) {
    return corvane_bo_json::Variants<PaymentStatus>::names[std::to_underlying(status)];
}

// The bank's words, matched as whole texts after trimming White_Space and upper-casing ASCII letters
// only (so "CANCELADÓ" is not CANCELADO).
struct SpanishQr {
    // A QR's `estado`: PENDIENTE, PAGADO, CANCELADO, EXPIRADO, ERROR.
    static PaymentStatus map(std::string_view text);
    // A notification's response code: the same words, and the webhook's own SUCCESS for a payment.
    static PaymentStatus map_notification(std::string_view text);
};

}  // namespace corvane_bo_qr
