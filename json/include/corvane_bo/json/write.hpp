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

// Appends a short piece; where its size is known at compile time the copy is a few moves.
[[gnu::flatten]] inline void append_piece(std::string_view piece, std::string& out) {
    const std::size_t size = out.size();
    out.resize_and_overwrite(size + piece.size(), [&](char* buffer, std::size_t) noexcept {
        __builtin_memcpy(buffer + size, piece.data(), piece.size());
        return size + piece.size();
    });
}

// A string preceded by `prefix` (a key and its colon): a short plain string is written with its
// prefix in one piece.
[[gnu::flatten]] inline void write_string(std::string_view text, std::string& out, std::string_view prefix = "") {
    const std::size_t n = text.size();
    if (n < 16 && !scan::short_needs_escape(text.data(), n)) {
        const std::size_t size = out.size();
        const std::size_t total = size + prefix.size() + n + 2;
        // The size handed to the lambda may exceed the one asked for (it is the room granted).
        out.resize_and_overwrite(total, [&](char* buffer, std::size_t) noexcept {
            char* w = buffer + size;
            __builtin_memcpy(w, prefix.data(), prefix.size());
            w += prefix.size();
            *w++ = '"';
            scan::copy_short(w, text.data(), n);
            buffer[total - 1] = '"';
            return total;
        });
        return;
    }
    append_piece(prefix, out);
    write_any_string(text, out);
}

}  // namespace corvane_bo_json
