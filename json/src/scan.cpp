#include "corvane_bo/json/scan.hpp"

#include <immintrin.h>

#include <array>
#include <cstring>

namespace corvane_bo_json::scan {

namespace {

inline bool special_for_reader(unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c >= 0x80; }

// Below this many bytes the 32-byte loops do not pay for the switch to them.
constexpr std::ptrdiff_t wide_run = 64;

__attribute__((target("avx2"))) inline __m256i reader_hits(__m256i v) {
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))),
        _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v));
}

__attribute__((target("avx2"))) inline __m256i writer_hits(__m256i v) {
    const __m256i max_control = _mm256_set1_epi8(0x1F);
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))),
        _mm256_cmpeq_epi8(_mm256_max_epu8(v, max_control), max_control));
}

enum class Scan { reader, writer };

template <Scan kind>
__attribute__((target("avx2"))) inline __m256i hits(__m256i v) {
    if constexpr (kind == Scan::reader)
        return reader_hits(v);
    else
        return writer_hits(v);
}

// 64 bytes a round, two 32-byte loads folded into one test; only called with AVX2 present.
template <Scan kind>
__attribute__((target("avx2"))) const char* wide_scan(const char* p, const char* end) noexcept {
    while (end - p >= 64) {
        const __m256i a = hits<kind>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
        const __m256i b = hits<kind>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
        if (!_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_or_si256(a, b))) {
            const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(a));
            if (low != 0) return p + std::countr_zero(low);
            return p + 32 + std::countr_zero(static_cast<std::uint32_t>(_mm256_movemask_epi8(b)));
        }
        p += 64;
    }
    while (end - p >= 32) {
        const auto mask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(hits<kind>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)))));
        if (mask != 0) return p + std::countr_zero(mask);
        p += 32;
    }
    return p;
}

template <Scan kind>
__attribute__((target("avx2"))) Copied wide_copy(const char* p, const char* end, char* w, char* w_end) noexcept {
    while (end - p >= 32 && w_end - w >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), v);
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hits<kind>(v)));
        if (mask != 0) return {p + std::countr_zero(mask), w + std::countr_zero(mask)};
        p += 32;
        w += 32;
    }
    return {p, w};
}

bool has_avx2() noexcept { return __builtin_cpu_supports("avx2"); }
bool has_ssse3_popcnt() noexcept { return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt"); }

// For each set of bytes to drop from eight (bit i: byte i), the pshufb indices of the bytes kept, in
// order; the lanes after them are cleared.
constexpr std::array<std::uint64_t, 256> pack_indices = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned drop = 0; drop < 256; ++drop) {
        std::uint64_t indices = ~std::uint64_t{0};  // 0xFF clears a lane
        unsigned lane = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (drop & (1u << byte)) continue;
            indices &= ~(std::uint64_t{0xFF} << (8 * lane));
            indices |= std::uint64_t{byte} << (8 * lane);
            ++lane;
        }
        table[drop] = indices;
    }
    return table;
}();

__attribute__((target("ssse3,popcnt"))) Copied unescape_quote_blocks(const char* p, const char* end, char* w,
                                                                      char* w_end) noexcept {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    int plain_blocks = 0;
    while (end - p >= 16 && w_end - w >= 16) {
        const __m128i v = load16(p);
        const auto quotes = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
        const auto backslashes = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, backslash)));
        const auto others = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(v, space)));
        // A backslash right before a quote starts a \" escape; any other backslash (one that ends the
        // block included), an unescaped quote, a control or non-ASCII byte stops the block there.
        // Escapes are only taken before the first stop, where every backslash seen starts one.
        const std::uint32_t escapes = backslashes & (quotes >> 1);
        const std::uint32_t stops = (backslashes & ~escapes) | (quotes & ~(escapes << 1)) | others;
        const int kept = stops != 0 ? std::countr_zero(stops) : 16;
        const std::uint32_t dropped = escapes & ((1u << kept) - 1);
        if (dropped == 0) {
            store16(w, v);
            // A long plain run is left to the caller's wider copy.
            if (kept == 16 && ++plain_blocks == 4) {
                p += 16;
                w += 16;
                break;
            }
        } else {
            plain_blocks = 0;
            const __m128i low = _mm_shuffle_epi8(v, _mm_cvtsi64_si128(static_cast<long long>(pack_indices[dropped & 0xFF])));
            const __m128i high = _mm_shuffle_epi8(
                v, _mm_or_si128(_mm_cvtsi64_si128(static_cast<long long>(pack_indices[dropped >> 8])), _mm_set1_epi8(8)));
            const int low_count = 8 - std::popcount(dropped & 0xFF);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w), low);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w + low_count), high);
        }
        p += kept;
        w += kept - std::popcount(dropped);
        if (kept < 16) {
            // A \" cut by the end of the block is taken here rather than left to the caller.
            if (kept == 15 && *p == '\\' && end - p >= 2 && p[1] == '"') {
                *w++ = '"';
                p += 2;
                continue;
            }
            break;
        }
    }
    return {p, w};
}

