// What every set of kernels shares: which bytes stop a scan, and the writer's shuffle table.
#pragma once

#include <cstdint>

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

// For each set of bytes among eight that take a backslash before them (bit i: byte i), the shuffle
// indices that spread the eight out with lane 8 (a backslash) before each of those; the lanes after
// them are cleared.
struct SpreadIndices {
    alignas(16) unsigned char lanes[256][16];
};

inline constexpr SpreadIndices spread_indices = [] {
    SpreadIndices table{};
    for (unsigned escaped = 0; escaped < 256; ++escaped) {
        unsigned lane = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (escaped & (1u << byte)) table.lanes[escaped][lane++] = 8;
            table.lanes[escaped][lane++] = static_cast<unsigned char>(byte);
        }
        while (lane < 16) table.lanes[escaped][lane++] = 0x80;
    }
    return table;
}();

// For each set of bytes to drop from eight (bit i: byte i), the shuffle indices of the bytes kept, in
// order, from the block's low half and from its high half; the lanes after them are cleared.
struct PackIndices {
    alignas(16) unsigned char low[256][16];
    alignas(16) unsigned char high[256][16];
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
        for (; lane < 16; ++lane) table.low[drop][lane] = table.high[drop][lane] = 0x80;
    }
    return table;
}();

}  // namespace corvane_bo_json::scan::kernels
