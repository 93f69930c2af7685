// A strict streaming reader over UTF-8 JSON text. It offers the tokens the record mapping walks
// with, and places every failure at the byte where a streaming reader finds it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// Arrays and objects may nest this deep counting the outermost; one more level fails.
inline constexpr int max_depth = 128;

class TextReader {
public:
    explicit TextReader(std::string_view text) noexcept
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    std::string_view text() const { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
    std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

    // Skips whitespace and returns the next byte without consuming it, or -1 at the end.
    int skip_whitespace() noexcept {
        while (p_ < end_) {
            const char c = *p_;
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
            ++p_;
        }
        return -1;
    }
    void eat() noexcept { ++p_; }

    // A failure placed where the reader stands, or on the byte ahead (which its column counts).
    std::unexpected<DecodeError> error(Syntax code) const { return fail(std::string(message(code)), offset()); }
    std::unexpected<DecodeError> peek_error(Syntax code) const;
    // Gives an unplaced record failure the reader's current place.
    DecodeError place(DecodeError error) const {
        if (!error.placed()) error.offset = offset();
        return error;
    }

    // Nesting: call before consuming `[` or `{`, and `leave` after the matching close.
    Decoded<void> enter();
    void leave() noexcept { ++remaining_depth_; }

    // The rest of a literal whose first byte has been consumed ("ull" of null).
    Decoded<void> literal(std::string_view rest);
    // A string whose opening quote has been consumed. The view points into the text when the
    // string holds no escape, otherwise into `scratch`.
    Decoded<std::string_view> string(std::string& scratch);
    Decoded<void> string_into(std::string& out);
    Decoded<void> skip_string();
    // The text of a number starting at the next byte (a digit or `-`). While skipping a value, an
    // input ending inside the number is reported as an invalid number.
    Decoded<std::string_view> number(bool skipping = false);

    Decoded<void> object_colon();
    // Walking an array: true while an element follows (the reader then stands on it).
    Decoded<bool> next_element(bool& first);
    // Walking an object: the next key (its colon not yet read), or nothing at the closing brace.
    Decoded<std::optional<std::string_view>> next_key(bool& first, std::string& scratch);
    // Closing an array or object, also run after a failure inside it (it may consume the close).
    Decoded<void> end_array();
    Decoded<void> end_object();
    // Only whitespace may follow the top-level value.
    Decoded<void> end();

    // Reads and discards one value of any kind, iteratively.
    Decoded<void> skip_value();
    // Reads one value of any kind into a `Value`.
    Decoded<Value> value();
    // The failure for a value of the wrong type at the next byte: "invalid type: <found>, expected
    // <expected>", read far enough to name what was found.
    std::unexpected<DecodeError> invalid_type(std::string_view expected);
    // How the scalar or container at the next byte is named in a type failure, consuming scalars.
    Decoded<std::string> found();

private:
    Decoded<void> string_body(std::string* out);
    Decoded<void> escape(std::string* out);
    Decoded<unsigned> hex_escape();
    Decoded<Value> value_at(int c);

    const char* begin_;
    const char* p_;
    const char* end_;
    int remaining_depth_ = max_depth;
};

// Parses a whole text as one value of any kind.
Decoded<Value> parse(std::string_view text);

}  // namespace corvane_bo_json
