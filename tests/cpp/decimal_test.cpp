// Worked examples of the amount reader, the text form and the ordering. Rounding and acceptance over
// many generated texts are held against Python's decimal by decimal_differential.py.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "corvane_bo/core/decimal.hpp"

namespace {

using corvane_bo_core::Decimal;
using corvane_bo_core::read_amount;

Decimal parts(Decimal::Mantissa m, std::uint32_t scale, bool negative = false) {
    return Decimal::from_parts(m, scale, negative).value();
}

TEST(Decimal, ReadsAmountTexts) {
    struct Case {
        std::string_view text;
        std::string_view as_read;  // keeps the scale of the text
        std::string_view normalized;
    };
    constexpr Case cases[] = {
        {"10.50", "10.50", "10.5"},
        {"+5", "5", "5"},
        {"-5", "-5", "-5"},
        {".5", "0.5", "0.5"},
        {"5.", "5", "5"},
        {"007", "7", "7"},
        {"1_000.50", "1000.50", "1000.5"},
        {"1__0_._5_", "10.5", "10.5"},
        {"-0.00", "0.00", "0"},
        {"1e3", "1000", "1000"},
        {"1E+2", "100", "100"},
        {"1.5e-2", "0.015", "0.015"},
        {"1.50e1", "15.0", "15"},
        {"-0e5", "0", "0"},
        {"1e28", "10000000000000000000000000000", "10000000000000000000000000000"},
        {"1e-28", "0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        {"0.5e-28", "0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        {"123456789012345678901234567890e-10", "12345678901234567890.123456789", "12345678901234567890.123456789"},
        // Beyond 28 places: the first dropped digit rounds half away from zero.
        {"0.12345678901234567890123456785", "0.1234567890123456789012345679", "0.1234567890123456789012345679"},
        {"-0.00000000000000000000000000005", "-0.0000000000000000000000000001", "-0.0000000000000000000000000001"},
        {"0.00000000000000000000000000004999", "0.0000000000000000000000000000", "0"},
        // Beyond 96 bits: as many digits as fit, and one fewer when the carry would need a 97th bit.
        {"79228162514264337593543950335", "79228162514264337593543950335", "79228162514264337593543950335"},
        {"7922816251426433759354395033.54", "7922816251426433759354395033.5", "7922816251426433759354395033.5"},
        {"7.92281625142643375935439503356", "7.922816251426433759354395034", "7.922816251426433759354395034"},
        {"7922816251426433759354395033.6", "7922816251426433759354395034", "7922816251426433759354395034"},
    };
    for (const auto& c : cases) {
        const auto amount = read_amount(c.text);
        ASSERT_TRUE(amount) << c.text << ": " << amount.error();
        EXPECT_EQ(amount->to_string(), c.as_read) << c.text;
        EXPECT_EQ(amount->normalized().to_string(), c.normalized) << c.text;
    }
}

TEST(Decimal, RefusesWithTheWholeMessage) {
    struct Case {
        std::string_view text;
        std::string_view message;
    };
    constexpr Case cases[] = {
        {"", "invalid amount ``: Failed to parse"},
        {"12,50", "invalid amount `12,50`: Failed to parse"},
        {"12 .5", "invalid amount `12 .5`: Failed to parse"},
        {"_1", "invalid amount `_1`: Failed to parse"},
        {"1.2.3", "invalid amount `1.2.3`: Failed to parse"},
        {"-", "invalid amount `-`: Failed to parse"},
        {"79228162514264337593543950336", "invalid amount `79228162514264337593543950336`: Failed to parse"},
        {"79228162514264337593543950335.5", "invalid amount `79228162514264337593543950335.5`: Failed to parse"},
        {"1e", "invalid amount `1e`: Failed to parse"},
        {"1e5x", "invalid amount `1e5x`: Failed to parse"},
        {"1e5e3", "invalid amount `1e5e3`: Failed to parse"},
        {"1e_5", "invalid amount `1e_5`: Failed to parse"},
        {"x1e5", "invalid amount `x1e5`: the part before the exponent is not a decimal"},
        {"e5", "invalid amount `e5`: the part before the exponent is not a decimal"},
        {"1e29", "invalid amount `1e29`: the exponent exceeds 28 in magnitude"},
        {"1e-29", "invalid amount `1e-29`: the exponent exceeds 28 in magnitude"},
        {"0e99999999999999999999999", "invalid amount `0e99999999999999999999999`: the exponent exceeds 28 in magnitude"},
        {"8e28", "invalid amount `8e28`: the value exceeds the largest magnitude"},
    };
    for (const auto& c : cases) {
        const auto amount = read_amount(c.text);
        ASSERT_FALSE(amount) << c.text;
        EXPECT_EQ(amount.error(), c.message);
    }
}

// A quadratic reader would not finish these; a reader that scans past the end would trip the sanitizers.
TEST(Decimal, MillionDigitTexts) {
    const std::string digits(1'000'000, '7');
    EXPECT_EQ(read_amount("0." + digits)->to_string(), "0.7777777777777777777777777778");
    EXPECT_EQ(read_amount("-7." + digits + "e-1")->to_string(), "-0.7777777777777777777777777778");
    EXPECT_FALSE(read_amount(digits));
    EXPECT_EQ(read_amount("1" + std::string(1'000'000, '_'))->to_string(), "1");
    EXPECT_EQ(read_amount("0." + std::string(1'000'000, '0') + "1")->to_string(), "0.0000000000000000000000000000");
    const auto message = read_amount("1e" + digits).error();
    EXPECT_TRUE(message.ends_with("`: the exponent exceeds 28 in magnitude"));
}

TEST(Decimal, PlainTextOfParts) {
    struct Case {
        Decimal::Mantissa mantissa;
        std::uint32_t scale;
        bool negative;
        std::string_view text;
        std::string_view normalized;
    };
    constexpr Case cases[] = {
        {0, 0, false, "0", "0"},
        {0, 3, true, "0.000", "0"},
        {1, 28, false, "0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        {123, 5, true, "-0.00123", "-0.00123"},
        {100, 2, false, "1.00", "1"},
        {1000, 0, false, "1000", "1000"},
        {Decimal::max_mantissa, 28, true, "-7.9228162514264337593543950335", "-7.9228162514264337593543950335"},
    };
    for (const auto& c : cases) {
        const Decimal d = parts(c.mantissa, c.scale, c.negative);
        EXPECT_EQ(d.to_string(), c.text);
        EXPECT_EQ(d.normalized().to_string(), c.normalized);
    }
    std::string out = "amount=";
    parts(5, 1).append_to(out);
    EXPECT_EQ(out, "amount=0.5");
    EXPECT_EQ(parts(0, 3, true).normalized().scale(), 0u);
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
