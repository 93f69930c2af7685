// Request bodies. A body record is written once into the call's store, as the JSON text to send and
// at the same time as the JSON string that the answer carries that text in, so that writing the
// answer copies the body instead of escaping it. The keys and punctuation of both forms are spelled
// out when the library is compiled; only the texts are looked at, and a text that needs escaping
// (rare in a request) sends the whole body the general way: the record writer, then the string writer.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "corvane_bo/core/http.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/text_store.hpp"

namespace corvane_bo_core {

namespace body_detail {

namespace json = corvane_bo_json;

template <class M>
inline constexpr bool is_text = std::is_same_v<M, std::string_view> || std::is_same_v<M, std::string>;

template <class M>
inline constexpr bool is_integer = std::is_integral_v<M> && !std::is_same_v<M, bool>;

// The member written `position`-th, keys in byte order.
template <class T, std::size_t position>
using member_at = typename std::remove_cvref_t<decltype(std::get<json::detail::keys_in_byte_order<T>()[position]>(
    json::Fields<T>::list))>::member_type;

template <class M>
constexpr void check_member() {
    static_assert(is_text<M> || is_integer<M> || std::is_same_v<M, json::Number> || json::detail::record<M>,
                  "a request body holds texts, integers, numbers and records of those");
}

template <class T, std::size_t position>
constexpr bool text_before() {
    if constexpr (position == 0)
        return false;
    else
        return is_text<member_at<T, position - 1>>;
}

// What the text has between values: before the field written `position`-th, the previous text's
// closing quote, the record writer's `{"key":` or `,"key":` and a text's opening quote; after the
// last (`position` == the field count), its closing quote and the closing brace.
template <class T, std::size_t position>
constexpr auto text_piece() {
    constexpr std::size_t closing = text_before<T, position>() ? 1 : 0;
    if constexpr (position == json::detail::field_count<T>) {
        std::array<char, closing + 1> out{};
        if (closing) out[0] = '"';
        out.back() = '}';
        return out;
    } else {
        check_member<member_at<T, position>>();
        constexpr auto& key = json::detail::key_prefix_v<T, position>;
        constexpr std::size_t opening = is_text<member_at<T, position>> ? 1 : 0;
        std::array<char, closing + key.size() + opening> out{};
        if (closing) out[0] = '"';
        for (std::size_t i = 0; i < key.size(); ++i) out[closing + i] = key[i];
        if (opening) out.back() = '"';
        return out;
    }
}

template <class T, std::size_t position>
inline constexpr auto text_piece_v = text_piece<T, position>();

// The same inside the answer's string: every quote escaped (keys are plain names).
template <class T, std::size_t position>
constexpr auto string_piece() {
    constexpr auto& plain = text_piece_v<T, position>;
    constexpr std::size_t quotes = [] {
        std::size_t count = 0;
        for (char c : text_piece_v<T, position>) count += c == '"';
        return count;
    }();
    std::array<char, plain.size() + quotes> out{};
    std::size_t w = 0;
    for (char c : plain) {
        if (c == '"') out[w++] = '\\';
        out[w++] = c;
    }
    return out;
}

template <class T, std::size_t position>
inline constexpr auto string_piece_v = string_piece<T, position>();

// Bytes either form takes whatever the texts are: keys and punctuation.
template <class T>
constexpr std::size_t fixed_size(bool in_string) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        const auto one = [&]<std::size_t position>(std::integral_constant<std::size_t, position>) {
            std::size_t size = in_string ? string_piece_v<T, position>.size() : text_piece_v<T, position>.size();
            if constexpr (position < json::detail::field_count<T>) {
                using M = member_at<T, position>;
                if constexpr (json::detail::record<M>) size += fixed_size<M>(in_string);
            }
            return size;
        };
        return (one(std::integral_constant<std::size_t, I>{}) + ...);
    }(std::make_index_sequence<json::detail::field_count<T> + 1>{});
}

inline constexpr std::size_t integer_room = 20;

// Bytes the values take in either form at most, when no text needs escaping.
template <class M>
std::size_t value_size(const M& value) {
    if constexpr (is_text<M>) {
        return value.size();
    } else if constexpr (std::is_same_v<M, json::Number>) {
        return value.text.size();
    } else if constexpr (is_integer<M>) {
        return integer_room;
    } else {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (value_size(value.*(std::get<I>(json::Fields<M>::list).member)) + ... + std::size_t{0});
        }(std::make_index_sequence<json::detail::field_count<M>>{});
    }
}

// Where each form is being written.
struct Cursors {
    char* text;
    char* in_string;
};

