// Reading records and the other mapped types, written once for every source (source.hpp): JSON
// text (text_source.hpp) and an already decoded `Value` (value_source.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/inlining.hpp"
#include "corvane_bo/json/read_failures.hpp"
#include "corvane_bo/json/source.hpp"
#include "corvane_bo/json/text_map.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/text_source.hpp"
#include "corvane_bo/json/text_store.hpp"
#include "corvane_bo/json/value.hpp"
#include "corvane_bo/json/value_source.hpp"

namespace corvane_bo_json {

template <source S, class T>
Decoded<void> read(S& s, T& out);

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

// The fields that an object must give: neither defaulted nor a plain optional (one read by a codec
// must be marked defaulted to be missable).
template <class T>
inline constexpr std::uint64_t must_give = [] {
    std::uint64_t mask = 0;
    for_each_field<T>([&](auto i, const auto& f) {
        using F = std::remove_cvref_t<decltype(f)>;
        constexpr bool may_be_missing =
            is_optional<typename F::member_type>::value && std::is_same_v<typename F::codec, OwnCodec>;
        if (f.presence == Presence::required && !may_be_missing) mask |= std::uint64_t{1} << i.value;
    });
    return mask;
}();

// After the closing brace: the first field in declaration order that must be given and was not seen.
template <class T, class S>
Decoded<void> first_missing(S& s, std::uint64_t seen) {
    if ((seen & must_give<T>) == must_give<T>) return {};
    std::string_view missing;
    bool found = false;
    for_each_field<T>([&](auto i, const auto& f) {
        if (!found && !(seen & (std::uint64_t{1} << i.value)) && (must_give<T> >> i.value & 1)) {
            missing = f.key;
            found = true;
        }
    });
    return Source<S>::fail(s, "missing field `" + std::string(missing) + "`");
}

// Where the walk of an object's keys in declaration order stopped.
enum class Walk : std::uint8_t { on, closed, failed };

// Step I of that walk: the key at hand (the next one is taken when none is) read into field I when
// it is that field's, and otherwise left for the fields after it. As each field is met at most once
// and in order, none can be a duplicate.
template <class T, std::size_t I, class Object>
Walk take_in_order(Object& object, T& out, bool& pending, std::uint64_t& seen, Decoded<void>& failure) {
    if (pending || !object.template take_next_key<T, I>()) {
        if (!pending) {
            auto more = object.next();
            if (!more) {
                failure = std::unexpected(more.error());
                return Walk::failed;
            }
            if (!*more) return Walk::closed;
            pending = true;
        }
        if (!object.template take_key<T, I>()) return Walk::on;
        pending = false;
    }
    seen |= std::uint64_t{1} << I;
    if (auto e = read_field(object.value(), out, std::get<I>(Fields<T>::list)); !e) {
        failure = std::move(e);
        return Walk::failed;
    }
    return Walk::on;
}

template <class S, class T, class Object>
Decoded<void> read_object_fields(S& s, Object& object, T& out) {
    static_assert(field_count<T> <= 64, "a record has at most 64 fields");
    static_assert(std::is_same_v<typename Object::source_type, S>);
    std::uint64_t seen = 0;
    // Nearly every object gives its keys in declaration order, some left out: those are read with
    // each field's reader inlined.
    bool pending = false;
    Decoded<void> failure;
    Walk walk = Walk::on;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (void)((((walk = take_in_order<T, I>(object, out, pending, seen, failure)) == Walk::on)) && ...);
    }(std::make_index_sequence<field_count<T>>{});
    if (walk == Walk::failed) return failure;
    if (walk == Walk::closed) return first_missing<T>(s, seen);
    // Any other key (unknown, out of order, given twice, or the key at hand after the last field) is
    // looked up, its field reached through the table of readers.
    std::string scratch;
    std::string_view key;
    std::size_t predicted = field_count<T>;
    for (;;) {
        if (!pending) {
            auto more = object.next();
            if (!more) return std::unexpected(more.error());
            if (!*more) break;
        }
        pending = false;
        std::size_t index = predicted;
        const bool as_predicted = object.template take_predicted<T>(index);
        if (!as_predicted) {
            if (auto e = object.key(scratch, key); !e) return e;
            const int found = field_index<T>(key);
            if (found < 0) {
                if (auto e = object.skip_member(); !e) return e;
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
            return Source<S>::fail(s, "duplicate field `" + std::string(name) + "`");
        }
        seen |= bit;
        if (auto e = object.colon(as_predicted); !e) return e;
        if (auto e = field_readers<T, S>[index](object.value(), out); !e) return e;
        predicted = index + 1;
    }
    return first_missing<T>(s, seen);
}

template <class S, class T, class Array>
Decoded<void> read_array_fields(S& s, Array& array, T& out) {
    Decoded<void> result;
    for_each_field<T>([&](auto i, const auto& f) {
        if (!result) return;
        auto more = array.next();
        if (!more) {
            result = std::unexpected(more.error());
        } else if (*more) {
            result = read_field(array.value(), out, f);
        } else if (f.presence != Presence::defaulted) {
            result = Source<S>::fail(s, invalid_length<T>(i.value));
        }
    });
    return result;
}

template <class S, class T>
Decoded<void> read_record(S& s, T& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (src::is_object(at)) return src::object(s, [&](auto& object) { return read_object_fields(s, object, out); });
    if (src::is_array(at)) return src::array(s, [&](auto& array) { return read_array_fields(s, array, out); });
    return src::wrong_type(s, at, expected_struct<T>());
}

template <class S, class Text>
CORVANE_HOT_INLINE Decoded<void> read_string(S& s, Text& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (!src::is_string(at)) return src::wrong_type(s, at, "a string");
    return src::string(s, out);
}

template <class S>
Decoded<void> read_bool(S& s, bool& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (!src::is_bool(at)) return src::wrong_type(s, at, "a boolean");
    return src::boolean(s, at, out);
}

template <class S, class I>
Decoded<void> read_integer(S& s, I& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (!src::is_number(at)) return src::wrong_type(s, at, integer_name<I>());
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<I>::max());
    if (std::uint64_t value = 0; src::plain_unsigned(s, value, max)) {
        out = static_cast<I>(value);
        return {};
    }
    auto text = src::number(s);
    if (!text) return std::unexpected(text.error());
    auto token = integer_token(*text, src::failure_offset(s));
    if (!token) return std::unexpected(token.error());
    return integer_from_token(s, *token, out);
}

