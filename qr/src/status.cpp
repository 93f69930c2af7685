#include "corvane_bo/qr/status.hpp"

#include <algorithm>

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_qr {

namespace {

struct Word {
    std::string_view text;
    PaymentStatus status;
    bool notification_only = false;
};

constexpr Word words[] = {
    {"PENDIENTE", PaymentStatus::pending}, {"PAGADO", PaymentStatus::paid},
    {"CANCELADO", PaymentStatus::cancelled}, {"EXPIRADO", PaymentStatus::expired},
    {"ERROR", PaymentStatus::error},       {"SUCCESS", PaymentStatus::paid, true},
};

PaymentStatus lookup(std::string_view text, bool notification) {
    const std::string_view word = corvane_bo_core::trim(text);
    for (const auto& entry : words) {
        if ((notification || !entry.notification_only) &&
            std::ranges::equal(word, entry.text, {}, corvane_bo_core::ascii_upper))
            return entry.status;
    }
    return PaymentStatus::unknown;
}

}  // namespace

PaymentStatus SpanishQr::map(std::string_view text) { return lookup(text, false); }

PaymentStatus SpanishQr::map_notification(std::string_view text) { return lookup(text, true); }

}  // namespace corvane_bo_qr
