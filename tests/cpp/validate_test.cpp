// The shared field checks: blank text, digit-only references and amounts. `positive` is seen through
// the generate stage's failure order in the Python tests.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "corvane_bo/core/validate.hpp"

namespace {

using namespace corvane_bo_core;

// The passing value as text ("" for none), otherwise the message; the field must come back as given.
template <class T>
std::string outcome(const Result<T>& r, std::string_view field) {
    if (r) {
        if constexpr (std::is_void_v<T>) return "";
        else return r->to_string();
    }
    const auto* v = r.error().template as<errors::Validation>();
    return v == nullptr || v->field != field ? "<wrong error>" : std::string(v->message);
}

TEST(Validate, RequireTextAndNumericReference) {
    constexpr std::string_view empty = "must not be empty", digits = "must contain only digits";
    constexpr struct {
        std::string_view value, require_text, numeric_reference;
    } cases[] = {
        {"", empty, empty},
        {" \t\r\n", empty, empty},
        {"\xC2\xA0\xE3\x80\x80", empty, empty},  // no-break and ideographic spaces
        {" word ", "", digits},
        {"0001234", "", ""},
        {"1234567890123456789012345678901234567890", "", ""},
        {" 123", "", digits},
        {"+1", "", digits},
        {"1.0", "", digits},
        {"1\xC2\xA0", "", digits},
        {"\xEF\xBC\x91\xEF\xBC\x92", "", digits},  // full-width digits
        {"\xD9\xA1", "", digits},                  // Arabic-Indic one
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcome(require_text("establishment_name", c.value), "establishment_name"), c.require_text)
            << testing::PrintToString(c.value);
        EXPECT_EQ(outcome(numeric_reference("reference", c.value), "reference"), c.numeric_reference)
            << testing::PrintToString(c.value);
    }
}

// The sign is judged before the places; a passing amount comes back normalized.
TEST(Validate, Amount) {
    constexpr std::string_view not_positive = "must be greater than zero", places = "at most 2 decimal places are allowed";
    constexpr std::pair<std::string_view, std::string_view> cases[] = {
        {"0", not_positive},  {"-0.00", not_positive},         {"-0.001", not_positive},
        {"0.001", places},    {"1.005", places},               {"10.500", "10.5"},
        {"100.00", "100"},    {"99999999.990", "99999999.99"}, {"79228162514264337593543950335", "79228162514264337593543950335"},
    };
    for (const auto& [amount, expected] : cases) {
        EXPECT_EQ(outcome(validate_amount("amount", read_amount(amount).value()), "amount"), expected) << amount;
    }
}

}  // namespace
