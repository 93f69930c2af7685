#include "corvane_bo/core/validate.hpp"

#include <algorithm>
#include <string>

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_core {

namespace {

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Result<void> require_text(std::string_view field, std::string_view value) {
    if (trim(value).empty()) return std::unexpected(Error::validation(field, "must not be empty"));
    return {};
}

Result<void> numeric_reference(std::string_view field, std::string_view value) {
    if (auto blank = require_text(field, value); !blank) return blank;
    // Byte-wise is enough: every byte of a multi-byte character is outside 0-9, so the first such
    // character fails here just as it would when walked as a whole character.
    if (!std::ranges::all_of(value, is_ascii_digit))
        return std::unexpected(Error::validation(field, "must contain only digits"));
    return {};
}

Result<void> positive(std::string_view field, std::uint64_t value) {
    if (value == 0) return std::unexpected(Error::validation(field, "must be greater than zero"));
    return {};
}

Result<Decimal> validate_amount(std::string_view field, const Decimal& amount) {
    // The sign is judged first: -0.001 is refused for its sign, not for its places.
    if (amount.is_zero() || amount.is_negative())
        return std::unexpected(Error::validation(field, "must be greater than zero"));
    const Decimal normal = amount.normalized();
    if (normal.scale() > max_amount_places) {
        return std::unexpected(Error::validation(
            field, "at most " + std::to_string(max_amount_places) + " decimal places are allowed"));
    }
    return normal;
}

}  // namespace corvane_bo_core
