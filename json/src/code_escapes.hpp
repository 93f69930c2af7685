// \u escapes: their four hex digits, and the UTF-8 of the character they name. Shared by the reader,
// which unescapes a step at a time, and the kernels, which unescape in rounds.
#pragma once

#include <array>
#include <cstdint>

namespace corvane_bo_json::code_escapes {

// The value of each hex digit; `not_hex` for every other byte.
inline constexpr std::uint8_t not_hex = 0xFF;
inline constexpr std::array<std::uint8_t, 256> hex_digits = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(not_hex);
    for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<std::uint8_t>(10 + i);
        table['A' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return table;
}();

// The number the four hex digits at p spell, or `not_a_number` when one of them is not a digit.
inline constexpr unsigned not_a_number = 0x10000;
constexpr unsigned hex4(const char* p) noexcept {
    unsigned n = 0;
    unsigned seen = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned digit = hex_digits[static_cast<unsigned char>(p[i])];
        n = (n << 4) | (digit & 0xF);
        seen |= digit;
    }
    return (seen & 0xF0) != 0 ? not_a_number : n;
}

// A character one \u escape names alone: below 0x10000 and not half of a surrogate pair.
constexpr bool is_single(unsigned n) noexcept { return n < 0xD800 || (n >= 0xE000 && n < not_a_number); }

// The UTF-8 of cp at w, which has room for four bytes; where the writing goes on.
constexpr char* put_utf8(char32_t cp, char* w) noexcept {
    if (cp < 0x80) {
        *w++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *w++ = static_cast<char>(0xC0 | (cp >> 6));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *w++ = static_cast<char>(0xF0 | (cp >> 18));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return w;
}

}  // namespace corvane_bo_json::code_escapes
