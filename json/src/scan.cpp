#include "corvane_bo/json/scan.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#include "kernels/targets.hpp"
#include "kernels/common.hpp"
#include "kernels/lanes_portable.hpp"
#if CORVANE_KERNELS_X86
#include "kernels/lanes_x86.hpp"
#endif
#if CORVANE_KERNELS_NEON
#include "kernels/lanes_neon.hpp"
#endif

namespace corvane_bo_json::scan::kernels {

#define CORVANE_KERNEL
#define CORVANE_KERNEL_SPREAD 0
namespace portable {
using Lanes = WordLanes;
#include "kernels/loops.inc"
}  // namespace portable

#if CORVANE_KERNELS_X86
namespace sse2 {
using Lanes = Sse2Lanes;
#include "kernels/loops.inc"
}  // namespace sse2
#endif
#undef CORVANE_KERNEL
#undef CORVANE_KERNEL_SPREAD

#if CORVANE_KERNELS_AVX2
#define CORVANE_KERNEL CORVANE_TARGET_AVX2_POPCNT
#define CORVANE_KERNEL_SPREAD 1
namespace avx2 {
using Lanes = Avx2Lanes;
using SpreadLanes = Sse2Lanes;
#include "kernels/loops.inc"
}  // namespace avx2
// The same AVX2 kernels, but for an unescaped round packed by a compress instruction.
#if CORVANE_KERNELS_VBMI2
#define CORVANE_KERNEL_COMPRESS
namespace vbmi2 {
using Lanes = Avx2Lanes;
using SpreadLanes = Sse2Lanes;
#include "kernels/loops.inc"
}  // namespace vbmi2
#undef CORVANE_KERNEL_COMPRESS
#endif
#undef CORVANE_KERNEL
#undef CORVANE_KERNEL_SPREAD
#endif

#if CORVANE_KERNELS_SSSE3
#define CORVANE_KERNEL CORVANE_TARGET_SSSE3_POPCNT
#define CORVANE_KERNEL_SPREAD 1
namespace ssse3 {
using Lanes = Sse2Lanes;
using SpreadLanes = Sse2Lanes;
#include "kernels/loops.inc"
}  // namespace ssse3
#undef CORVANE_KERNEL
#undef CORVANE_KERNEL_SPREAD
#endif

#if CORVANE_KERNELS_NEON
#define CORVANE_KERNEL
#define CORVANE_KERNEL_SPREAD 1
namespace neon {
using Lanes = NeonLanes;
using SpreadLanes = NeonLanes;
#include "kernels/loops.inc"
}  // namespace neon
#undef CORVANE_KERNEL
#undef CORVANE_KERNEL_SPREAD
#endif

}  // namespace corvane_bo_json::scan::kernels

#if CORVANE_KERNELS_X86
#include "kernels/x86.hpp"
#endif

