// Worked examples of the amount reader, the text form and the ordering. Rounding and acceptance over
// many generated texts are held against Python's decimal by decimal_differential.py.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>
#include <string_view>
#include <utility>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/json/value.hpp"
#include "corvane_bo/json/write.hpp"

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

// Every shape the quick read takes: one to twenty bytes with and without a sign, the point in each
// place, leading and trailing zeros, stray bytes, over the word read and the byte loop alike.
TEST(Decimal, TheQuickReadAgreesOverEveryShape) {
    const std::string_view digits = "9876543210123456789012";
    std::vector<std::string> texts;
    for (std::size_t n = 1; n <= 21; ++n) {
        for (const std::string_view body : {digits.substr(0, n), std::string_view("0000000000000000000000").substr(0, n),
                                            std::string_view("1000000000000000000000").substr(0, n),
                                            std::string_view("0000000000000000000001").substr(0, n)}) {
            const std::string plain(body);
            texts.push_back(plain);
            for (std::size_t at = 0; at <= n; ++at) {
                texts.push_back(plain.substr(0, at) + "." + plain.substr(at));
                for (const char stray : {'.', '/', ':', 'e', ' ', '_', '\0', '\x80'}) {
                    std::string bad = plain;
                    if (at < n) bad[at] = stray;
                    else bad += stray;
                    texts.push_back(bad);
                }
            }
        }
    }
    for (std::size_t i = 0, count = texts.size(); i < count; ++i) texts.push_back("-" + texts[i]);
    texts.insert(texts.end(), {"", "-", ".", "-.", "+1", "--1", "1.2.3", "12..3", ".1.", "1.-2", "18446744073709551615",
                               "18446744073709551616", "9999999999999999999", "0.0000000000000000001"});
    for (const std::string& text : texts) {
        // A number's text is read as it is; a string's would be trimmed first.
        const auto quick = corvane_bo_core::amount::from_value(corvane_bo_json::Value(corvane_bo_json::Number{text}));
        const auto full = read_amount(text);
        ASSERT_EQ(quick.has_value(), full.has_value()) << text;
        if (!quick) {
            EXPECT_EQ(quick.error(), full.error()) << text;
            continue;
        }
        EXPECT_EQ(quick->to_string(), full->to_string()) << text;
        EXPECT_EQ(quick->mantissa(), full->mantissa()) << text;
        EXPECT_EQ(quick->is_negative(), full->is_negative()) << text;
    }
}

// The quick writer against normalizing and the text form: every scale with mantissas of every length,
// around each power of ten and with runs of zeros, signs included, and beyond 64 bits.
TEST(Decimal, TheCodecsWriterAgreesWithTheTextForm) {
    std::vector<Decimal::Mantissa> mantissas = {0, 1, 5, 9, 10, 50, 99, 100, 101, 150, 1505, 15050, 123456789};
    for (Decimal::Mantissa p = 10; p <= Decimal::max_mantissa / 10; p *= 10) {
        for (const Decimal::Mantissa m : {p - 1, p, p + 1, 3 * p, p * 7 + 5, p / 10 * 42})
            mantissas.push_back(m);
    }
    mantissas.push_back(~std::uint64_t{0});
    mantissas.push_back(Decimal::Mantissa{~std::uint64_t{0}} + 1);
    mantissas.push_back(Decimal::max_mantissa);
    for (std::uint64_t m = 0; m < 2000; ++m) mantissas.push_back(m);
    for (const auto m : mantissas) {
        for (std::uint32_t scale = 0; scale <= Decimal::max_scale; ++scale) {
            for (const bool negative : {false, true}) {
                const Decimal amount = parts(m, scale, negative);
                const std::string expected = amount.normalized().to_string();
                std::string written = "x";
                corvane_bo_json::Writer::append_to(written, 0, [&](corvane_bo_json::Writer& out) {
                    corvane_bo_core::amount::serialize(amount, out);
                });
                ASSERT_EQ(written, "x\"" + expected + "\"") << amount.to_string();
                const auto number = corvane_bo_core::amount::to_json_number(amount);
                ASSERT_TRUE(number) << amount.to_string();
                ASSERT_EQ(number->text, expected) << amount.to_string();
            }
        }
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
