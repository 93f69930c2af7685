// Declarative record mapping. A record declares its JSON form once, as a field table:
//
//     template <> struct corvane_bo_json::Fields<VerifyQr> {
//         static constexpr std::string_view name = "VerifyQr";
//         static constexpr auto list = std::tuple{
//             field("kind", &VerifyQr::kind, defaulted),
//             field("reference", &VerifyQr::reference),
//         };
//     };
//
// and generic code reads it from JSON text (failures placed in the text), reads it from an already
// decoded `Value` (failures without place), and writes it as compact JSON with its keys in byte order.
//
// Reading, for every record alike: an object's unknown keys are skipped (their values must still be
// valid JSON); a key seen twice fails "duplicate field" (an alias counts as its field); at the
// closing brace the first missing required field in declaration order fails "missing field"; a
// std::optional member accepts null as absent and is absent when missing. An array holds the fields
// in declaration order; only `defaulted` fields may be left off its end.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/record_write.hpp"
#include "corvane_bo/json/text_map.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// TextMap (text_map.hpp): header maps; a key read twice keeps its last value.

namespace detail {

// Equality with a name known at compile time: the length decides most mismatches, and the bytes are
// then compared inline.
template <std::string_view const& name>
inline bool is_named(std::string_view text) noexcept {
    return text.size() == name.size() && std::memcmp(text.data(), name.data(), name.size()) == 0;
}

template <class T, std::size_t I>
inline bool field_named(std::string_view key) noexcept {
    if constexpr (alias_of<T, I>.empty())
        return is_named<key_of<T, I>>(key);
    else
        return is_named<key_of<T, I>>(key) || is_named<alias_of<T, I>>(key);
}

// The index of the field named `key` (its key or its alias), first in declaration order, or -1.
template <class T>
int field_index(std::string_view key) noexcept {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        int found = -1;
        (void)((field_named<T, I>(key) ? (found = static_cast<int>(I), true) : false) || ...);
        return found;
    }(std::make_index_sequence<field_count<T>>{});
}

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

template <class I>
Decoded<void> integer_from_token(const IntegerToken& token, I& out, std::size_t offset) {
    constexpr std::string_view name = integer_name<I>();
    switch (token.kind) {
        case IntegerToken::Kind::unsigned_integer:
            if (token.magnitude > static_cast<std::uint64_t>(std::numeric_limits<I>::max()))
                return fail("invalid value: " + unexpected_integer(std::to_string(token.magnitude)) + ", expected " +
                                std::string(name),
                            offset);
            out = static_cast<I>(token.magnitude);
            return {};
        case IntegerToken::Kind::negative_integer:
            if constexpr (std::is_signed_v<I>) {
                out = static_cast<I>(token.negative);
                return {};
            } else {
                return fail("invalid value: " + unexpected_integer(std::to_string(token.negative)) + ", expected " +
                                std::string(name),
                            offset);
            }
        case IntegerToken::Kind::floating:
            break;
    }
    return fail("invalid type: " + unexpected_float(token.floating) + ", expected " + std::string(name), offset);
}

std::string found_in(const Value& value);

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Reading, from text or from a decoded value.

template <class T>
Decoded<void> read(TextReader& r, T& out);
template <class T>
Decoded<void> read(Value& v, T& out);

namespace detail {

template <class Source, class T>
Decoded<void> read_field(Source& source, T& out, const auto& f) {
    using F = std::remove_cvref_t<decltype(f)>;
    if constexpr (std::is_same_v<typename F::codec, OwnCodec>)
        return read(source, out.*(f.member));
    else
        return F::codec::read(source, out.*(f.member));
}

// Reads field I of a record; `field_readers` lists them so that a key found at run time reaches its
// reader through one indexed call.
template <class T, std::size_t I, class Source>
Decoded<void> read_field_at(Source& source, T& out) {
    return read_field(source, out, std::get<I>(Fields<T>::list));
}

template <class T, class Source>
inline constexpr auto field_readers = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<Decoded<void> (*)(Source&, T&), sizeof...(I)>{&read_field_at<T, I, Source>...};
}(std::make_index_sequence<field_count<T>>{});

