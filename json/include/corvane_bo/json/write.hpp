// The one compact writer: no whitespace, keys in byte order (objects keep them so), only `"`, `\`
// and control characters escaped, numbers written with the text they carry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

void write(const Value& value, std::string& out);
// Any string; `write_string` below takes the short plain ones (most of them) itself.
void write_any_string(std::string_view text, std::string& out);
std::string to_text(const Value& value);

inline void write_string(std::string_view text, std::string& out) {
    const std::size_t n = text.size();
    if (n < 16 && !scan::short_needs_escape(text.data(), n)) {
        const std::size_t size = out.size();
        const std::size_t total = size + n + 2;
        // The size handed to the lambda may exceed the one asked for (it is the room granted).
        out.resize_and_overwrite(total, [&](char* buffer, std::size_t) noexcept {
            buffer[size] = '"';
            __builtin_memcpy(buffer + size + 1, text.data(), n);
            buffer[total - 1] = '"';
            return total;
        });
        return;
    }
    write_any_string(text, out);
}

}  // namespace corvane_bo_json
