// The system's own closed set of payment states, and the vocabularies that map a bank's words onto it.
// A word a vocabulary does not know is `unknown`, never an error.
#pragma once

#include <concepts>
#include <string_view>

namespace corvane_bo_core {

enum class PaymentStatus { pending, processing, paid, cancelled, expired, rejected, reversed, error, unknown };

// The lower-case name written in JSON ("pending", ..., "unknown").
std::string_view name(PaymentStatus status);

template <class V>
concept StatusVocabulary = requires(std::string_view text) {
    { V::map(text) } -> std::same_as<PaymentStatus>;
};

// The words of the bank's QR API: PENDIENTE, PAGADO, CANCELADO, EXPIRADO, ERROR, matched as whole texts
// after trimming White_Space and upper-casing ASCII letters only.
struct SpanishQr {
    static PaymentStatus map(std::string_view text);
};

static_assert(StatusVocabulary<SpanishQr>);

}  // namespace corvane_bo_core
