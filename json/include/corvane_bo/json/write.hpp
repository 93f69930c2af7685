// The one compact writer: no whitespace, keys in byte order (objects keep them so), only `"`, `\`
// and control characters escaped, numbers written with the text they carry.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// Text appended to the end of a std::string through a cursor: room is claimed ahead (the string
// grows in doubling steps, zero-filled, so that it never holds indeterminate bytes), written through
// plain pointers, and the string is cut back to what was written when the writer goes.
class Writer {
public:
    // Claims `expected` bytes of room, or all the room the string has reserved if that is more.
    explicit Writer(std::string& out, std::size_t expected = 0) : out_(out) {
        const std::size_t used = out.size();
        const std::size_t wanted = used + (expected > min_room ? expected : min_room);
        out.resize(wanted > out.capacity() ? wanted : out.capacity());
        w_ = out.data() + used;
        end_ = out.data() + out.size();
    }
    ~Writer() { out_.resize(static_cast<std::size_t>(w_ - out_.data())); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The cursor, with at least `n` bytes of room after it; `advance` moves it past what was written.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - w_) < n) grow(n);
        return w_;
    }
    char* limit() const noexcept { return end_; }
    void advance(char* to) noexcept { w_ = to; }

    void put(char c) {
        room(1);
        *w_++ = c;
    }
    void append(std::string_view text) {
        char* w = room(text.size());
        if (!text.empty()) std::memcpy(w, text.data(), text.size());
        w_ = w + text.size();
    }

private:
    static constexpr std::size_t min_room = 64;
    void grow(std::size_t n);

    std::string& out_;
    char* w_;
    char* end_;
};

void write(const Value& value, Writer& out);
void write(const Value& value, std::string& out);
std::string to_text(const Value& value);

// The rest of a string from its first byte to escape, and its closing quote.
void write_escaped(const char* from, const char* end, Writer& out);

// A string preceded by `prefix` (a key and its colon), in one claim of room: short plain strings
// (most of them) are copied in a few word moves, others after one scan for bytes to escape.
inline void write_string(std::string_view text, Writer& out, std::string_view prefix = "") {
    const std::size_t n = text.size();
    char* w = out.room(prefix.size() + n + 2);
    if (prefix.size() < 64)
        scan::copy_short(w, prefix.data(), prefix.size());
    else
        std::memcpy(w, prefix.data(), prefix.size());
    w += prefix.size();
    *w++ = '"';
    if (n < 16 && !scan::short_needs_escape(text.data(), n)) {
        scan::copy_short(w, text.data(), n);
        w[n] = '"';
        out.advance(w + n + 1);
        return;
    }
    const char* const end = text.data() + n;
    const char* const special = scan::to_escape(text.data(), end);
    const auto plain = static_cast<std::size_t>(special - text.data());
    if (plain != 0) std::memcpy(w, text.data(), plain);
    w += plain;
    if (special == end) {
        *w++ = '"';
        out.advance(w);
        return;
    }
    out.advance(w);
    write_escaped(special, end, out);
}

inline void write_string(std::string_view text, std::string& out) {
    Writer writer(out, text.size() + 2);
    write_string(text, writer);
}

}  // namespace corvane_bo_json
