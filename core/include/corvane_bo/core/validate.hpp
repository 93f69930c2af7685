// The small checks the build stage applies to input fields. Each passes without changing anything or
// returns one validation error naming the field as the caller spelled it.
#pragma once

#include <cstdint>
#include <string_view>

#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/core/error.hpp"

namespace corvane_bo_core {

// Fails "must not be empty" when nothing but White_Space is left after trimming.
Result<void> require_text(std::string_view field, std::string_view value);
// A non-blank run of ASCII digits with nothing around it, leading zeros allowed: "must not be empty",
// then "must contain only digits".
Result<void> numeric_reference(std::string_view field, std::string_view value);
// Fails "must be greater than zero" for 0.
Result<void> positive(std::string_view field, std::uint64_t value);

inline constexpr std::uint32_t max_amount_places = 2;

// An amount the bank may be sent: above zero ("must be greater than zero"), then at most two places
// once trailing zeros are dropped ("at most 2 decimal places are allowed"). Returns the normalized
// amount; there is no upper limit.
Result<Decimal> validate_amount(std::string_view field, const Decimal& amount);

}  // namespace corvane_bo_core
