// Exact decimal numbers for amounts of money: ±mantissa / 10^scale with an unsigned 96-bit mantissa
// and a scale of 0 to 28. Values never pass through binary floating point.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/core/uint128.hpp"

namespace corvane_bo_core {

class Decimal {
public:
    using Mantissa = Uint128;
    static constexpr Mantissa max_mantissa = (Mantissa{1} << 96) - 1;  // 79228162514264337593543950335
    static constexpr std::uint32_t max_scale = 28;

    constexpr Decimal() = default;

    // Nothing when the mantissa needs more than 96 bits or the scale exceeds 28.
    static constexpr std::optional<Decimal> from_parts(Mantissa mantissa, std::uint32_t scale, bool negative) {
        if (mantissa > max_mantissa || scale > max_scale) return std::nullopt;
        Decimal d;
        d.mantissa_ = mantissa;
        d.scale_ = scale;
        d.negative_ = negative;
        return d;
    }

    // Plain text: an optional sign, digits with at most one point (".5" and "5." included), and
    // underscores anywhere after the first digit, which are skipped. Digits beyond what 96 bits and 28
    // places hold are rounded off, half away from zero. Nothing when the text is not of that form or
    // its integer part exceeds the largest magnitude.
    static std::optional<Decimal> parse(std::string_view text);

    // A mantissa as for `parse`, then e or E and an exponent (optional sign, ASCII digits) of at most 28
    // in magnitude. The value is rounded once, like `parse`. The error is a short reason; it is
    // "Failed to parse" when the text has no e/E or no well-formed exponent after the first one.
    static std::expected<Decimal, std::string_view> parse_scientific(std::string_view text);

    constexpr Mantissa mantissa() const { return mantissa_; }
    constexpr std::uint32_t scale() const { return scale_; }
    constexpr bool is_zero() const { return mantissa_ == 0; }
    // Below zero; a zero read with a minus sign is not negative.
    constexpr bool is_negative() const { return negative_ && mantissa_ != 0; }

    // The same value at the smallest scale that holds it; every zero becomes 0 at scale 0.
    Decimal normalized() const;

    // By value: 10.5 == 10.50, -0 == 0.
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);
    friend bool operator==(const Decimal& a, const Decimal& b) { return (a <=> b) == 0; }

    // Plain notation: an optional minus, the integer digits and, when the scale is above 0, a point with
    // exactly `scale` digits. Never an exponent or a plus; a zero never carries a minus.
    void append_to(std::string& out) const;
    std::string to_string() const;

private:
    Mantissa mantissa_ = 0;
    std::uint32_t scale_ = 0;
    bool negative_ = false;
};

// The amount reader behind every amount field: `text` is a JSON number's exact text or a string's
// trimmed content. Tries `parse`, then `parse_scientific` when the text has an e or E. The amount is
// returned as read (10.50 keeps scale 2). On failure the whole message:
// "invalid amount `<text>`: <reason>".
std::expected<Decimal, std::string> read_amount(std::string_view text);

}  // namespace corvane_bo_core