namespace corvane_bo_json::scan {

namespace {

namespace k = kernels;

// A set of lanes used alone.
#define CORVANE_WHOLE_KERNELS(name, ns)                                                                     \
    Kernels {                                                                                               \
        name, &k::ns::whole::to_string_special, &k::ns::whole::to_text_special, &k::ns::string_stops<16>,   \
            &k::ns::whole::copy_plain, &k::ns::whole::copy_unescaping, &k::ns::whole::copy_escaping_quotes, \
            &k::ns::whole::to_escape, &k::ns::whole::copy_unescaped, &k::ns::whole::copy_to_escape,         \
            &k::ns::whole::copy_short_unescaped, &k::ns::to_non_ascii                                       \
    }

#if CORVANE_KERNELS_X86
template <bool best, bool compress = best>
constexpr Kernels x86_kernels(std::string_view name) {
    return {name,
            &k::x86::to_string_special<best>,
            &k::x86::to_text_special<best>,
            &k::sse2::string_stops<16>,
            &k::x86::copy_plain<best>,
            &k::x86::copy_unescaping<best, compress>,
            &k::x86::copy_escaping_quotes<best>,
            &k::x86::to_escape<best>,
            &k::x86::copy_unescaped<best>,
            &k::x86::copy_to_escape<best>,
            &k::sse2::whole::copy_short_unescaped,
            &k::sse2::to_non_ascii};
}
#endif

constexpr std::array all_kernels = {
    CORVANE_WHOLE_KERNELS("portable", portable),
#if CORVANE_KERNELS_X86
    x86_kernels<false>("x86-64 SSE2"),
    x86_kernels<true, false>("x86-64 SSE2 with AVX2 and SSSE3 where the CPU has them"),
    x86_kernels<true>("x86-64 SSE2 with AVX2, SSSE3 and AVX-512 VBMI2 where the CPU has them"),
#endif
#if CORVANE_KERNELS_NEON
    CORVANE_WHOLE_KERNELS("aarch64 NEON", neon),
#endif
};

// What the public functions below forward to.
#if CORVANE_KERNELS_X86
namespace active {
using k::sse2::string_stops;
using k::sse2::to_non_ascii;
using k::sse2::whole::copy_short_unescaped;
constexpr auto to_string_special = &k::x86::to_string_special<true>;
constexpr auto to_escape = &k::x86::to_escape<true>;
constexpr auto to_text_special = &k::x86::to_text_special<true>;
constexpr auto copy_plain = &k::x86::copy_plain<true>;
constexpr auto copy_unescaped = &k::x86::copy_unescaped<true>;
constexpr auto copy_to_escape = &k::x86::copy_to_escape<true>;
constexpr auto copy_unescaping = &k::x86::copy_unescaping<true>;
constexpr auto copy_escaping_quotes = &k::x86::copy_escaping_quotes<true>;
}  // namespace active
#elif CORVANE_KERNELS_NEON
namespace active {
using namespace k::neon;
using namespace k::neon::whole;
}  // namespace active
#else
namespace active {
using namespace k::portable;
using namespace k::portable::whole;
}  // namespace active
#endif

}  // namespace

const char* to_string_special(const char* p, const char* end) noexcept { return active::to_string_special(p, end); }
const char* to_text_special(const char* p, const char* end) noexcept { return active::to_text_special(p, end); }
std::uint32_t string_stops16(const char* p) noexcept { return active::string_stops<16>(p); }
Copied copy_plain(const char* p, const char* end, char* w, char* w_end) noexcept {
    return active::copy_plain(p, end, w, w_end);
}
Copied copy_unescaping(const char* p, const char* end, char* w, char* w_end) noexcept {
    return active::copy_unescaping(p, end, w, w_end);
}
Copied copy_escaping_quotes(const char* p, const char* end, char* w, char* w_end) noexcept {
    return active::copy_escaping_quotes(p, end, w, w_end);
}
const char* to_escape(const char* p, const char* end) noexcept { return active::to_escape(p, end); }
Copied copy_unescaped(const char* p, const char* end, char* w, char* w_end) noexcept {
    return active::copy_unescaped(p, end, w, w_end);
}
Copied copy_to_escape(const char* p, const char* end, char* w) noexcept { return active::copy_to_escape(p, end, w); }
bool copy_short_unescaped(const char* p, std::size_t n, char* w) noexcept { return active::copy_short_unescaped(p, n, w); }
const char* to_non_ascii(const char* p, const char* end) noexcept { return active::to_non_ascii(p, end); }

std::span<const Kernels> implementations() noexcept {
#if CORVANE_KERNELS_X86
    // The kernels that use AVX2 and SSSE3 where the CPU has them are the SSE2 ones on other CPUs,
    // and those that use VBMI2 too the AVX2 ones.
    if (!k::x86::has_avx2() || !k::x86::has_ssse3()) return std::span(all_kernels).first(2);
    if (!k::x86::has_vbmi2()) return std::span(all_kernels).first(3);
#endif
    return all_kernels;
}

std::string_view active_implementation() noexcept {
#if CORVANE_KERNELS_X86
    if (!k::x86::has_avx2() || !k::x86::has_ssse3()) return "x86-64 SSE2";
    return k::x86::has_vbmi2() ? "x86-64 AVX2 with AVX-512 VBMI2" : "x86-64 AVX2";
#elif CORVANE_KERNELS_NEON
    return "aarch64 NEON";
#else
    return "portable";
#endif
}

}  // namespace corvane_bo_json::scan