// After the closing brace: the first field in declaration order that is neither seen nor allowed to
// be missing. A plain optional may be missing; one read by a codec must be marked defaulted.
template <class T>
Decoded<void> first_missing(std::uint64_t seen) {
    Decoded<void> missing;
    for_each_field<T>([&](auto i, const auto& f) {
        using F = std::remove_cvref_t<decltype(f)>;
        constexpr bool may_be_missing =
            is_optional<typename F::member_type>::value && std::is_same_v<typename F::codec, OwnCodec>;
        if (missing && !(seen & (std::uint64_t{1} << i.value)) && f.presence == Presence::required &&
            !may_be_missing)
            missing = fail("missing field `" + std::string(f.key) + "`");
    });
    return missing;
}


// `"key":` of each field whose key is that short, as the reader compares it with the text.
template <class T>
inline constexpr auto key_patterns = [] {
    std::array<TextReader::Pattern, field_count<T>> patterns{};
    for_each_field<T>([&](auto i, const auto& f) {
        auto& pattern = patterns[i.value];
        const std::size_t size = f.key.size() + 3;
        if (size > sizeof pattern.bytes) return;  // care stays 0: never predicted
        pattern.bytes[0] = '"';
        for (std::size_t k = 0; k < f.key.size(); ++k) pattern.bytes[1 + k] = f.key[k];
        pattern.bytes[size - 2] = '"';
        pattern.bytes[size - 1] = ':';
        pattern.care = size == 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << size) - 1;
        pattern.size = static_cast<std::uint32_t>(size);
    });
    return patterns;
}();

// Objects are read with the keys expected in declaration order: when the text at the next key is
// `"key":` of the field after the last one read, the key is taken without scanning and looking it
// up. Any other key (reordered, unknown, escaped, spaced before its colon) is read the general way,
// so that the outcome is the same either way.
template <class T>
Decoded<void> read_object_fields(TextReader& r, T& out) {
    constexpr std::size_t count = field_count<T>;
    std::uint64_t seen = 0;
    bool first = true;
    std::string scratch;
    std::string_view key;
    std::size_t predicted = 0;
    for (;;) {
        auto more = r.next_key_start(first);
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) break;
        std::size_t index = predicted;
        const bool as_predicted =
            index < count && key_patterns<T>[index].care != 0 && r.at(key_patterns<T>[index]);
        if (as_predicted) {
            // The key and its quotes; the colon, known to follow, once the key is accepted.
            r.skip(key_patterns<T>[index].size - 1);
        } else {
            if (auto e = r.key(scratch, key); !e) return e;
            const int found = field_index<T>(key);
            if (found < 0) {
                if (auto e = r.object_colon(); !e) return e;
                if (auto e = r.skip_value(); !e) return e;
                continue;
            }
            index = static_cast<std::size_t>(found);
        }
        const std::uint64_t bit = std::uint64_t{1} << index;
        if (seen & bit) {
            std::string_view name;
            for_each_field<T>([&](auto i, const auto& f) {
                if (i.value == index) name = f.key;
            });
            return fail("duplicate field `" + std::string(name) + "`");
        }
        seen |= bit;
        if (as_predicted)
            r.skip(1);
        else if (auto e = r.object_colon(); !e)
            return e;
        if (auto e = field_readers<T, TextReader>[index](r, out); !e) return e;
        predicted = index + 1;
    }
    return first_missing<T>(seen);
}

template <class T>
Decoded<void> read_array_fields(TextReader& r, T& out) {
    bool first = true;
    Decoded<void> result;
    for_each_field<T>([&](auto i, const auto& f) {
        if (!result) return;
        auto more = r.next_element(first);
        if (!more) {
            result = std::unexpected(std::move(more.error()));
        } else if (*more) {
            result = read_field(r, out, f);
        } else if (f.presence != Presence::defaulted) {
            result = fail(invalid_length<T>(i.value));
        }
    });
    return result;
}

