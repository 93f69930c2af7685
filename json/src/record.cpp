#include "corvane_bo/json/record.hpp"

#include <cerrno>
#include <cmath>

namespace corvane_bo_json::detail {

namespace {

Decoded<double> to_double(std::string_view text, std::size_t end_offset) {
    const std::string copy(text);
    errno = 0;
    const double value = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(value)) return std::unexpected(Failed(Syntax::number_out_of_range, end_offset));
    return value;
}

}  // namespace

Decoded<IntegerToken> integer_token(std::string_view text, std::size_t end_offset) {
    IntegerToken token{IntegerToken::Kind::floating};
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    // Nineteen digits always fit 64 bits: the common integer is read in one pass over its digits.
    if (!negative && !digits.empty() && digits.size() <= 19) {
        std::uint64_t magnitude = 0;
        bool plain = true;
        for (const char c : digits) {
            if (c < '0' || c > '9') {
                plain = false;
                break;
            }
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (plain) {
            token.kind = IntegerToken::Kind::unsigned_integer;
            token.magnitude = magnitude;
            return token;
        }
    }
    if (digits.find_first_of(".eE") == std::string_view::npos) {
        std::uint64_t magnitude = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (ec == std::errc{} && end == digits.data() + digits.size()) {
            if (!negative) {
                token.kind = IntegerToken::Kind::unsigned_integer;
                token.magnitude = magnitude;
                return token;
            }
            // -0 and anything below the smallest i64 are read as floats.
            if (magnitude != 0 && magnitude <= std::uint64_t{1} << 63) {
                token.kind = IntegerToken::Kind::negative_integer;
                token.negative = static_cast<std::int64_t>(0 - magnitude);
                return token;
            }
            token.floating = -static_cast<double>(magnitude);
            return token;
        }
    }
    auto value = to_double(text, end_offset);
    if (!value) return std::unexpected(value.error());
    token.floating = *value;
    return token;
}

std::string found_in(const Value& value) {
    if (value.is_null()) return "null";
    if (const auto* b = value.get<bool>()) return *b ? "boolean `true`" : "boolean `false`";
    if (value.get<Number>()) return "number";
    if (const auto* text = value.get<std::string>()) return unexpected_string(*text);
    if (value.get<Array>()) return "sequence";
    return "map";
}

}  // namespace corvane_bo_json::detail
