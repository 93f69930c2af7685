// x86-64 lanes: SSE2, which every x86-64 has, and AVX2 for the functions that a run-time test lets
// use it. Comparisons are signed: bytes from 0x80 are negative, so one test catches controls and
// non-ASCII bytes alike.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace corvane_bo_json::scan::kernels {

struct Sse2Lanes {
    static constexpr int width = 16;
    using Block = __m128i;
    using Mask = std::uint32_t;

    static Block load(const char* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(char* w, Block v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v); }
    static Block splat(char c) noexcept { return _mm_set1_epi8(c); }
    static Mask mask(Block hits) noexcept { return static_cast<Mask>(_mm_movemask_epi8(hits)); }

    static Mask eq(Block v, char c) noexcept { return mask(_mm_cmpeq_epi8(v, splat(c))); }
    static Mask equal_lanes(Block a, Block b) noexcept { return mask(_mm_cmpeq_epi8(a, b)); }
    static Mask controls_or_high(Block v) noexcept { return mask(_mm_cmplt_epi8(v, splat(0x20))); }
    static Mask high(Block v) noexcept { return mask(v); }
    static Mask controls(Block v) noexcept {
        const Block max_control = splat(0x1F);
        return mask(_mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control));
    }
    static Mask two_byte_leads(Block v) noexcept {
        return mask(_mm_and_si128(_mm_cmpgt_epi8(v, splat(static_cast<char>(0xC1))),
                                  _mm_cmpgt_epi8(splat(static_cast<char>(0xE0)), v)));
    }
    static Mask continuations(Block v) noexcept { return mask(_mm_cmpgt_epi8(splat(static_cast<char>(0xC0)), v)); }
    static Mask reader_mask(Block v) noexcept {
        return mask(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, splat('"')), _mm_cmpeq_epi8(v, splat('\\'))),
                                 _mm_cmplt_epi8(v, splat(0x20))));
    }
    static Mask writer_mask(Block v) noexcept {
        const Block max_control = splat(0x1F);
        return mask(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, splat('"')), _mm_cmpeq_epi8(v, splat('\\'))),
                                 _mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control)));
    }

    // The words a and b side by side, a in the low lanes.
    static Block from_words(std::uint64_t a, std::uint64_t b) noexcept {
        return _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(a)), _mm_cvtsi64_si128(static_cast<long long>(b)));
    }
    static void store_eight(char* w, Block v) noexcept { _mm_storel_epi64(reinterpret_cast<__m128i*>(w), v); }
#if CORVANE_KERNELS_SSSE3
    // Lanes of v picked by `indices` (a lane of 0x80 becomes zero).
    CORVANE_TARGET_SSSE3 static Block spread(Block v, const unsigned char* indices) noexcept {
        return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(indices)));
    }
#endif
};

#if CORVANE_KERNELS_AVX2
struct Avx2Lanes {
    static constexpr int width = 32;
    using Block = __m256i;
    using Mask = std::uint32_t;

    CORVANE_TARGET_AVX2 static Block load(const char* p) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    CORVANE_TARGET_AVX2 static void store(char* w, Block v) noexcept {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), v);
    }
    CORVANE_TARGET_AVX2 static Block splat(char c) noexcept { return _mm256_set1_epi8(c); }
    CORVANE_TARGET_AVX2 static Mask mask(Block hits) noexcept { return static_cast<Mask>(_mm256_movemask_epi8(hits)); }

    CORVANE_TARGET_AVX2 static Mask eq(Block v, char c) noexcept { return mask(_mm256_cmpeq_epi8(v, splat(c))); }
    CORVANE_TARGET_AVX2 static Mask equal_lanes(Block a, Block b) noexcept { return mask(_mm256_cmpeq_epi8(a, b)); }
    CORVANE_TARGET_AVX2 static Mask controls_or_high(Block v) noexcept {
        return mask(_mm256_cmpgt_epi8(splat(0x20), v));
    }
    CORVANE_TARGET_AVX2 static Mask high(Block v) noexcept { return mask(v); }
    CORVANE_TARGET_AVX2 static Mask controls(Block v) noexcept {
        const Block max_control = splat(0x1F);
        return mask(_mm256_cmpeq_epi8(_mm256_max_epu8(v, max_control), max_control));
    }
    CORVANE_TARGET_AVX2 static Mask two_byte_leads(Block v) noexcept {
        return mask(_mm256_and_si256(_mm256_cmpgt_epi8(v, splat(static_cast<char>(0xC1))),
                                     _mm256_cmpgt_epi8(splat(static_cast<char>(0xE0)), v)));
    }
    CORVANE_TARGET_AVX2 static Mask continuations(Block v) noexcept {
        return mask(_mm256_cmpgt_epi8(splat(static_cast<char>(0xC0)), v));
    }
    CORVANE_TARGET_AVX2 static Mask reader_mask(Block v) noexcept {
        return mask(_mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, splat('"')), _mm256_cmpeq_epi8(v, splat('\\'))),
            _mm256_cmpgt_epi8(splat(0x20), v)));
    }
    CORVANE_TARGET_AVX2 static Mask writer_mask(Block v) noexcept {
        const Block max_control = splat(0x1F);
        return mask(_mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, splat('"')), _mm256_cmpeq_epi8(v, splat('\\'))),
            _mm256_cmpeq_epi8(_mm256_max_epu8(v, max_control), max_control)));
    }
};
#endif

#if CORVANE_KERNELS_VBMI2
// The 64 bytes at p written at w without those whose bits are set in `dropped`, by one compress
// instruction (AVX-512 VBMI2). Writes 64 bytes from w. The kernels that use it keep to AVX2 and call
// it: compiled for AVX-512 throughout, they were slower on texts with few escapes.
struct CompressLanes {
    CORVANE_TARGET_VBMI2 static void compact(const char* p, char* w, std::uint64_t dropped) noexcept {
        const __m512i v = _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(~dropped, v));
    }
};
#endif

}  // namespace corvane_bo_json::scan::kernels