template <class T>
Decoded<void> read_record(TextReader& r, T& out) {
    const int c = r.skip_whitespace();
    if (c < 0) return r.peek_error(Syntax::eof_value);
    if (c != '{' && c != '[') return r.invalid_type(expected_struct<T>());
    if (auto e = r.enter(); !e) return e;
    r.eat();
    auto body = c == '{' ? read_object_fields(r, out) : read_array_fields(r, out);
    auto closed = c == '{' ? r.end_object() : r.end_array();
    r.leave();
    if (!body) return std::unexpected(r.place(std::move(body.error())));
    return closed;
}

// A string copied into `out`, or (a view) viewed in the text or in its unescaped copy in the
// reader's store.
template <class Text>
Decoded<void> read_string(TextReader& r, Text& out) {
    if (r.skip_whitespace() != '"') {
        if (r.skip_whitespace() < 0) return r.peek_error(Syntax::eof_value);
        return r.invalid_type("a string");
    }
    r.eat();
    if constexpr (std::is_same_v<Text, std::string_view>)
        return r.string_kept(out);
    else
        return r.string_into(out);
}

template <class I>
Decoded<void> read_integer(TextReader& r, I& out) {
    const int c = r.skip_whitespace();
    if (c < 0) return r.peek_error(Syntax::eof_value);
    if (c != '-' && (c < '0' || c > '9')) return r.invalid_type(integer_name<I>());
    if (std::uint64_t value = 0; r.plain_unsigned(value, static_cast<std::uint64_t>(std::numeric_limits<I>::max()))) {
        out = static_cast<I>(value);
        return {};
    }
    auto text = r.number();
    if (!text) return std::unexpected(std::move(text.error()));
    auto token = integer_token(*text, r.offset());
    if (!token) return std::unexpected(std::move(token.error()));
    return integer_from_token(*token, out, r.offset());
}

template <class E>
Decoded<void> read_enum(TextReader& r, E& out) {
    const int c = r.skip_whitespace();
    if (c < 0) return r.peek_error(Syntax::eof_value);
    if (c != '"') return r.peek_error(Syntax::expected_value);
    r.eat();
    std::string scratch;
    std::string_view name;
    if (auto e = r.string(scratch, name); !e) return e;
    auto variant = variant_named<E>(name);
    if (!variant) return fail(unknown_variant<E>(name), r.offset());
    out = *variant;
    return {};
}

// Into a `TextMap` (sorted, a key read twice keeping its last value) or `TextPairs` (as read).
template <class Map>
Decoded<void> read_text_map(TextReader& r, Map& out) {
    using Text = typename Map::mapped_type;
    const int c = r.skip_whitespace();
    if (c < 0) return r.peek_error(Syntax::eof_value);
    if (c != '{') return r.invalid_type("a map");
    if (auto e = r.enter(); !e) return e;
    r.eat();
    Decoded<void> body;
    bool first = true;
    std::string scratch;
    std::string_view name;
    for (;;) {
        auto more = r.next_key_start(first);
        if (!more) {
            body = std::unexpected(std::move(more.error()));
            break;
        }
        if (!*more) break;
        if (out.empty()) out.reserve(8);
        if constexpr (std::is_same_v<Text, std::string_view>) {
            // Kept as a view, like the value.
            r.eat();
            body = r.string_kept(name);
        } else {
            // Valid until the next key is read (it may lie in `scratch`).
            body = r.key(scratch, name);
        }
        if (!body) break;
        if (body = r.object_colon(); !body) break;
        Text text{};
        if (body = read_string(r, text); !body) break;
        if constexpr (std::is_same_v<Map, TextPairs>)
            out.push_back(name, text);
        else
            out.insert_or_assign(name, std::move(text));
    }
    auto closed = r.end_object();
    r.leave();
    if (!body) return std::unexpected(r.place(std::move(body.error())));
    return closed;
}