template <std::size_t a, std::size_t b>
inline void put(Cursors& w, const std::array<char, a>& text, const std::array<char, b>& in_string) {
    std::memcpy(w.text, text.data(), a);
    w.text += a;
    std::memcpy(w.in_string, in_string.data(), b);
    w.in_string += b;
}

// Copies n < 16 bytes in word moves. Not the writer's `copy_short`: more callers of that would
// change where the compiler inlines it on the answers' paths.
inline void copy_small(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 8) {
        json::scan::copy_two_words<std::uint64_t>(to, from, n);
    } else if (n >= 4) {
        json::scan::copy_two_words<std::uint32_t>(to, from, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// Copies a text that needs no escaping into both forms and returns the cursors after it; the text
// cursor is null when the text needs escaping. Passed and returned by value, the cursors stay in
// registers around the call.
inline Cursors put_plain(std::string_view value, Cursors w) {
    const std::size_t n = value.size();
    if (n < 16) {
        if (!json::scan::copy_short_unescaped(value.data(), n, w.text)) return {nullptr, nullptr};
        copy_small(w.in_string, value.data(), n);
    } else {
        // Found rather than copied while looking: the writer's own copying kernel stays inlined
        // where the answers' strings are written.
        if (json::scan::to_escape(value.data(), value.data() + n) != value.data() + n) return {nullptr, nullptr};
        std::memcpy(w.text, value.data(), n);
        std::memcpy(w.in_string, value.data(), n);
    }
    return {w.text + n, w.in_string + n};
}

inline void put_same(std::string_view value, Cursors& w) {
    std::memcpy(w.text, value.data(), value.size());
    w.text += value.size();
    std::memcpy(w.in_string, value.data(), value.size());
    w.in_string += value.size();
}

template <class T>
bool put_record(const T& record, Cursors& w);

template <class M>
bool put_value(const M& value, Cursors& w) {
    if constexpr (is_text<M>) {
        w = put_plain(value, w);
        return w.text != nullptr;
    } else if constexpr (std::is_same_v<M, json::Number>) {
        put_same(value.text, w);
        return true;
    } else if constexpr (is_integer<M>) {
        // Both forms have room for 20 digits here; the bytes after the number are written over.
        char* const end = std::to_chars(w.text, w.text + integer_room, value).ptr;
        std::memcpy(w.in_string, w.text, integer_room);
        w.in_string += end - w.text;
        w.text = end;
        return true;
    } else {
        return put_record(value, w);
    }
}

template <class T>
bool put_record(const T& record, Cursors& w) {
    const bool plain = [&]<std::size_t... I>(std::index_sequence<I...>) {
        const auto one = [&]<std::size_t position>(std::integral_constant<std::size_t, position>) {
            using M = member_at<T, position>;
            constexpr std::size_t index = json::detail::keys_in_byte_order<T>()[position];
            put(w, text_piece_v<T, position>, string_piece_v<T, position>);
            return put_value<M>(record.*(std::get<index>(json::Fields<T>::list).member), w);
        };
        return (one(std::integral_constant<std::size_t, I>{}) && ...);
    }(std::make_index_sequence<json::detail::field_count<T>>{});
    if (plain) put(w, text_piece_v<T, json::detail::field_count<T>>, string_piece_v<T, json::detail::field_count<T>>);
    return plain;
}

// Both forms of a body already written as text, kept in the store.
RequestBody keep_body(std::string_view text, std::string_view in_string, json::TextStore& store);

}  // namespace body_detail

// `record` as a request body, kept in `store`.
template <class T>
RequestBody write_body(const T& record, corvane_bo_json::TextStore& store) {
    namespace json = corvane_bo_json;
    static_assert(json::detail::field_count<T> > 0, "a body record has fields");
    static constexpr std::size_t fixed_text = body_detail::fixed_size<T>(false);
    // The string form adds its own quotes.
    static constexpr std::size_t fixed_in_string = body_detail::fixed_size<T>(true) + 2;
    const std::size_t values = body_detail::value_size(record);
    const std::size_t text_room = fixed_text + values;
    char* const start = store.room(text_room + fixed_in_string + values);
    body_detail::Cursors w{start, start + text_room};
    *w.in_string++ = '"';
    if (body_detail::put_record(record, w)) {
        *w.in_string++ = '"';
        store.keep(static_cast<std::size_t>(w.in_string - start));
        return RequestBody{{start, w.text}, {start + text_room, w.in_string}};
    }
    const std::string text = json::to_json_text(record);
    std::string in_string;
    json::write_string(text, in_string);
    return body_detail::keep_body(text, in_string, store);
}

}  // namespace corvane_bo_core
