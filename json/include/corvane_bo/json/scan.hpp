// Finding and copying the bytes of JSON strings that need attention. The vector kernels behind these
// functions live in json/src/scan.cpp, one implementation per instruction set (x86-64 with SSE2 and
// AVX2 chosen at run time, aarch64 with NEON, and a portable one in standard C++); the extension is
// linked whole-program, so that the small ones still inline into the reader and the writer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace corvane_bo_json::scan {

// Where a block copy stopped, in the input and in the output. Returned by value so that callers keep
// both in registers.
struct Copied {
    const char* p;
    char* w;
};

// First byte in [p, end) that ends a plain run of a JSON string being read: a quote, a backslash,
// a control character, or a non-ASCII byte. `end` if none.
const char* to_string_special(const char* p, const char* end) noexcept;

// As `to_string_special`, stepping over well-formed two-byte characters (accented letters) in whole
// blocks; it may still stop at the lead of one, where a block or the text's last bytes cut it.
const char* to_text_special(const char* p, const char* end) noexcept;

// Bit i set when byte i of the 16 at p ends a plain run for the reader, a well-formed two-byte
// character (a lead from C2 to DF and a continuation byte: the accented letters of Spanish text)
// counting as plain. A lead at the last byte is a stop, its continuation being beyond the block.
std::uint32_t string_stops16(const char* p) noexcept;

// Copies the plain run at `p` (up to what `to_string_special` stops at) to `w`. Works in whole
// blocks, so it may stop early, before the special byte, when fewer than 16 bytes of input or of
// room before `w_end` remain; the caller finishes such a run byte by byte. Bytes between the returned
// write position and `w_end` may have been overwritten.
Copied copy_plain(const char* p, const char* end, char* w, char* w_end) noexcept;

// Copies a JSON string's body from p, turning each one-letter escape (\" \\ \/ \b \f \n \r \t) into
// its byte on the way: JSON texts carried inside JSON strings (response and webhook bodies) are full
// of \". Stops at the first byte the caller must look at: the closing quote, the backslash of a \u
// or of a bad escape (one cut by `end` included), a control byte, or a non-ASCII one other than a
// well-formed two-byte character; else at `end`, or where the room ends (it reads no more bytes
// than [w, w_end) holds, unescaping never lengthening a text). Bytes between the returned write
// position and `w_end` may have been overwritten.
Copied copy_unescaping(const char* p, const char* end, char* w, char* w_end) noexcept;

// The room `copy_escaping_quotes` needs to go on.
inline constexpr std::size_t escape_room = 48;

// The writer's counterpart: copies while putting a backslash before each quote and backslash, in
// whole blocks, a block with escapes costing about one more load and store per escape. Stops at
// `end`, before a control character (for the caller to escape), or when fewer than `escape_room`
// bytes of room remain. Bytes between the returned write position and `w_end` may have been
// overwritten.
Copied copy_escaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept;

// First byte in [p, end) that the writer must escape: a quote, a backslash or a control character.
const char* to_escape(const char* p, const char* end) noexcept;

// As `copy_plain`, for the writer: stops before the first byte that must be escaped.
Copied copy_unescaped(const char* p, const char* end, char* w, char* w_end) noexcept;

// The writer's plain run copied whole in one pass: up to the first byte to escape, or to `end`.
// `w` must have room for all of [p, end), which the copy may write up to.
Copied copy_to_escape(const char* p, const char* end, char* w) noexcept;

// The writer's short strings: copies the n < 64 bytes at p to w, writing nothing past w + n, and
// tells whether none of them must be escaped.
bool copy_short_unescaped(const char* p, std::size_t n, char* w) noexcept;

// First byte from 0x80 in [p, end), or `end`.
const char* to_non_ascii(const char* p, const char* end) noexcept;

// Every implementation built into this library, for the tests that hold them to one another. The
// functions above use the best one the machine runs.
struct Kernels {
    std::string_view name;
    const char* (*to_string_special)(const char*, const char*) noexcept;
    const char* (*to_text_special)(const char*, const char*) noexcept;
    std::uint32_t (*string_stops16)(const char*) noexcept;
    Copied (*copy_plain)(const char*, const char*, char*, char*) noexcept;
    Copied (*copy_unescaping)(const char*, const char*, char*, char*) noexcept;
    Copied (*copy_escaping_quotes)(const char*, const char*, char*, char*) noexcept;
    const char* (*to_escape)(const char*, const char*) noexcept;
    Copied (*copy_unescaped)(const char*, const char*, char*, char*) noexcept;
    Copied (*copy_to_escape)(const char*, const char*, char*) noexcept;
    bool (*copy_short_unescaped)(const char*, std::size_t, char*) noexcept;
    const char* (*to_non_ascii)(const char*, const char*) noexcept;
};
// Those this machine can run; the portable one first.
std::span<const Kernels> implementations() noexcept;
// The one the functions above use.
std::string_view active_implementation() noexcept;

// Copies sizeof(Word) <= n <= 2 * sizeof(Word) bytes as two words that may overlap.
template <class Word>
inline void copy_two_words(char* to, const char* from, std::size_t n) noexcept {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

struct Bytes16 {
    char bytes[16];
};

// Copies n < 64 bytes with a few overlapping word moves, so that short texts need no call.
inline void copy_short(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 16) {
        for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, from + i, 16);
        copy_two_words<Bytes16>(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        copy_two_words<std::uint64_t>(to, from, n);
    } else if (n >= 4) {
        copy_two_words<std::uint32_t>(to, from, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// A word of memory with byte i at bits 8i to 8i + 7, whatever the machine's byte order.
inline std::uint64_t load_word(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

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

}  // namespace corvane_bo_json::scan
