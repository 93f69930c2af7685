// Failures of the reader and of the record mapping. Errors found in text carry the byte offset at
// which the reader stood; the line and column are worked out only when the message is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

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

// How a step of reading fails: a syntax code, or `worded` for a failure whose text is made at run
// time, and the byte offset, in one word. Every step returns it, so that its result comes back in
// registers and no path of a reader carries a destructor for it. A worded failure's text is kept by
// the reading call (the text reader, or the context of a value being read), which turns the failure
// into a `DecodeError` once, where the read began.
class Failed {
public:
    static constexpr std::uint8_t worded_code = 0xFF;

    constexpr Failed(Syntax code, std::size_t offset) noexcept : Failed(static_cast<std::uint8_t>(code), offset) {}
    static constexpr Failed worded(std::size_t offset = DecodeError::unplaced) noexcept {
        return Failed(worded_code, offset);
    }

    constexpr bool is_worded() const noexcept { return (bits_ & 0xFF) == worded_code; }
    // For a failure that is not worded.
    constexpr Syntax syntax() const noexcept { return static_cast<Syntax>(bits_ & 0xFF); }
    constexpr bool placed() const noexcept { return (bits_ >> 8) != unplaced_bits; }
    constexpr std::size_t offset() const noexcept {
        return placed() ? static_cast<std::size_t>(bits_ >> 8) : DecodeError::unplaced;
    }
    // The same failure, given `offset` when it has no place yet.
    constexpr Failed placed_at(std::size_t offset) const noexcept {
        return placed() ? *this : Failed(static_cast<std::uint8_t>(bits_ & 0xFF), offset);
    }

private:
    // Offsets take the upper 56 bits: no text comes near that size.
    static constexpr std::uint64_t unplaced_bits = (std::uint64_t{1} << 56) - 1;

    constexpr Failed(std::uint8_t code, std::size_t offset) noexcept
        : bits_((offset >= unplaced_bits ? unplaced_bits : std::uint64_t{offset}) << 8 | code) {}

    std::uint64_t bits_;
};

// The result of a step of reading.
template <class T>
using Decoded = std::expected<T, Failed>;

static_assert(sizeof(Decoded<void>) <= 16 && std::is_trivially_copy_constructible_v<Decoded<void>> &&
                  std::is_trivially_destructible_v<Decoded<void>>,
              "a step's result is returned in registers");

// The result of a whole read, with its failure worded.
template <class T>
using DecodeResult = std::expected<T, DecodeError>;

// A failure as it is reported: a worded one takes its text from `worded`, where the reading call
// kept it.
DecodeError decode_error(Failed failure, std::string& worded);

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
