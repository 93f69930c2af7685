// Amounts of money cross between JSON and exact decimals here, and only here: read from a JSON number
// or a numeric string, checked before they are sent, and written back out normalized.
#pragma once

#include <optional>
#include <string>

#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/core/error.hpp"
#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core::amount {

// A JSON number's exact text or a string's trimmed content read as an amount, not normalized. The
// failure is the plain message ("expected a number, got null", "invalid amount `x`: ...").
std::expected<Decimal, std::string> from_value(const corvane_bo_json::Value& value);

// The normalized amount as a JSON string: 10.50 is written "10.5".
void serialize(const Decimal& amount, corvane_bo_json::Writer& out);

// The normalized amount as a JSON number, for request bodies.
Result<corvane_bo_json::Number> to_json_number(const Decimal& amount);

// Field codecs for record tables: a required amount, and an optional one where null means absent.
// They read from JSON text and from a decoded value alike (defined for those two sources).
struct Required {
    template <corvane_bo_json::source S>
    static corvane_bo_json::Decoded<void> read(S& s, Decimal& out);
    static void write(const Decimal& amount, corvane_bo_json::Writer& out) { serialize(amount, out); }
};

struct Optional {
    template <corvane_bo_json::source S>
    static corvane_bo_json::Decoded<void> read(S& s, std::optional<Decimal>& out);
    static void write(const std::optional<Decimal>& amount, corvane_bo_json::Writer& out);
};

}  // namespace corvane_bo_core::amount
