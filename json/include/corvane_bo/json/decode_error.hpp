// Failures of the reader and of the record mapping. Errors found in text carry the byte offset at
// which the reader stood; the line and column are worked out only when the message is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <string>
#include <string_view>

namespace corvane_bo_json {

enum class Syntax : std::uint8_t {
    eof_value,
    eof_list,
    eof_object,
    eof_string,
    expected_value,
    expected_ident,
    expected_colon,
    expected_list_comma_or_end,
    expected_object_comma_or_end,
    trailing_comma,
    key_must_be_string,
    invalid_escape,
    lone_leading_surrogate,
    unexpected_end_of_hex_escape,
    invalid_code_point,
    control_character,
    invalid_utf8,
    invalid_number,
    number_out_of_range,
    recursion_limit,
    trailing_characters,
};

std::string_view message(Syntax code);

struct DecodeError {
    static constexpr std::size_t unplaced = std::numeric_limits<std::size_t>::max();

    std::string message;
    // Byte offset into the text being read, or `unplaced` for a record failure not yet placed (and
    // for every failure found in an already decoded value, which never gets a place).
    std::size_t offset = unplaced;

    bool placed() const { return offset != unplaced; }
    // The message, followed by " at line L column C" when it has a place in `text`.
    std::string describe(std::string_view text) const;
};

template <class T>
using Decoded = std::expected<T, DecodeError>;

inline std::unexpected<DecodeError> fail(std::string message, std::size_t offset = DecodeError::unplaced) {
    return std::unexpected(DecodeError{std::move(message), offset});
}

// At most `count` characters of UTF-8 `text`, never splitting one.
std::string_view first_characters(std::string_view text, std::size_t count);
// Texts from the input are quoted in messages up to this many characters, then cut with "…", so that
// a message never carries a megabyte body back.
inline constexpr std::size_t quoted_characters = 200;

// How a found value is named in "invalid type: <found>, expected ...".
std::string unexpected_string(std::string_view text);   // string "abc", escaped for display
std::string unexpected_integer(std::string_view digits);  // integer `5`
std::string unexpected_float(double value);                // floating point `1000`

}  // namespace corvane_bo_json
