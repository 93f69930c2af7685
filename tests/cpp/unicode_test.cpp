// Property look-ups, the UTF-8 decoder and trimming. The whole tables, White_Space included, are
// cross-checked against Python by unicode_crosscheck.py; these cases pin what that check cannot see.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/core/unicode.hpp"

namespace {

using namespace corvane_bo_core;

// The cross-check only knows that a combining mark or a symbol *may* be Alphabetic, and skips what
// Python has not assigned; these pin which ones are.
TEST(Unicode, AlphanumericBeyondLettersAndNumbers) {
    constexpr struct {
        char32_t cp;
        bool alphanumeric;
        const char* what;
    } cases[] = {
        {0x0345, true, "combining ypogegrammeni, Alphabetic without being a letter"},
        {0x24B6, true, "circled latin capital A, So but Alphabetic"},
        {0x0301, false, "combining acute, Mn without Alphabetic"},
        {0xB0, false, "degree sign, So"},
        {0x10FFFF, false, "last code point"},
        {invalid_code_point, false, "replacement character"},
    };
    for (const auto& c : cases) EXPECT_EQ(is_alphanumeric(c.cp), c.alphanumeric) << c.what;
}

TEST(Unicode, DecodeUtf8) {
    constexpr struct {
        std::string_view bytes;
        char32_t cp;
        std::size_t length;
    } cases[] = {
        {"A", U'A', 1},
        {"\xC3\xB1", 0xF1, 2},
        {"\xE3\x80\x80", 0x3000, 3},
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"\x80", invalid_code_point, 1},              // stray continuation
        {"\xC0\x80", invalid_code_point, 1},          // overlong NUL
        {"\xE0\x9F\xBF", invalid_code_point, 1},      // overlong three-byte
        {"\xED\xA0\x80", invalid_code_point, 1},      // surrogate
        {"\xF0\x8F\xBF\xBF", invalid_code_point, 1},  // overlong four-byte
        {"\xF4\x90\x80\x80", invalid_code_point, 1},  // above U+10FFFF
        {"\xFF", invalid_code_point, 1},
        {"\xE3\x80", invalid_code_point, 1},  // truncated
        {"\xE3\x41\x80", invalid_code_point, 1},
    };
    for (const auto& c : cases) {
        const Decoded d = decode_utf8(c.bytes, 0);
        EXPECT_EQ(d.cp, c.cp) << testing::PrintToString(c.bytes);
        EXPECT_EQ(d.length, c.length) << testing::PrintToString(c.bytes);
    }
    EXPECT_EQ(decode_utf8("ab", 2).length, 0u);
    EXPECT_EQ(decode_utf8("ab", 99).length, 0u);
    // The view ends inside a sequence whose remaining bytes are in memory: they must not be read.
    constexpr std::string_view whole = "\xE2\x80\xA8";
    EXPECT_EQ(decode_utf8(whole.substr(0, 2), 0).cp, invalid_code_point);
}

TEST(Unicode, Trim) {
    constexpr std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {" \t\r\n\v\f", ""},
        {"  word  ", "word"},
        {"\xC2\xA0" "12.5" "\xE3\x80\x80", "12.5"},                     // U+00A0 and U+3000
        {"\xE2\x80\xA8" "x" "\xE2\x80\xA9", "x"},                       // U+2028, U+2029
        {"\xC2\x85\xE1\x9A\x80" "x" "\xE2\x80\xAF\xE2\x81\x9F", "x"},  // U+0085 U+1680 / U+202F U+205F
        {"\xE2\x80\x8B" "x" "\xE2\x80\x8B", "\xE2\x80\x8B" "x" "\xE2\x80\x8B"},  // zero width space stays
        {"x\xA0", "x\xA0"},          // a lone continuation byte is not a no-break space
        {"x \xE3\x80", "x \xE3\x80"},  // truncated ideographic space
        {"\xC2 x", "\xC2 x"},
        {"\xF0\x9F\x98\x80 ", "\xF0\x9F\x98\x80"},
    };
    for (const auto& [text, trimmed] : cases) EXPECT_EQ(trim(text), trimmed) << testing::PrintToString(text);
}

TEST(Unicode, TrimStaysLinearOnLongBlanks) {
    std::string nbsp;
    for (int i = 0; i < 250'000; ++i) nbsp += "\xC2\xA0";
    EXPECT_EQ(trim(nbsp + "x" + nbsp), "x");
    EXPECT_EQ(trim(nbsp), "");
    const std::string continuation(1'000'000, '\x80');
    EXPECT_EQ(trim(continuation).size(), continuation.size());
}

}  // namespace
