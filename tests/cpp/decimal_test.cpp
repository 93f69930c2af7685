// Worked examples of the amount reader, the text form and the ordering. Rounding and acceptance over
// many generated texts are held against Python's decimal by decimal_differential.py.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/json/value.hpp"

namespace {

using corvane_bo_core::Decimal;
using corvane_bo_core::read_amount;

Decimal parts(Decimal::Mantissa m, std::uint32_t scale, bool negative = false) {
    return Decimal::from_parts(m, scale, negative).value();
}

// One example of each rule, pinned apart from the differential's oracle.
TEST(Decimal, ReadsAmountTexts) {
    constexpr struct {
        std::string_view text, as_read /* keeps the scale of the text */, normalized;
    } cases[] = {
        {"10.50", "10.50", "10.5"},
        {".5", "0.5", "0.5"},
        {"1__0_._5_", "10.5", "10.5"},
        {"-0.00", "0.00", "0"},
        {"1.50e1", "15.0", "15"},
        {"0.5e-28", "0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        // Beyond 28 places: the first dropped digit rounds half away from zero.
        {"0.12345678901234567890123456785", "0.1234567890123456789012345679", "0.1234567890123456789012345679"},
        {"-0.00000000000000000000000000005", "-0.0000000000000000000000000001", "-0.0000000000000000000000000001"},
        // Beyond 96 bits: as many digits as fit, and one fewer when the carry would need a 97th bit.
        {"7922816251426433759354395033.54", "7922816251426433759354395033.5", "7922816251426433759354395033.5"},
        {"7.92281625142643375935439503356", "7.922816251426433759354395034", "7.922816251426433759354395034"},
    };
    for (const auto& c : cases) {
        const auto amount = read_amount(c.text);
        ASSERT_TRUE(amount) << c.text << ": " << amount.error();
        EXPECT_EQ(amount->to_string(), c.as_read) << c.text;
        EXPECT_EQ(amount->normalized().to_string(), c.normalized) << c.text;
    }
}

TEST(Decimal, RefusesWithTheWholeMessage) {
    constexpr std::string_view unparsable = "Failed to parse", bad_exponent = "the exponent exceeds 28 in magnitude";
    constexpr std::pair<std::string_view, std::string_view> cases[] = {
        {"", unparsable},
        {"_1", unparsable},
        {"79228162514264337593543950336", unparsable},
        {"x1e5", "the part before the exponent is not a decimal"},
        {"1e-29", bad_exponent},
        {"8e28", "the value exceeds the largest magnitude"},
    };
    for (const auto& [text, reason] : cases) {
        const auto amount = read_amount(text);
        ASSERT_FALSE(amount) << text;
        EXPECT_EQ(amount.error(), "invalid amount `" + std::string(text) + "`: " + std::string(reason));
    }
}

// A quadratic reader would not finish these; a reader that scans past the end would trip the sanitizers.
TEST(Decimal, MillionDigitTexts) {
    const std::string digits(1'000'000, '7');
    EXPECT_EQ(read_amount("-7." + digits + "e-1")->to_string(), "-0.7777777777777777777777777778");
    EXPECT_FALSE(read_amount(digits));
    EXPECT_EQ(read_amount("1" + std::string(1'000'000, '_'))->to_string(), "1");
    EXPECT_EQ(read_amount("0." + std::string(1'000'000, '0') + "1")->to_string(), "0.0000000000000000000000000000");
    EXPECT_TRUE(read_amount("1e" + digits).error().ends_with("`: the exponent exceeds 28 in magnitude"));
}

// The codec reads the common texts in one pass of its own: to the same amount, sign and scale
// included, as the full reader, and it leaves every other text to that reader.
TEST(Decimal, TheCodecsQuickReadAgreesWithTheReader) {
    constexpr std::string_view texts[] = {
        "150.50", "0", "-0", "-0.00", "-3.5", "007.10", "5.", ".5", "-", "", "-.5", "1.2.3", "1..2", "1.-2",
        "1_0", "1e3", "+1", "1234567890123456789", "123456789.0123456789", "12345678901234567890",
        "18446744073709551616", "99999999999999999999.5",
    };
    for (const auto text : texts) {
        const auto quick = corvane_bo_core::amount::from_value(corvane_bo_json::Value(std::string(text)));
        const auto full = read_amount(text);
        ASSERT_EQ(quick.has_value(), full.has_value()) << text;
        if (!quick) continue;
        EXPECT_EQ(quick->to_string(), full->to_string()) << text;
        EXPECT_EQ(quick->is_negative(), full->is_negative()) << text;
    }
}

TEST(Decimal, FromParts) {
    EXPECT_EQ(parts(123, 5, true).to_string(), "-0.00123");
    EXPECT_EQ(parts(0, 3, true).to_string(), "0.000");
    EXPECT_EQ(parts(0, 3, true).normalized().scale(), 0u);
    std::string out = "amount=";
    parts(5, 1).append_to(out);
    EXPECT_EQ(out, "amount=0.5");
    EXPECT_FALSE(Decimal::from_parts(Decimal::max_mantissa + 1, 0, false));
    EXPECT_FALSE(Decimal::from_parts(1, 29, false));
}

TEST(Decimal, OrdersByValue) {
    EXPECT_EQ(parts(105, 1), parts(1050, 2));
    EXPECT_EQ(parts(0, 0, true), parts(0, 5));
    EXPECT_FALSE(parts(0, 0, true).is_negative());
    // Equal integer parts, the fractions decide; scales far apart would overflow a naive rescale.
    EXPECT_LT(parts(Decimal::max_mantissa, 28), parts(Decimal::max_mantissa, 27));
    EXPECT_LT(parts(Decimal::max_mantissa - 1, 0), parts(Decimal::max_mantissa, 0));
    EXPECT_LT(parts(1, 1), parts(10000000001, 11));
    EXPECT_GT(parts(1, 28), parts(0, 0));
    EXPECT_LT(parts(1, 0, true), parts(5, 1, true));
    EXPECT_LT(parts(Decimal::max_mantissa, 0, true), parts(1, 28, true));
    EXPECT_LT(parts(1, 28, true), parts(0, 0));
}

}  // namespace
