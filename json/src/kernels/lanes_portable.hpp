// Word-at-a-time lanes in standard C++: eight bytes in a 64-bit word, each test exact per byte (no
// carry or borrow crosses from one byte into the next), so every bit of a mask can be trusted.
#pragma once

#include <cstdint>
#include <cstring>

#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json::scan::kernels {

struct WordLanes {
    static constexpr int width = 8;
    using Block = std::uint64_t;
    using Mask = std::uint32_t;

    static constexpr std::uint64_t ones = 0x0101010101010101;
    static constexpr std::uint64_t highs = 0x8080808080808080;
    static constexpr std::uint64_t lows = 0x7F7F7F7F7F7F7F7F;

    static Block load(const char* p) noexcept { return load_word(p); }
    static void store(char* w, Block v) noexcept {
        if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
        std::memcpy(w, &v, sizeof v);
    }

    // One bit per byte from the high bit of each byte of `hits`: each byte's bit is carried to its
    // own place in the top byte, and no two products meet.
    static Mask mask(std::uint64_t hits) noexcept {
        return static_cast<Mask>(((hits & highs) >> 7) * 0x0102040810204080 >> 56);
    }
    // The high bit of each byte that is zero.
    static std::uint64_t zero_bytes(std::uint64_t y) noexcept { return ~(((y & lows) + lows) | y) & highs; }
    static std::uint64_t equal(Block v, unsigned char c) noexcept { return zero_bytes(v ^ (ones * c)); }
    // The high bit of each byte whose low seven bits are at least 0x20.
    static std::uint64_t low_seven_from_space(Block v) noexcept { return ((v & lows) + ones * 0x60) & highs; }

    static Mask eq(Block v, char c) noexcept { return mask(equal(v, static_cast<unsigned char>(c))); }
    static Mask equal_lanes(Block a, Block b) noexcept { return mask(zero_bytes(a ^ b)); }
    // Controls and every byte from 0x80.
    static Mask controls_or_high(Block v) noexcept { return mask(v | ~low_seven_from_space(v)); }
    static Mask high(Block v) noexcept { return mask(v); }
    static Mask two_byte_leads(Block v) noexcept {
        return mask(equal(v & (ones * 0xE0), 0xC0) & ~zero_bytes(v & (ones * 0x1E)));
    }
    static Mask continuations(Block v) noexcept { return mask(equal(v & (ones * 0xC0), 0x80)); }
    static Mask controls(Block v) noexcept { return mask(~v & ~low_seven_from_space(v)); }
    static Mask reader_mask(Block v) noexcept {
        return mask(equal(v, '"') | equal(v, '\\') | v | ~low_seven_from_space(v));
    }
    static Mask writer_mask(Block v) noexcept {
        return mask(equal(v, '"') | equal(v, '\\') | (~v & ~low_seven_from_space(v)));
    }
};

}  // namespace corvane_bo_json::scan::kernels
