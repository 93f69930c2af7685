#include "corvane_bo/json/scan.hpp"

#include <emmintrin.h>

#include <bit>
#include <cstdint>

namespace corvane_bo_json::scan {

namespace {

inline bool special_for_reader(unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c >= 0x80; }
inline bool special_for_writer(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

}  // namespace

const char* to_string_special(const char* p, const char* end) noexcept {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed comparison: bytes >= 0x80 are negative, so one test catches controls and non-ASCII.
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                          _mm_cmplt_epi8(v, space));
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
        if (mask != 0) return p + std::countr_zero(mask);
        p += 16;
    }
    while (p < end && !special_for_reader(static_cast<unsigned char>(*p))) ++p;
    return p;
}

const char* to_escape(const char* p, const char* end) noexcept {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i max_control = _mm_set1_epi8(0x1F);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control);
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), control);
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
        if (mask != 0) return p + std::countr_zero(mask);
        p += 16;
    }
    while (p < end && !special_for_writer(static_cast<unsigned char>(*p))) ++p;
    return p;
}

}  // namespace corvane_bo_json::scan
