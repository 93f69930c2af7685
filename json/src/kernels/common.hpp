// What every set of kernels shares: which bytes stop a scan, and the unescaping's shuffle tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../code_escapes.hpp"
#include "corvane_bo/json/inlining.hpp"
#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json::scan::kernels {

enum class Stop { reader, writer };

template <Stop kind>
constexpr bool is_stop(char byte) noexcept {
    const auto c = static_cast<unsigned char>(byte);
    if constexpr (kind == Stop::reader)
        return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
    else
        return c == '"' || c == '\\' || c < 0x20;
}

template <Stop kind>
constexpr const char* find_bytewise(const char* p, const char* end) noexcept {
    while (p < end && !is_stop<kind>(*p)) ++p;
    return p;
}

// The n < 8 bytes at p copied to w, in two moves that may overlap (three single bytes below four);
// true when none of them must be escaped by the writer. Writes only [w, w + n).
inline bool copy_tiny_unescaped(const char* p, std::size_t n, char* w) noexcept {
    std::uint64_t word = 0;
    if (n >= 4) {
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        std::memcpy(w, &a, 4);
        std::memcpy(w + n - 4, &b, 4);
        word = a | (std::uint64_t{b} << 32);
    } else if (n > 0) {
        // The other bytes of the word are a letter: byte order does not matter, only whether any byte
        // must be escaped.
        const auto first = static_cast<unsigned char>(p[0]);
        const auto middle = static_cast<unsigned char>(p[n / 2]);
        const auto last = static_cast<unsigned char>(p[n - 1]);
        w[0] = static_cast<char>(first);
        w[n / 2] = static_cast<char>(middle);
        w[n - 1] = static_cast<char>(last);
        word = 0x4141414141000000 | first | (std::uint64_t{middle} << 8) | (std::uint64_t{last} << 16);
    } else {
        return true;
    }
    return writer_word_mask(word) == 0;
}

// The byte that the letter of a one-letter escape other than \" and \\ stands for.
constexpr char escaped_byte(char letter) noexcept {
    switch (letter) {
        case 'b': return '\b';
        case 'f': return '\f';
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        default: return letter;  // '/'
    }
}

// For each set of bytes to drop from eight (bit i: byte i), the shuffle indices of the bytes kept, in
// order, from the block's low half and from its high half; the lanes after them are cleared.
struct PackIndices {
    alignas(16) unsigned char low[256][16];
    alignas(16) unsigned char high[256][16];
    // How many of the eight are kept: a load where a count of bits would take several instructions.
    unsigned char kept[256];
};

inline constexpr PackIndices pack_indices = [] {
    PackIndices table{};
    for (unsigned drop = 0; drop < 256; ++drop) {
        unsigned lane = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (drop & (1u << byte)) continue;
            table.low[drop][lane] = static_cast<unsigned char>(byte);
            table.high[drop][lane] = static_cast<unsigned char>(byte + 8);
            ++lane;
        }
        table.kept[drop] = static_cast<unsigned char>(lane);
        for (; lane < 16; ++lane) table.low[drop][lane] = table.high[drop][lane] = 0x80;
    }
    return table;
}();

}  // namespace corvane_bo_json::scan::kernels
