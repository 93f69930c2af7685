// The one compact writer: no whitespace, keys in byte order (objects keep them so), only `"`, `\`
// and control characters escaped, numbers written with the text they carry.
#pragma once

#include <cstddef>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "corvane_bo/json/inlining.hpp"
#include "corvane_bo/json/relayed.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// Text appended to the end of a std::string through a cursor. `Writer::append_to` claims room in
// the string up front and runs the writing inside `resize_and_overwrite`, so the room is neither
// zero-filled first nor ever left holding indeterminate bytes: the string keeps just what was written.
// Should the room run out, writing goes on in an overflow string that is appended afterwards.
class Writer {
public:
    // Runs `write(writer)` with the text it writes appended to `out`; `expected` bytes of room are
    // claimed up front, or all the room the string has reserved if that is more.
    template <class Write>
    static void append_to(std::string& out, std::size_t expected, Write&& write);

    // The cursor, with at least `n` bytes of room after it; `advance` moves it past what was written.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - w_) < n) spill(n);
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

    Writer(char* begin, char* end) noexcept : w_(begin), end_(end) {}
    // Moves writing to (a larger) overflow string with room for `n` more bytes.
    void spill(std::size_t n);

    char* w_;
    char* end_;
    // Where writing stopped in the claimed room once it moved to `overflow_`, or null.
    char* room_stop_ = nullptr;
    std::string overflow_;
};

template <class Write>
void Writer::append_to(std::string& out, std::size_t expected, Write&& write) {
    const std::size_t used = out.size();
    const std::size_t wanted = used + (expected > min_room ? expected : min_room);
    std::string overflow;
    std::exception_ptr fault;
    out.resize_and_overwrite(wanted > out.capacity() ? wanted : out.capacity(), [&](char* buffer, std::size_t n) noexcept {
        Writer writer(buffer + used, buffer + n);
        // Nothing may leave this callback: a failure (no memory) is carried out of it.
        try {
            write(writer);
        } catch (...) {
            fault = std::current_exception();
        }
        if (writer.room_stop_ == nullptr) return static_cast<std::size_t>(writer.w_ - buffer);
        writer.overflow_.resize(static_cast<std::size_t>(writer.w_ - writer.overflow_.data()));
        overflow = std::move(writer.overflow_);
        return static_cast<std::size_t>(writer.room_stop_ - buffer);
    });
    if (fault) std::rethrow_exception(fault);
    out += overflow;
}

void write(const Value& value, Writer& out);
void write(const Value& value, std::string& out);
std::string to_text(const Value& value);

// The rest of a string from its first byte to escape, and its closing quote.
void write_escaped(const char* from, const char* end, Writer& out);

// A string that is long or needs escapes, from the byte after its opening quote at `w`, which has
// room for the text and its closing quote.
void write_string_body(std::string_view text, char* w, Writer& out);

// A string preceded by `prefix` (a key and its colon), in one claim of room: short plain strings
// (most of them) are copied in a few block moves, others after one scan for bytes to escape.
CORVANE_HOT_INLINE void write_string(std::string_view text, Writer& out, std::string_view prefix = "") {
    const std::size_t n = text.size();
    char* w = out.room(prefix.size() + n + 2);
    if (prefix.size() < 64)
        scan::copy_short(w, prefix.data(), prefix.size());
    else
        std::memcpy(w, prefix.data(), prefix.size());
    w += prefix.size();
    *w++ = '"';
    if (n < 64 && scan::copy_short_unescaped(text.data(), n, w)) {
        w[n] = '"';
        out.advance(w + n + 1);
        return;
    }
    write_string_body(text, w, out);
}

// A relayed string preceded by `prefix`: a long one that stood with no escape is copied whole, with
// no byte looked at (the short ones cost no more through `write_string`).
CORVANE_HOT_INLINE void write_string(const RelayedString& relayed, Writer& out, std::string_view prefix = "") {
    const std::string_view text = relayed.text;
    if (!relayed.escape_free || text.size() < 64) return write_string(text, out, prefix);
    char* w = out.room(prefix.size() + text.size() + 2);
    std::memcpy(w, prefix.data(), prefix.size());
    w += prefix.size();
    *w++ = '"';
    std::memcpy(w, text.data(), text.size());
    w += text.size();
    *w++ = '"';
    out.advance(w);
}

// A member of an object of texts, `lead` (its opening brace or the comma before it) first, in one
// claim of room when both texts are short and plain (a header).
inline void write_text_member(char lead, std::string_view key, std::string_view text, Writer& out) {
    const std::size_t k = key.size();
    const std::size_t n = text.size();
    char* w = out.room(k + n + 6);
    *w++ = lead;
    *w++ = '"';
    if (k >= 64 || !scan::copy_short_unescaped(key.data(), k, w)) {
        write_string_body(key, w, out);
        write_string(text, out, ":");
        return;
    }
    w += k;
    std::memcpy(w, "\":\"", 3);
    w += 3;
    if (n < 64 && scan::copy_short_unescaped(text.data(), n, w)) {
        w[n] = '"';
        out.advance(w + n + 1);
        return;
    }
    write_string_body(text, w, out);
}

inline void write_string(std::string_view text, std::string& out) {
    Writer::append_to(out, text.size() + 2, [text](Writer& writer) { write_string(text, writer); });
}

}  // namespace corvane_bo_json
