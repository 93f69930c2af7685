// The wording of the record mapping's failures, shared by its sources, and the reading of a number
// into an integer field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/source.hpp"

namespace corvane_bo_json::detail {

template <class T>
std::string expected_struct() {
    return "struct " + std::string(Fields<T>::name);
}

template <class T>
std::string invalid_length(std::size_t index) {
    const std::size_t n = field_count<T>;
    return "invalid length " + std::to_string(index) + ", expected struct " + std::string(Fields<T>::name) +
           " with " + std::to_string(n) + (n == 1 ? " element" : " elements");
}

template <class E>
std::string unknown_variant(std::string_view name) {
    constexpr auto& names = Variants<E>::names;
    std::string out = "unknown variant `" + std::string(name) + "`, expected ";
    if (names.size() == 2) return out + "`" + std::string(names[0]) + "` or `" + std::string(names[1]) + "`";
    if (names.size() > 2) out += "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ", ";
        out += "`" + std::string(names[i]) + "`";
    }
    return out;
}

template <class E>
std::optional<E> variant_named(std::string_view name) {
    constexpr auto& names = Variants<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<E>(i);
    return std::nullopt;
}

template <class I>
constexpr std::string_view integer_name() {
    if constexpr (std::is_same_v<I, std::uint16_t>) return "u16";
    else if constexpr (std::is_same_v<I, std::uint32_t>) return "u32";
    else if constexpr (std::is_same_v<I, std::uint64_t>) return "u64";
    else return "i64";
}

// A number read into an integer field: an integer of 64 bits, or a float that it cannot hold.
struct IntegerToken {
    enum class Kind { unsigned_integer, negative_integer, floating } kind;
    std::uint64_t magnitude = 0;
    std::int64_t negative = 0;
    double floating = 0;
};
Decoded<IntegerToken> integer_token(std::string_view text, std::size_t end_offset);

template <class S, class I>
Decoded<void> integer_from_token(S& s, const IntegerToken& token, I& out) {
    using src = Source<S>;
    constexpr std::string_view name = integer_name<I>();
    switch (token.kind) {
        case IntegerToken::Kind::unsigned_integer:
            if (token.magnitude > static_cast<std::uint64_t>(std::numeric_limits<I>::max()))
                return src::fail(s,
                                 "invalid value: " + unexpected_integer(std::to_string(token.magnitude)) +
                                     ", expected " + std::string(name),
                                 src::failure_offset(s));
            out = static_cast<I>(token.magnitude);
            return {};
        case IntegerToken::Kind::negative_integer:
            if constexpr (std::is_signed_v<I>) {
                out = static_cast<I>(token.negative);
                return {};
            } else {
                return src::fail(s,
                                 "invalid value: " + unexpected_integer(std::to_string(token.negative)) +
                                     ", expected " + std::string(name),
                                 src::failure_offset(s));
            }
        case IntegerToken::Kind::floating:
            break;
    }
    return src::fail(s, "invalid type: " + unexpected_float(token.floating) + ", expected " + std::string(name),
                     src::failure_offset(s));
}

}  // namespace corvane_bo_json::detail
