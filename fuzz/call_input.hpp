// How a call fuzz input is laid out: the first byte picks the operation name from this table (the
// real names, then near misses that must be refused), the rest is the payload. Shared by the fuzz
// target, the hostile tests that replay its regressions, and make_seeds.py (which reads the table).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane_fuzz {

// Keep one name per line: make_seeds.py reads the block between the markers.
// ops-begin
inline constexpr std::array<std::string_view, 20> operations = {
    "describe",
    "version",
    "qr.generate.build",
    "qr.generate.parse",
    "qr.verify.build",
    "qr.verify.parse",
    "qr.cancel.build",
    "qr.cancel.parse",
    "qr.webhook.parse",
    "qr.generate.",
    "qr.verify.BUILD",
    "qr.cancel.parse.x",
    "qr.generate",
    "qr.generatex.build",
    "qr.webhook.parse.build",
    "qr.webhook.parsE",
    "Describe",
    "version ",
    "",
    "qr.verify.build\n",
};
// ops-end

struct CallInput {
    std::string_view op;
    std::string_view payload;
};

inline std::optional<CallInput> split_call_input(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return std::nullopt;
    return CallInput{operations[data[0] % operations.size()],
                     std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)};
}

}  // namespace corvane_fuzz