template <class V>
Decoded<void> read_sequence(TextReader& r, std::vector<V>& out) {
    const int c = r.skip_whitespace();
    if (c < 0) return r.peek_error(Syntax::eof_value);
    if (c != '[') return r.invalid_type("a sequence");
    if (auto e = r.enter(); !e) return e;
    r.eat();
    Decoded<void> body;
    bool first = true;
    for (;;) {
        auto more = r.next_element(first);
        if (!more) {
            body = std::unexpected(std::move(more.error()));
            break;
        }
        if (!*more) break;
        if (body = read(r, out.emplace_back()); !body) break;
    }
    auto closed = r.end_array();
    r.leave();
    if (!body) return std::unexpected(r.place(std::move(body.error())));
    return closed;
}

}  // namespace detail

template <class T>
Decoded<void> read(TextReader& r, T& out) {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
        return detail::read_string(r, out);
    } else if constexpr (std::is_same_v<T, bool>) {
        const int c = r.skip_whitespace();
        if (c < 0) return r.peek_error(Syntax::eof_value);
        if (c != 't' && c != 'f') return r.invalid_type("a boolean");
        if (auto e = r.literal(c); !e) return e;
        out = c == 't';
        return {};
    } else if constexpr (std::is_integral_v<T>) {
        return detail::read_integer(r, out);
    } else if constexpr (detail::is_optional<T>::value) {
        auto null = r.null();
        if (!null) return std::unexpected(std::move(null.error()));
        if (*null) {
            out.reset();
            return {};
        }
        return read(r, out.emplace());
    } else if constexpr (detail::record<T>) {
        return detail::read_record(r, out);
    } else if constexpr (detail::enumeration<T>) {
        return detail::read_enum(r, out);
    } else if constexpr (detail::is_text_map<T>::value) {
        return detail::read_text_map(r, out);
    } else if constexpr (detail::is_vector<T>::value) {
        return detail::read_sequence(r, out);
    } else {
        static_assert(std::is_same_v<T, Value>, "no JSON reader for this type");
        return r.value_into(out);
    }
}

namespace detail {

// Whether a T read from text holds views of it (and of the store its escaped strings go to).
template <class T>
constexpr bool holds_views() {
    if constexpr (std::is_same_v<T, std::string_view> || std::is_same_v<T, TextPairs> ||
                  std::is_same_v<T, TextViewMap>) {
        return true;
    } else if constexpr (is_optional<T>::value || is_vector<T>::value) {
        return holds_views<typename T::value_type>();
    } else if constexpr (record<T>) {
        bool any = false;
        for_each_field<T>([&](auto, const auto& f) {
            any = any || holds_views<typename std::remove_cvref_t<decltype(f)>::member_type>();
        });
        return any;
    } else {
        return false;
    }
}

}  // namespace detail

// One whole text as a T: one value, whitespace around it, nothing after it. The T may view the text
// and `store`, and is valid as long as both are.
template <class T>
Decoded<T> from_text(std::string_view text, TextStore& store) {
    TextReader reader(text, &store);
    T out{};
    if (auto e = read(reader, out); !e) return std::unexpected(std::move(e.error()));
    if (auto e = reader.end(); !e) return std::unexpected(std::move(e.error()));
    return out;
}

