// Writing records, enumerations and the other mapped types as compact JSON, keys in byte order.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/value.hpp"
#include "corvane_bo/json/write.hpp"

namespace corvane_bo_json {

template <class T>
void write_json(const T& value, Writer& out);

namespace detail {

// The members written as strings in the same claim of room as their key.
template <class M>
constexpr bool is_text = std::is_same_v<M, std::string> || std::is_same_v<M, std::string_view> ||
                         std::is_same_v<M, RelayedString>;
template <class M>
constexpr bool is_optional_text = false;
template <class M>
constexpr bool is_optional_text<std::optional<M>> = is_text<M>;

template <class T>
constexpr auto keys_in_byte_order() {
    std::array<std::size_t, field_count<T>> order{};
    std::array<std::string_view, field_count<T>> keys{};
    for_each_field<T>([&](auto i, const auto& f) {
        order[i.value] = i.value;
        keys[i.value] = f.key;
    });
    for (std::size_t i = 1; i < order.size(); ++i)
        for (std::size_t j = i; j > 0 && keys[order[j]] < keys[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    return order;
}

// What precedes the value of the field written `position`-th: `{"key":` for the first, `,"key":` for
// the others, appended as one piece. Keys are plain names that need no escaping.
template <class T, std::size_t position>
constexpr auto key_prefix() {
    constexpr std::string_view key = key_of<T, keys_in_byte_order<T>()[position]>;
    std::array<char, key.size() + 4> text{};
    text[0] = position == 0 ? '{' : ',';
    text[1] = '"';
    for (std::size_t i = 0; i < key.size(); ++i) text[2 + i] = key[i];
    text[key.size() + 2] = '"';
    text[key.size() + 3] = ':';
    return text;
}

template <class T, std::size_t position>
inline constexpr auto key_prefix_v = key_prefix<T, position>();

// Whether E is an enumeration every name of which is written as it is, with no byte to escape.
template <class E>
constexpr bool plain_names() {
    if constexpr (!enumeration<E>) {
        return false;
    } else {
        for (const std::string_view name : Variants<E>::names) {
            for (const char c : name) {
                if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') return false;
            }
        }
        return true;
    }
}

// Each variant of an enumeration as written after `prefix`: the prefix and the quoted name, padded
// to one width so that any of them is copied in a single move of constant size.
template <class E, std::size_t prefix_size>
struct VariantTexts {
    static constexpr std::size_t width = [] {
        std::size_t longest = 0;
        for (const std::string_view name : Variants<E>::names) longest = name.size() > longest ? name.size() : longest;
        return prefix_size + longest + 2;
    }();
    std::array<std::array<char, width>, Variants<E>::names.size()> text{};
    std::array<std::size_t, Variants<E>::names.size()> size{};
};

template <class E, std::size_t prefix_size>
constexpr VariantTexts<E, prefix_size> variant_texts(const std::array<char, prefix_size>& prefix) {
    VariantTexts<E, prefix_size> texts;
    for (std::size_t v = 0; v < Variants<E>::names.size(); ++v) {
        const std::string_view name = Variants<E>::names[v];
        auto& text = texts.text[v];
        std::size_t n = 0;
        for (const char c : prefix) text[n++] = c;
        text[n++] = '"';
        for (const char c : name) text[n++] = c;
        text[n++] = '"';
        texts.size[v] = n;
    }
    return texts;
}

template <class E, auto prefix>
inline constexpr auto variant_texts_v = variant_texts<E>(prefix);

// An enumeration's name after `prefix`, in one claim of room and one copy.
template <class E, auto prefix>
CORVANE_HOT_INLINE void write_variant(E value, Writer& out) {
    constexpr const auto& texts = variant_texts_v<E, prefix>;
    const auto& text = texts.text[static_cast<std::size_t>(value)];
    char* w = out.room(text.size());
    std::memcpy(w, text.data(), text.size());
    out.advance(w + texts.size[static_cast<std::size_t>(value)]);
}

inline constexpr std::array<char, 0> no_prefix{};

template <class T>
void write_record(const T& record, Writer& out) {
    static constexpr auto order = keys_in_byte_order<T>();
    if constexpr (field_count<T> == 0) out.put('{');
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                const auto& f = std::get<order[I]>(Fields<T>::list);
                using F = std::remove_cvref_t<decltype(f)>;
                using M = typename F::member_type;
                constexpr std::string_view prefix(key_prefix_v<T, I>.data(), key_prefix_v<T, I>.size());
                const auto& member = record.*(f.member);
                if constexpr (!std::is_same_v<typename F::codec, OwnCodec>) {
                    out.append(prefix);
                    F::codec::write(member, out);
                } else if constexpr (is_text<M>) {
                    write_string(member, out, prefix);
                } else if constexpr (is_optional_text<M>) {
                    if (member) {
                        write_string(*member, out, prefix);
                    } else {
                        out.append(prefix);
                        out.append("null");
                    }
                } else if constexpr (plain_names<M>()) {
                    write_variant<M, key_prefix_v<T, I>>(member, out);
                } else {
                    out.append(prefix);
                    write_json(member, out);
                }
            }(),
            ...);
    }(std::make_index_sequence<field_count<T>>{});
    out.put('}');
}

}  // namespace detail

template <class T>
void write_json(const T& value, Writer& out) {
    if constexpr (detail::is_text<T>) {
        write_string(value, out);
    } else if constexpr (std::is_same_v<T, bool>) {
        out.append(value ? "true" : "false");
    } else if constexpr (std::is_same_v<T, Number>) {
        out.append(value.text);
    } else if constexpr (std::is_integral_v<T>) {
        char* w = out.room(24);
        out.advance(std::to_chars(w, w + 24, value).ptr);
    } else if constexpr (detail::is_optional<T>::value) {
        if (value)
            write_json(*value, out);
        else
            out.append("null");
    } else if constexpr (detail::record<T>) {
        detail::write_record(value, out);
    } else if constexpr (detail::enumeration<T>) {
        if constexpr (detail::plain_names<T>())
            detail::write_variant<T, detail::no_prefix>(value, out);
        else
            write_string(Variants<T>::names[static_cast<std::size_t>(value)], out);
    } else if constexpr (detail::is_text_map<T>::value) {
        char lead = '{';
        for (const auto& [key, text] : value) {
            write_text_member(lead, key, text, out);
            lead = ',';
        }
        if (lead == '{') out.put('{');
        out.put('}');
    } else if constexpr (detail::is_vector<T>::value) {
        out.put('[');
        bool first = true;
        for (const auto& element : value) {
            if (!first) out.put(',');
            first = false;
            write_json(element, out);
        }
        out.put(']');
    } else {
        static_assert(std::is_same_v<T, Value>, "no JSON writer for this type");
        write(value, out);
    }
}

// Into a std::string, after what it holds.
template <class T>
void write_json(const T& value, std::string& out) {
    Writer::append_to(out, 0, [&value](Writer& writer) { write_json(value, writer); });
}

template <class T>
std::string to_json_text(const T& value) {
    std::string out;
    write_json(value, out);
    return out;
}

}  // namespace corvane_bo_json