template <class S, class E>
Decoded<void> read_enum(S& s, E& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (!src::is_string(at)) return src::not_a_name(s, at);
    if (const int taken = src::template take_variant<E>(s); taken >= 0) {
        out = static_cast<E>(taken);
        return {};
    }
    std::string scratch;
    std::string_view name;
    if (auto e = src::name(s, scratch, name); !e) return e;
    auto variant = variant_named<E>(name);
    if (!variant) return src::fail(s, unknown_variant<E>(name), src::failure_offset(s));
    out = *variant;
    return {};
}

// Into a `TextMap` (sorted, a key read twice keeping its last value) or `TextPairs` (as read).
template <class S, class Map>
Decoded<void> read_text_map(S& s, Map& out) {
    using src = Source<S>;
    using Text = typename Map::mapped_type;
    const auto at = src::peek(s);
    if (!src::is_object(at)) return src::wrong_type(s, at, "a map");
    return src::object(s, [&](auto& object) -> Decoded<void> {
        std::string scratch;
        std::string_view name;
        for (;;) {
            auto more = object.next();
            if (!more) return std::unexpected(more.error());
            if (!*more) return {};
            if (out.empty()) out.reserve(8);
            // Kept as a view, like the value; otherwise valid until the next key is read.
            if constexpr (std::is_same_v<Text, std::string_view>) {
                if (auto e = object.key_kept(name); !e) return e;
            } else {
                if (auto e = object.key(scratch, name); !e) return e;
            }
            if (auto e = object.colon(false); !e) return e;
            Text text{};
            if (auto e = read_string(object.value(), text); !e) return e;
            if constexpr (std::is_same_v<Map, TextPairs>)
                out.push_back(name, text);
            else
                out.insert_or_assign(name, std::move(text));
        }
    });
}

