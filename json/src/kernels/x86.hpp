// The x86-64 kernels: sixteen-byte lanes everywhere (SSE2 is the baseline), 32-byte lanes over long
// runs when the CPU has AVX2, the unescaping's shuffle when it has SSSE3 (or AVX2) and its compress
// instruction when it has AVX-512 VBMI2 too, each tested at run time. `best` false keeps to SSE2, as
// on a machine without any of them; `compress` false to the shuffle, as on one without VBMI2.
#pragma once

#include <bit>
#include <cstddef>

namespace corvane_bo_json::scan::kernels::x86 {

#if CORVANE_KERNELS_AVX2
inline bool has_avx2() noexcept { return __builtin_cpu_supports("avx2"); }
inline bool has_ssse3() noexcept { return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt"); }
#else
constexpr bool has_avx2() noexcept { return false; }
constexpr bool has_ssse3() noexcept { return false; }
#endif
#if CORVANE_KERNELS_VBMI2
inline bool has_vbmi2() noexcept {
    return has_avx2() && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2");
}
#else
constexpr bool has_vbmi2() noexcept { return false; }
#endif

// Below this many bytes the 32-byte loops do not pay for the switch to them.
inline constexpr std::ptrdiff_t wide_run = 64;

template <Stop kind, bool best>
const char* find(const char* p, const char* end) noexcept {
    if (end - p < 16) return find_bytewise<kind>(p, end);
    // Most strings end in their first block.
    if (const auto m = sse2::stops<kind>(Sse2Lanes::load(p))) return p + std::countr_zero(m);
    const char* const from = p;
    p += 16;
#if CORVANE_KERNELS_AVX2
    if (best && end - p >= wide_run && has_avx2()) {
        p = avx2::scan_blocks<kind>(p, end);
        if (p != end && is_stop<kind>(*p)) return p;
    }
#endif
    return sse2::finish_scan<kind>(from, sse2::scan_blocks<kind>(p, end), end);
}

template <Stop kind, bool best>
Copied copy(const char* p, const char* end, char* w, char* w_end) noexcept {
#if CORVANE_KERNELS_AVX2
    if (best && end - p >= wide_run && w_end - w >= wide_run && has_avx2()) {
        const Copied wide = avx2::copy_blocks<kind>(p, end, w, w_end);
        if (end - wide.p >= 32 && w_end - wide.w >= 32) return wide;  // stopped on a special byte
        p = wide.p;
        w = wide.w;
    }
#endif
    return sse2::copy_blocks<kind>(p, end, w, w_end);
}

template <bool best>
const char* to_string_special(const char* p, const char* end) noexcept {
    return find<Stop::reader, best>(p, end);
}
template <bool best>
const char* to_escape(const char* p, const char* end) noexcept {
    return find<Stop::writer, best>(p, end);
}
template <bool best>
Copied copy_plain(const char* p, const char* end, char* w, char* w_end) noexcept {
    return copy<Stop::reader, best>(p, end, w, w_end);
}
template <bool best>
Copied copy_unescaped(const char* p, const char* end, char* w, char* w_end) noexcept {
    return copy<Stop::writer, best>(p, end, w, w_end);
}

template <bool best>
const char* to_text_special(const char* p, const char* end) noexcept {
#if CORVANE_KERNELS_AVX2
    if (best && end - p >= wide_run && has_avx2()) {
        p = avx2::text_blocks(p, end);
        if (p != end && is_stop<Stop::reader>(*p)) return p;
    }
#endif
    return find_bytewise<Stop::reader>(sse2::text_blocks(p, end), end);
}

template <bool best>
Copied copy_to_escape(const char* p, const char* end, char* w) noexcept {
#if CORVANE_KERNELS_AVX2
    if (best && end - p >= wide_run && has_avx2()) return avx2::copy_run<Stop::writer>(p, end, w);
#endif
    return sse2::copy_run<Stop::writer>(p, end, w);
}

template <bool best, bool compress = best>
Copied copy_unescaping(const char* p, const char* end, char* w, char* w_end) noexcept {
#if CORVANE_KERNELS_VBMI2
    if (compress && has_vbmi2()) return vbmi2::unescape_text(p, end, w, w_end);
#endif
#if CORVANE_KERNELS_AVX2
    if (best && has_avx2()) return avx2::unescape_text(p, end, w, w_end);
#endif
#if CORVANE_KERNELS_SSSE3
    if (best && has_ssse3()) return ssse3::unescape_text(p, end, w, w_end);
#endif
    return sse2::unescape_text(p, end, w, w_end);
}

template <bool best>
Copied copy_escaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept {
#if CORVANE_KERNELS_AVX2
    if (best && end - p >= wide_run && w_end - w >= 3 * 32 && has_avx2()) {
        const Copied wide = avx2::escape_blocks(p, end, w, w_end);
        if (wide.p != end && static_cast<unsigned char>(*wide.p) < 0x20) return wide;  // stopped on a control
        p = wide.p;
        w = wide.w;
    }
#endif
    return sse2::escape_text(p, end, w, w_end);
}

}  // namespace corvane_bo_json::scan::kernels::x86
