#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string_view>

#include "corvane_bo/core/validate.hpp"

namespace {

using namespace corvane_bo_core;

// "" for a pass, otherwise the message; the field must come back as given.
std::string_view outcome(const Result<void>& r, std::string_view field) {
    if (r) return "";
    const auto* v = r.error().as<errors::Validation>();
    if (v == nullptr || v->field != field) return "<wrong error>";
    return v->message;
}

TEST(Validate, RequireTextAndNumericReference) {
    struct Case {
        std::string_view value;
        std::string_view require_text;
        std::string_view numeric_reference;
    };
    constexpr std::string_view empty = "must not be empty";
    constexpr std::string_view digits = "must contain only digits";
    constexpr Case cases[] = {
        {"", empty, empty},
        {" \t\r\n", empty, empty},
        {"\xC2\xA0\xE3\x80\x80", empty, empty},  // no-break and ideographic spaces
        {" word ", "", digits},
        {"0001234", "", ""},
        {"1234567890123456789012345678901234567890", "", ""},
        {" 123", "", digits},
        {"123\n", "", digits},
        {"+1", "", digits},
        {"-1", "", digits},
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

TEST(Validate, Positive) {
    EXPECT_EQ(outcome(positive("expires_in", 0), "expires_in"), "must be greater than zero");
    EXPECT_EQ(outcome(positive("expires_in", 1), "expires_in"), "");
    EXPECT_EQ(outcome(positive("establishment_id", std::numeric_limits<std::uint64_t>::max()), "establishment_id"), "");
}

TEST(Validate, Amount) {
    struct Case {
        std::string_view amount;
        std::string_view result;  // the normalized amount, or the message
    };
    constexpr std::string_view not_positive = "must be greater than zero";
    constexpr std::string_view places = "at most 2 decimal places are allowed";
    constexpr Case cases[] = {
        {"0", not_positive},
        {"-0.00", not_positive},
        {"-5", not_positive},
        {"-0.001", not_positive},  // the sign is judged before the places
        {"0.001", places},
        {"0.005", places},
        {"1.005", places},
        {"10.001", places},
        {"10.500", "10.5"},
        {"99999999.990", "99999999.99"},
        {"1.50", "1.5"},
        {"100.00", "100"},
        {"0.01", "0.01"},
        {"79228162514264337593543950335", "79228162514264337593543950335"},
    };
    for (const auto& c : cases) {
        const auto r = validate_amount("amount", read_amount(c.amount).value());
        if (r) {
            EXPECT_EQ(r->to_string(), c.result) << c.amount;
        } else {
            const auto* v = r.error().as<errors::Validation>();
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->field, "amount");
            EXPECT_EQ(v->message, c.result) << c.amount;
        }
    }
}

}  // namespace
