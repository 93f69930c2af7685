// Finding the bytes of a JSON string that need attention, sixteen at a time (64 at a time over long
// runs when the CPU has AVX2, chosen at run time). The first block is inline: most strings end in it.
#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace corvane_bo_json::scan {

// Bit i set when byte i of the block ends a plain run for the reader: a quote, a backslash, a control
// character or a non-ASCII byte (which the reader validates as UTF-8).
inline std::uint32_t reader_mask(__m128i v) noexcept {
    // Signed comparison: bytes >= 0x80 are negative, so one test catches controls and non-ASCII.
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
        _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
}

// Bits i and i + 1 set for each well-formed two-byte character at byte i of the block: a lead from C2
// to DF and a continuation byte (the accented letters of Spanish text). A lead at the last byte is
// left out, its continuation being beyond the block.
inline std::uint32_t two_byte_characters(__m128i v) noexcept {
    // Compared as signed bytes: continuations are below C0, two-byte leads between C1 and E0.
    const auto leads = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_and_si128(
        _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC1))), _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(0xE0)), v))));
    const auto continuations =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(0xC0)), v)));
    const std::uint32_t pairs = leads & (continuations >> 1);
    return pairs | (pairs << 1);
}

// Bit i set when byte i of the block must be escaped by the writer: a quote, a backslash or a
// control character.
inline std::uint32_t writer_mask(__m128i v) noexcept {
    const __m128i max_control = _mm_set1_epi8(0x1F);
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control);
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))), control);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
}

inline __m128i load16(const char* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(char* w, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v); }

// Copies sizeof(Word) <= n <= 2 * sizeof(Word) bytes as two words that may overlap.
template <class Word>
inline void copy_two_words(char* to, const char* from, std::size_t n) noexcept {
    Word head;
    Word tail;
    __builtin_memcpy(&head, from, sizeof head);
    __builtin_memcpy(&tail, from + n - sizeof tail, sizeof tail);
    __builtin_memcpy(to, &head, sizeof head);
    __builtin_memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

// Copies n < 64 bytes with a few overlapping word moves, so that short texts need no call.
inline void copy_short(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 16) {
        for (std::size_t i = 0; i + 16 < n; i += 16) store16(to + i, load16(from + i));
        store16(to + n - 16, load16(from + n - 16));
    } else if (n >= 8) {
        copy_two_words<std::uint64_t>(to, from, n);
    } else if (n >= 4) {
        copy_two_words<std::uint32_t>(to, from, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// The rest of `to_string_special` once a first block has been found plain.
const char* to_string_special_after(const char* p, const char* end) noexcept;
const char* to_string_special_short(const char* p, const char* end) noexcept;

// First byte in [p, end) that ends a plain run of a JSON string being read: a quote, a backslash,
// a control character, or a non-ASCII byte. `end` if none.
inline const char* to_string_special(const char* p, const char* end) noexcept {
    if (end - p >= 16) {
        if (const std::uint32_t mask = reader_mask(load16(p))) return p + std::countr_zero(mask);
        return to_string_special_after(p + 16, end);
    }
    return to_string_special_short(p, end);
}

// Where a block copy stopped, in the input and in the output. Returned by value so that callers keep
// both in registers.
struct Copied {
    const char* p;
    char* w;
};

// Copies the plain run at `p` (up to what `to_string_special` stops at) to `w`. Works in whole
// blocks, so it stops early, before the special byte, when fewer than 16 bytes of input or of room
// before `w_end` remain; the caller finishes such a run byte by byte. Bytes between the returned
// write position and `w_end` may have been overwritten.
Copied copy_plain_after(const char* p, const char* end, char* w, char* w_end) noexcept;

inline Copied copy_plain(const char* p, const char* end, char* w, char* w_end) noexcept {
    if (end - p >= 16 && w_end - w >= 16) {
        // The block is stored before it is tested: a special byte in it is simply overwritten later.
        const __m128i v = load16(p);
        store16(w, v);
        if (const std::uint32_t mask = reader_mask(v)) return {p + std::countr_zero(mask), w + std::countr_zero(mask)};
        return copy_plain_after(p + 16, end, w + 16, w_end);
    }
    return {p, w};
}

// As `copy_plain`, and also drops the backslash of each \" on the way: the one escape that JSON
// texts carried inside JSON strings (response and webhook bodies) are full of. Stops before the
// closing quote, any other escape, a control byte, or a non-ASCII one other than a well-formed
// two-byte character. Blocks of 32 with AVX2, of 16 with SSSE3 (each checked at run time; the
// sixteen-byte rounds take no two-byte characters); elsewhere it is `copy_plain`.
Copied copy_unescaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept;

// The writer's counterpart: copies while putting a backslash before each quote and backslash, eight
// bytes at a time with SSSE3 (checked at run time; elsewhere it is `copy_unescaped`). Stops before a
// control character, or when fewer than 8 bytes of input or 16 of room remain; the caller takes over
// there.
Copied copy_escaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept;

// First byte in [p, end) that the writer must escape: a quote, a backslash or a control character.
const char* to_escape(const char* p, const char* end) noexcept;

// The high bit of byte i is set when byte i of the word must be escaped by the writer. Borrows only
// run upwards, so the lowest set bit is exact (the only one callers look at).
inline std::uint64_t writer_word_mask(std::uint64_t x) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    const std::uint64_t quote = x ^ (ones * '"');
    const std::uint64_t backslash = x ^ (ones * '\\');
    return ((x - ones * 0x20) & ~x & highs) | ((quote - ones) & ~quote & highs) |
           ((backslash - ones) & ~backslash & highs);
}

// Whether any of the n < 16 bytes at p must be escaped, read in words without reading past them:
// the writer's many short strings.
inline bool short_needs_escape(const char* p, std::size_t n) noexcept {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (n >= 8) {
        __builtin_memcpy(&first, p, 8);
        __builtin_memcpy(&last, p + n - 8, 8);
    } else if (n >= 4) {
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        __builtin_memcpy(&a, p, 4);
        __builtin_memcpy(&b, p + n - 4, 4);
        // The upper half is filled with a byte that needs no escape.
        first = a | (std::uint64_t{0x41414141} << 32);
        last = b | (std::uint64_t{0x41414141} << 32);
    } else {
        std::uint64_t word = 0x4141414141414141;
        for (std::size_t i = 0; i < n; ++i)
            word = (word & ~(std::uint64_t{0xFF} << (8 * i))) | (std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i));
        first = last = word;
    }
    return (writer_word_mask(first) | writer_word_mask(last)) != 0;
}

Copied copy_unescaped_after(const char* p, const char* end, char* w, char* w_end) noexcept;

// As `copy_plain`, for the writer: stops before the first byte that must be escaped.
inline Copied copy_unescaped(const char* p, const char* end, char* w, char* w_end) noexcept {
    if (end - p >= 16 && w_end - w >= 16) {
        const __m128i v = load16(p);
        store16(w, v);
        if (const std::uint32_t mask = writer_mask(v)) return {p + std::countr_zero(mask), w + std::countr_zero(mask)};
        return copy_unescaped_after(p + 16, end, w + 16, w_end);
    }
    return {p, w};
}

}  // namespace corvane_bo_json::scan
