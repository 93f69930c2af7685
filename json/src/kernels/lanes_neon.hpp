// aarch64 lanes: Advanced SIMD is part of the baseline, so nothing is tested at run time. NEON has
// no byte mask instruction; the mask is summed from lanes weighted by their bit.
#pragma once

#include <arm_neon.h>

#include <cstdint>

namespace corvane_bo_json::scan::kernels {

struct NeonLanes {
    static constexpr int width = 16;
    using Block = uint8x16_t;
    using Mask = std::uint32_t;

    static Block load(const char* p) noexcept { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p)); }
    static void store(char* w, Block v) noexcept { vst1q_u8(reinterpret_cast<std::uint8_t*>(w), v); }
    static Block splat(unsigned char c) noexcept { return vdupq_n_u8(c); }
    static Mask mask(Block hits) noexcept {
        alignas(16) static constexpr std::uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                                 1, 2, 4, 8, 16, 32, 64, 128};
        const Block bits = vandq_u8(hits, vld1q_u8(weights));
        return static_cast<Mask>(vaddv_u8(vget_low_u8(bits))) | (static_cast<Mask>(vaddv_u8(vget_high_u8(bits))) << 8);
    }

    static Mask eq(Block v, char c) noexcept { return mask(vceqq_u8(v, splat(static_cast<unsigned char>(c)))); }
    static Mask equal_lanes(Block a, Block b) noexcept { return mask(vceqq_u8(a, b)); }
    static Block controls_or_high_lanes(Block v) noexcept {
        return vorrq_u8(vcltq_u8(v, splat(0x20)), vcgeq_u8(v, splat(0x80)));
    }
    static Mask controls_or_high(Block v) noexcept { return mask(controls_or_high_lanes(v)); }
    static Mask high(Block v) noexcept { return mask(vcgeq_u8(v, splat(0x80))); }
    static Mask controls(Block v) noexcept { return mask(vcltq_u8(v, splat(0x20))); }
    static Mask two_byte_leads(Block v) noexcept { return mask(vandq_u8(vcgeq_u8(v, splat(0xC2)), vcleq_u8(v, splat(0xDF)))); }
    static Mask continuations(Block v) noexcept { return mask(vandq_u8(vcgeq_u8(v, splat(0x80)), vcleq_u8(v, splat(0xBF)))); }
    static Mask reader_mask(Block v) noexcept {
        return mask(vorrq_u8(vorrq_u8(vceqq_u8(v, splat('"')), vceqq_u8(v, splat('\\'))), controls_or_high_lanes(v)));
    }
    static Mask writer_mask(Block v) noexcept {
        return mask(vorrq_u8(vorrq_u8(vceqq_u8(v, splat('"')), vceqq_u8(v, splat('\\'))), vcltq_u8(v, splat(0x20))));
    }

    static Block from_words(std::uint64_t a, std::uint64_t b) noexcept {
        return vcombine_u8(vcreate_u8(a), vcreate_u8(b));
    }
    static void store_eight(char* w, Block v) noexcept { vst1_u8(reinterpret_cast<std::uint8_t*>(w), vget_low_u8(v)); }
    // Lanes of v picked by `indices` (a lane from 16 on, such as 0x80, becomes zero).
    static Block spread(Block v, const unsigned char* indices) noexcept { return vqtbl1q_u8(v, vld1q_u8(indices)); }
};

}  // namespace corvane_bo_json::scan::kernels
