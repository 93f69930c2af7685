#include "corvane_bo/core/status.hpp"

#include <algorithm>
#include <utility>

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_core {

namespace {

constexpr std::string_view names[] = {"pending",  "processing", "paid",  "cancelled", "expired",
                                      "rejected", "reversed",   "error", "unknown"};
static_assert(std::size(names) == static_cast<std::size_t>(PaymentStatus::unknown) + 1);

struct Word {
    std::string_view text;
    PaymentStatus status;
};

constexpr Word spanish_qr_words[] = {
    {"PENDIENTE", PaymentStatus::pending}, {"PAGADO", PaymentStatus::paid},
    {"CANCELADO", PaymentStatus::cancelled}, {"EXPIRADO", PaymentStatus::expired},
    {"ERROR", PaymentStatus::error},
};

// Accented letters stay as they are, so "CANCELADÓ" is not CANCELADO.
constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string_view name(PaymentStatus status) { return names[std::to_underlying(status)]; }

PaymentStatus SpanishQr::map(std::string_view text) {
    const std::string_view word = trim(text);
    for (const auto& entry : spanish_qr_words) {
        if (std::ranges::equal(word, entry.text, {}, ascii_upper)) return entry.status;
    }
    return PaymentStatus::unknown;
}

}  // namespace corvane_bo_core
