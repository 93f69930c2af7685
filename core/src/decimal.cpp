#include "corvane_bo/core/decimal.hpp"

#include "corvane_bo/json/decode_error.hpp"

#include <array>
#include <cstddef>

namespace corvane_bo_core {

namespace {

using Mantissa = Decimal::Mantissa;

constexpr std::string_view reason_unparsable = "Failed to parse";
constexpr std::string_view reason_mantissa = "the part before the exponent is not a decimal";
constexpr std::string_view reason_exponent = "the exponent exceeds 28 in magnitude";
constexpr std::string_view reason_overflow = "the value exceeds the largest magnitude";

constexpr auto powers_of_ten = [] {
    std::array<Mantissa, Decimal::max_scale + 1> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
}();

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A syntactically valid mantissa text, not yet placed.
struct Digits {
    std::string_view body;  // after the sign: digits, at most one point, underscores
    bool negative = false;
    std::ptrdiff_t integer_digits = 0;
    std::ptrdiff_t total_digits = 0;
};

std::optional<Digits> scan(std::string_view text) {
    Digits d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        d.negative = text[i] == '-';
        ++i;
    }
    d.body = text.substr(i);
    bool point = false;
    for (const char c : d.body) {
        if (is_digit(c)) {
            ++d.total_digits;
            if (!point) ++d.integer_digits;
        } else if (c == '_') {
            if (d.total_digits == 0) return std::nullopt;
        } else if (c == '.') {
            if (point) return std::nullopt;
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (d.total_digits == 0) return std::nullopt;
    return d;
}

// Places the digits with their point moved `shift` places to the right and keeps as many leading digits
// as 96 bits and 28 places hold, rounding the first dropped digit half away from zero. Nothing when the
// integer part, or the rounded value, exceeds the largest magnitude. Stops reading at the first dropped
// digit, so the cost is linear in the text at worst.
std::optional<Decimal> place(const Digits& digits, std::ptrdiff_t shift) {
    const std::ptrdiff_t integer_digits = digits.integer_digits + shift;
    Mantissa m = 0;
    std::uint32_t scale = 0;
    bool in_fraction = false;
    int dropped = -1;  // the first digit that did not fit, once there is one

    const auto take = [&](int d) {
        if (!in_fraction) {
            if (m > (Decimal::max_mantissa - d) / 10) return false;
            m = m * 10 + d;
            return true;
        }
        if (scale == Decimal::max_scale || m > (Decimal::max_mantissa - d) / 10) {
            dropped = d;
            return false;
        }
        m = m * 10 + d;
        ++scale;
        return true;
    };

    // Implicit zeros when the point moves before the first digit (at most 28 of them).
    if (integer_digits < 0) {
        in_fraction = true;
        for (std::ptrdiff_t z = integer_digits; z < 0 && dropped < 0; ++z) take(0);
    }
    std::ptrdiff_t index = 0;
    for (const char c : digits.body) {
        if (dropped >= 0) break;
        if (!is_digit(c)) continue;
        if (index++ == integer_digits) in_fraction = true;
        if (!take(c - '0')) {
            if (!in_fraction) return std::nullopt;
            break;
        }
    }
    // Implicit zeros when the point moves past the last digit (at most 28 of them).
    for (std::ptrdiff_t z = digits.total_digits; z < integer_digits; ++z) {
        if (!take(0)) return std::nullopt;
    }

    if (dropped >= 5) {
        if (m == Decimal::max_mantissa) {
            // The carry needs a 97th bit: round at one place less instead. The digit given up is the
            // last digit of the largest mantissa.
            if (scale == 0) return std::nullopt;
            m = Decimal::max_mantissa / 10 + (Decimal::max_mantissa % 10 >= 5 ? 1 : 0);
            --scale;
        } else {
            ++m;
        }
    }
    return Decimal::from_parts(m, scale, digits.negative);
}

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view text) {
    const auto digits = scan(text);
    if (!digits) return std::nullopt;
    return place(*digits, 0);
}

std::expected<Decimal, std::string_view> Decimal::parse_scientific(std::string_view text) {
    const std::size_t e = text.find_first_of("eE");
    if (e == std::string_view::npos) return std::unexpected(reason_unparsable);

    std::string_view exponent_text = text.substr(e + 1);
    bool exponent_negative = false;
    if (!exponent_text.empty() && (exponent_text.front() == '+' || exponent_text.front() == '-')) {
        exponent_negative = exponent_text.front() == '-';
        exponent_text.remove_prefix(1);
    }
    if (exponent_text.empty()) return std::unexpected(reason_unparsable);
    // Saturates: anything past 28 is refused alike, however many digits it has.
    std::ptrdiff_t exponent = 0;
    for (const char c : exponent_text) {
        if (!is_digit(c)) return std::unexpected(reason_unparsable);
        if (exponent <= Decimal::max_scale) exponent = exponent * 10 + (c - '0');
    }

    const auto digits = scan(text.substr(0, e));
    if (!digits) return std::unexpected(reason_mantissa);
    if (exponent > Decimal::max_scale) return std::unexpected(reason_exponent);
    const auto value = place(*digits, exponent_negative ? -exponent : exponent);
    if (!value) return std::unexpected(reason_overflow);
    return *value;
}

Decimal Decimal::normalized() const {
    if (mantissa_ == 0) return Decimal{};
    Decimal d = *this;
    while (d.scale_ > 0 && d.mantissa_ % 10 == 0) {
        d.mantissa_ /= 10;
        --d.scale_;
    }
    return d;
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    const auto sign = [](const Decimal& d) { return d.is_zero() ? 0 : (d.negative_ ? -1 : 1); };
    const int sa = sign(a);
    const int sb = sign(b);
    if (sa != sb || sa == 0) return sa <=> sb;

    // Scaling one mantissa up to the other's scale could need 190 bits; integer parts and fractions
    // (below 10^28 once brought to 28 places) each fit.
    const auto integer = [](const Decimal& d) { return d.mantissa_ / powers_of_ten[d.scale_]; };
    const auto fraction = [](const Decimal& d) {
        return d.mantissa_ % powers_of_ten[d.scale_] * powers_of_ten[Decimal::max_scale - d.scale_];
    };
    std::strong_ordering magnitude = integer(a) <=> integer(b);
    if (magnitude == 0) magnitude = fraction(a) <=> fraction(b);
    return sa > 0 ? magnitude : 0 <=> magnitude;
}

void Decimal::append_to(std::string& out) const {
    char digits[40];  // the largest mantissa has 29 digits
    std::size_t count = 0;
    Mantissa m = mantissa_;
    do {
        digits[count++] = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m != 0);
    // Zeros between the point and the first significant digit.
    while (count <= scale_) digits[count++] = '0';

    if (is_negative()) out.push_back('-');
    for (std::size_t i = count; i > 0; --i) {
        if (i == scale_) out.push_back('.');
        out.push_back(digits[i - 1]);
    }
}

std::string Decimal::to_string() const {
    std::string out;
    append_to(out);
    return out;
}

std::expected<Decimal, std::string> read_amount(std::string_view text) {
    if (auto plain = Decimal::parse(text)) return *plain;
    std::string_view reason = reason_unparsable;
    if (text.find_first_of("eE") != std::string_view::npos) {
        auto scientific = Decimal::parse_scientific(text);
        if (scientific) return *scientific;
        reason = scientific.error();
    }
    // A megabyte of digits is not echoed back whole.
    const std::string_view shown = corvane_bo_json::first_characters(text, corvane_bo_json::quoted_characters);
    std::string message;
    message.reserve(shown.size() + reason.size() + 24);
    message.append("invalid amount `").append(shown).append(shown.size() < text.size() ? "…" : "").append("`: ").append(reason);
    return std::unexpected(std::move(message));
}

}  // namespace corvane_bo_core