template <class S, class V>
Decoded<void> read_sequence(S& s, std::vector<V>& out) {
    using src = Source<S>;
    const auto at = src::peek(s);
    if (!src::is_array(at)) return src::wrong_type(s, at, "a sequence");
    return src::array(s, [&](auto& array) -> Decoded<void> {
        for (;;) {
            auto more = array.next();
            if (!more) return std::unexpected(more.error());
            if (!*more) return {};
            if (auto e = read(array.value(), out.emplace_back()); !e) return e;
        }
    });
}

template <class S, class T>
Decoded<void> read_optional(S& s, std::optional<T>& out) {
    auto null = Source<S>::null(s);
    if (!null) return std::unexpected(null.error());
    if (*null) {
        out.reset();
        return {};
    }
    return read(s, out.emplace());
}

}  // namespace detail

// Reads a T from the source at its place: from text, failures are placed in it; from a `Value`, the
// value is taken apart.
template <source S, class T>
Decoded<void> read(S& s, T& out) {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
                  std::is_same_v<T, RelayedString>) {
        return detail::read_string(s, out);
    } else if constexpr (std::is_same_v<T, bool>) {
        return detail::read_bool(s, out);
    } else if constexpr (std::is_integral_v<T>) {
        return detail::read_integer(s, out);
    } else if constexpr (detail::is_optional<T>::value) {
        return detail::read_optional(s, out);
    } else if constexpr (detail::record<T>) {
        return detail::read_record(s, out);
    } else if constexpr (detail::enumeration<T>) {
        return detail::read_enum(s, out);
    } else if constexpr (detail::is_text_map<T>::value) {
        return detail::read_text_map(s, out);
    } else if constexpr (detail::is_vector<T>::value) {
        return detail::read_sequence(s, out);
    } else {
        static_assert(std::is_same_v<T, Value>, "no JSON reader for this type");
        return Source<S>::value_into(s, out);
    }
}

namespace detail {

// Whether a T read from text holds views of it (and of the store its escaped strings go to).
template <class T>
constexpr bool holds_views() {
    if constexpr (std::is_same_v<T, std::string_view> || std::is_same_v<T, RelayedString> ||
                  std::is_same_v<T, TextPairs> || std::is_same_v<T, TextViewMap>) {
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

// The record is built where the caller receives it: one object returned on every path.
template <class T>
DecodeResult<T> read_whole(TextReader& reader) {
    DecodeResult<T> out{std::in_place};
    if (auto e = read(reader, *out); !e)
        out = std::unexpected(reader.decode_error(e.error()));
    else if (auto end = reader.end(); !end)
        out = std::unexpected(reader.decode_error(end.error()));
    return out;
}

template <class T>
DecodeResult<T> read_value(Value& value) {
    std::string worded;
    ValueReader reader{&value, &worded};
    T out{};
    if (auto e = read(reader, out); !e) return std::unexpected(decode_error(e.error(), worded));
    return out;
}

}  // namespace detail

// One whole text as a T: one value, whitespace around it, nothing after it. The T may view the text
// and `store`, and is valid as long as both are.
template <class T>
DecodeResult<T> from_text(std::string_view text, TextStore& store) {
    TextReader reader(text, &store);
    return detail::read_whole<T>(reader);
}

// The same for a T that owns all its texts.
template <class T>
DecodeResult<T> from_text(std::string_view text) {
    static_assert(!detail::holds_views<T>(), "a record of views is read with a store");
    TextReader reader(text);
    return detail::read_whole<T>(reader);
}

template <class T>
DecodeResult<T> from_value(Value&& value) {
    static_assert(!detail::holds_views<T>(), "a record of views is read with a store");
    return detail::read_value<T>(value);
}

// A T that may view the value's texts: the value is kept in `store`.
template <class T>
DecodeResult<T> from_value(Value&& value, TextStore& store) {
    return detail::read_value<T>(store.hold(std::move(value)));
}

}  // namespace corvane_bo_json