// The same as `unescape_quote_blocks`, 32 bytes a round. The block is stored whole, and then the
// bytes after each backslash dropped are stored again one place further back: one load and one store
// per escape, reading up to 63 bytes ahead and writing up to 32 past the kept bytes.
__attribute__((target("avx2,popcnt"))) Copied unescape_quote_blocks_wide(const char* p, const char* end, char* w,
                                                                          char* w_end) noexcept {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i space = _mm256_set1_epi8(0x20);
    // Compared as signed bytes: continuations are below C0, two-byte leads between C1 and E0.
    const __m256i continuation_ceiling = _mm256_set1_epi8(static_cast<char>(0xC0));
    const __m256i lead_floor = _mm256_set1_epi8(static_cast<char>(0xC1));
    const __m256i lead_ceiling = _mm256_set1_epi8(static_cast<char>(0xE0));
    int plain_blocks = 0;
    while (end - p >= 64 && w_end - w >= 64) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const auto quotes = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, quote)));
        const auto backslashes = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, backslash)));
        // Signed bytes: controls and every byte from 0x80 are below the space.
        std::uint32_t others = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(space, v)));
        if (others != 0) {
            // Two-byte characters (a lead from C2 to DF, then a continuation byte: the accented
            // letters of Spanish text) pass as they are; longer and malformed ones stop the block, for
            // the caller to check and place.
            const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
            const auto leads = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                _mm256_and_si256(_mm256_cmpgt_epi8(v, lead_floor), _mm256_cmpgt_epi8(lead_ceiling, v))));
            const auto continuations =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(continuation_ceiling, v)));
            const std::uint32_t pairs = leads & (continuations >> 1);
            others = (others & ~high) | (high & ~(pairs | (pairs << 1)));
        }
        const std::uint32_t escapes = backslashes & (quotes >> 1);
        const std::uint32_t stops = (backslashes & ~escapes) | (quotes & ~(escapes << 1)) | others;
        const int kept = stops != 0 ? std::countr_zero(stops) : 32;
        const std::uint32_t dropped = kept == 32 ? escapes : escapes & ((1u << kept) - 1);
        if (dropped == 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), v);
            // A long plain run is left to the caller's wider copy.
            if (kept == 32 && ++plain_blocks == 2) {
                p += 32;
                w += 32;
                break;
            }
        } else {
            plain_blocks = 0;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), v);
            int shift = 0;
            for (std::uint32_t rest = dropped; rest != 0; rest &= rest - 1) {
                const int at = std::countr_zero(rest) + 1;
                ++shift;
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(w + at - shift),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at)));
            }
        }
        p += kept;
        w += kept - std::popcount(dropped);
        if (kept < 32) {
            // A \" cut by the end of the block is taken here rather than left to the caller.
            if (kept == 31 && *p == '\\' && end - p >= 2 && p[1] == '"') {
                *w++ = '"';
                p += 2;
                continue;
            }
            break;
        }
    }
    return {p, w};
}

// For each set of bytes among eight that take a backslash before them (bit i: byte i), the pshufb
// indices that spread the eight out with lane 8 (a backslash) before each of those.
struct SpreadIndices {
    alignas(16) std::uint8_t lanes[256][16];
};

constexpr SpreadIndices spread_indices = [] {
    SpreadIndices table{};
    for (unsigned escaped = 0; escaped < 256; ++escaped) {
        unsigned lane = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (escaped & (1u << byte)) table.lanes[escaped][lane++] = 8;
            table.lanes[escaped][lane++] = static_cast<std::uint8_t>(byte);
        }
        while (lane < 16) table.lanes[escaped][lane++] = 0x80;
    }
    return table;
}();

__attribute__((target("ssse3,popcnt"))) Copied escape_quote_blocks(const char* p, const char* end, char* w,
                                                                    char* w_end) noexcept {
    const __m128i backslashes = _mm_set1_epi8('\\');
    const __m128i quotes = _mm_set1_epi8('"');
    const __m128i max_control = _mm_set1_epi8(0x1F);
    while (end - p >= 8 && w_end - w >= 16) {
        // Eight bytes, with backslashes in the upper lanes for the shuffle to draw on.
        const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), backslashes);
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control);
        const __m128i quote_or_backslash = _mm_or_si128(_mm_cmpeq_epi8(v, quotes), _mm_cmpeq_epi8(v, backslashes));
        const auto controls = static_cast<std::uint32_t>(_mm_movemask_epi8(control)) & 0xFF;
        const auto escaped = static_cast<std::uint32_t>(_mm_movemask_epi8(quote_or_backslash)) & 0xFF;
        // Bytes up to a control character go; the caller writes the control's escape.
        const int kept = controls != 0 ? std::countr_zero(controls) : 8;
        const std::uint32_t taken = escaped & ((1u << kept) - 1);
        if (taken == 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w), v);
        } else {
            // Lanes past the bytes taken hold junk that later writes cover.
            const auto* indices = reinterpret_cast<const __m128i*>(spread_indices.lanes[taken]);
            store16(w, _mm_shuffle_epi8(v, _mm_load_si128(indices)));
        }
        p += kept;
        w += kept + std::popcount(taken);
        if (kept < 8) break;
    }
    return {p, w};
}