// The same for a T that owns all its texts.
template <class T>
Decoded<T> from_text(std::string_view text) {
    static_assert(!detail::holds_views<T>(), "a record of views is read with a store");
    TextReader reader(text);
    T out{};
    if (auto e = read(reader, out); !e) return std::unexpected(std::move(e.error()));
    if (auto e = reader.end(); !e) return std::unexpected(std::move(e.error()));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Reading from an already decoded value (taken apart: its texts are moved out).

namespace detail {

inline std::unexpected<DecodeError> value_type_error(const Value& v, std::string_view expected) {
    return fail("invalid type: " + found_in(v) + ", expected " + std::string(expected));
}

template <class T>
Decoded<void> read_record(Value& v, T& out) {
    if (auto* object = v.get<Object>()) {
        std::uint64_t seen = 0;
        for (auto& member : *object) {
            const int index = field_index<T>(member.key);
            if (index < 0) continue;
            const std::uint64_t bit = std::uint64_t{1} << index;
            Decoded<void> result;
            for_each_field<T>([&](auto i, const auto& f) {
                if (static_cast<int>(i.value) != index) return;
                if (seen & bit)
                    result = fail("duplicate field `" + std::string(f.key) + "`");
                else
                    result = read_field(member.value, out, f);
            });
            if (!result) return result;
            seen |= bit;
        }
        return first_missing<T>(seen);
    }
    if (auto* array = v.get<Array>()) {
        std::size_t next = 0;
        Decoded<void> result;
        for_each_field<T>([&](auto i, const auto& f) {
            if (!result) return;
            if (next < array->size())
                result = read_field((*array)[next++], out, f);
            else if (f.presence != Presence::defaulted)
                result = fail(invalid_length<T>(i.value));
        });
        if (!result) return result;
        if (next < array->size())
            return fail("invalid length " + std::to_string(array->size()) + ", expected fewer elements in array");
        return {};
    }
    return value_type_error(v, expected_struct<T>());
}

}  // namespace detail

template <class T>
Decoded<void> read(Value& v, T& out) {
    if constexpr (std::is_same_v<T, std::string>) {
        auto* text = v.get<std::string>();
        if (!text) return detail::value_type_error(v, "a string");
        out = std::move(*text);
        return {};
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        // A view of the value's own text: the value is kept while the record is used.
        auto* text = v.get<std::string>();
        if (!text) return detail::value_type_error(v, "a string");
        out = *text;
        return {};
    } else if constexpr (std::is_same_v<T, bool>) {
        auto* b = v.get<bool>();
        if (!b) return detail::value_type_error(v, "a boolean");
        out = *b;
        return {};
    } else if constexpr (std::is_integral_v<T>) {
        auto* number = v.get<Number>();
        if (!number) return detail::value_type_error(v, detail::integer_name<T>());
        auto token = detail::integer_token(number->text, 0);
        if (!token) return std::unexpected(DecodeError{std::move(token.error().message)});
        auto result = detail::integer_from_token(*token, out, 0);
        if (!result) return std::unexpected(DecodeError{std::move(result.error().message)});
        return {};
    } else if constexpr (detail::is_optional<T>::value) {
        if (v.is_null()) {
            out.reset();
            return {};
        }
        return read(v, out.emplace());
    } else if constexpr (detail::record<T>) {
        return detail::read_record(v, out);
    } else if constexpr (detail::enumeration<T>) {
        auto* name = v.get<std::string>();
        if (!name) return detail::value_type_error(v, "a string");
        auto variant = detail::variant_named<T>(*name);
        if (!variant) return fail(detail::unknown_variant<T>(*name));
        out = *variant;
        return {};
    } else if constexpr (detail::is_text_map<T>::value) {
        auto* object = v.get<Object>();
        if (!object) return detail::value_type_error(v, "a map");
        for (auto& member : *object) {
            typename T::mapped_type text{};
            if (auto e = read(member.value, text); !e) return e;
            if constexpr (std::is_same_v<T, TextPairs>)
                out.push_back(member.key, text);
            else
                out.insert_or_assign(member.key, std::move(text));
        }
        return {};
    } else if constexpr (detail::is_vector<T>::value) {
        auto* array = v.get<Array>();
        if (!array) return detail::value_type_error(v, "a sequence");
        for (auto& element : *array)
            if (auto e = read(element, out.emplace_back()); !e) return e;
        return {};
    } else {
        static_assert(std::is_same_v<T, Value>, "no JSON reader for this type");
        out = std::move(v);
        return {};
    }
}

template <class T>
Decoded<T> from_value(Value&& value) {
    static_assert(!detail::holds_views<T>(), "a record of views is read with a store");
    T out{};
    if (auto e = read(value, out); !e) return std::unexpected(std::move(e.error()));
    return out;
}

// A T that may view the value's texts: the value is kept in `store`.
template <class T>
Decoded<T> from_value(Value&& value, TextStore& store) {
    T out{};
    if (auto e = read(store.hold(std::move(value)), out); !e) return std::unexpected(std::move(e.error()));
    return out;
}

}  // namespace corvane_bo_json