template <Scan kind>
Copied copy_blocks(const char* p, const char* end, char* w, char* w_end) noexcept {
    if (end - p >= wide_run && w_end - w >= wide_run && has_avx2()) {
        const Copied wide = wide_copy<kind>(p, end, w, w_end);
        p = wide.p;
        w = wide.w;
        if (end - p >= 32 && w_end - w >= 32) return wide;  // stopped on a special byte
    }
    while (end - p >= 16 && w_end - w >= 16) {
        // The block is stored before it is tested: a special byte in it is simply overwritten later.
        const __m128i block = load16(p);
        store16(w, block);
        const std::uint32_t mask = kind == Scan::reader ? reader_mask(block) : writer_mask(block);
        if (mask != 0) return {p + std::countr_zero(mask), w + std::countr_zero(mask)};
        p += 16;
        w += 16;
    }
    return {p, w};
}

}  // namespace

Copied copy_escaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept {
    if (!has_ssse3_popcnt()) return copy_unescaped(p, end, w, w_end);
    return escape_quote_blocks(p, end, w, w_end);
}

Copied copy_plain_after(const char* p, const char* end, char* w, char* w_end) noexcept {
    return copy_blocks<Scan::reader>(p, end, w, w_end);
}

Copied copy_unescaped_after(const char* p, const char* end, char* w, char* w_end) noexcept {
    return copy_blocks<Scan::writer>(p, end, w, w_end);
}

Copied copy_unescaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept {
    if (!has_ssse3_popcnt()) return copy_plain(p, end, w, w_end);
    const bool wide = has_avx2();
    Copied blocks = wide ? unescape_quote_blocks_wide(p, end, w, w_end) : Copied{p, w};
    // The last bytes of a text or of the room, or a machine without AVX2: sixteen at a time.
    if (!wide || end - blocks.p < 64 || w_end - blocks.w < 64)
        blocks = unescape_quote_blocks(blocks.p, end, blocks.w, w_end);
    // Stopped inside a long plain run (a Base64 image in a body): it goes on in wider steps.
    if (end - blocks.p >= 16 && w_end - blocks.w >= 16 && reader_mask(load16(blocks.p)) == 0)
        return copy_plain(blocks.p, end, blocks.w, w_end);
    return blocks;
}

const char* to_string_special_after(const char* p, const char* end) noexcept {
    if (end - p >= wide_run && has_avx2()) p = wide_scan<Scan::reader>(p, end);
    while (end - p >= 16) {
        if (const std::uint32_t mask = reader_mask(load16(p))) return p + std::countr_zero(mask);
        p += 16;
    }
    // The last bytes as one block ending at `end`: everything before them is already known plain.
    if (p != end) {
        const char* last = end - 16;
        const std::uint32_t mask = reader_mask(load16(last)) >> (p - last);
        return mask != 0 ? p + std::countr_zero(mask) : end;
    }
    return end;
}

// Only near the end of a text: nothing may be read past it.
const char* to_string_special_short(const char* p, const char* end) noexcept {
    while (p < end && !special_for_reader(static_cast<unsigned char>(*p))) ++p;
    return p;
}

const char* to_escape(const char* p, const char* end) noexcept {
    const std::ptrdiff_t n = end - p;
    if (n >= 16) {
        if (const std::uint32_t mask = writer_mask(load16(p))) return p + std::countr_zero(mask);
        p += 16;
        if (end - p >= wide_run && has_avx2()) p = wide_scan<Scan::writer>(p, end);
        while (end - p >= 16) {
            if (const std::uint32_t mask = writer_mask(load16(p))) return p + std::countr_zero(mask);
            p += 16;
        }
        if (p != end) {
            const char* last = end - 16;
            const std::uint32_t mask = writer_mask(load16(last)) >> (p - last);
            return mask != 0 ? p + std::countr_zero(mask) : end;
        }
        return end;
    }
    if (n >= 8) {
        // Two words that overlap cover 8 to 15 bytes; a hit in the second word that the first also
        // covers would have been found in the first.
        std::uint64_t first;
        std::uint64_t last;
        std::memcpy(&first, p, 8);
        std::memcpy(&last, end - 8, 8);
        if (const std::uint64_t mask = writer_word_mask(first)) return p + std::countr_zero(mask) / 8;
        if (const std::uint64_t mask = writer_word_mask(last)) return end - 8 + std::countr_zero(mask) / 8;
        return end;
    }
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++p;
    }
    return p;
}

}  // namespace corvane_bo_json::scan
