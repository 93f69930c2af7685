// JSON text as a source of the record mapping: every failure is placed in the text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/source.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

namespace detail {

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

struct TextObject {
    using source_type = TextReader;
    TextReader& r;
    bool first = true;

    Decoded<bool> next() { return r.next_key_start(first); }
    // Objects are read with the keys expected in declaration order: when the text at the next key is
    // `"key":` of field `index`, the key and its quotes are taken without scanning and looking it up.
    // Any other key (reordered, unknown, escaped, spaced before its colon) is read the general way,
    // so that the outcome is the same either way.
    template <class T>
    bool take_predicted(std::size_t index) noexcept {
        if (index >= field_count<T> || key_patterns<T>[index].care == 0 || !r.at(key_patterns<T>[index]))
            return false;
        r.skip(key_patterns<T>[index].size - 1);
        return true;
    }
    // Valid until the next key is read (it may lie in `scratch`).
    Decoded<void> key(std::string& scratch, std::string_view& out) { return r.key(scratch, out); }
    Decoded<void> key_kept(std::string_view& out) {
        r.eat();
        return r.string_kept(out);
    }
    // After a predicted key its colon is known to follow.
    Decoded<void> colon(bool predicted) {
        if (!predicted) return r.object_colon();
        r.skip(1);
        return {};
    }
    Decoded<void> skip_member() {
        if (auto e = r.object_colon(); !e) return e;
        return r.skip_value();
    }
    TextReader& value() { return r; }
};

struct TextArray {
    TextReader& r;
    bool first = true;

    Decoded<bool> next() { return r.next_element(first); }
    TextReader& value() { return r; }
};

}  // namespace detail

template <>
struct Source<TextReader> {
    // The next byte, whitespace skipped, or -1 at the end.
    using Peeked = int;

    static int peek(TextReader& r) noexcept { return r.skip_whitespace(); }
    static bool is_string(int c) noexcept { return c == '"'; }
    static bool is_bool(int c) noexcept { return c == 't' || c == 'f'; }
    static bool is_number(int c) noexcept { return c == '-' || (c >= '0' && c <= '9'); }
    static bool is_object(int c) noexcept { return c == '{'; }
    static bool is_array(int c) noexcept { return c == '['; }

    static std::unexpected<DecodeError> wrong_type(TextReader& r, int c, std::string_view expected) {
        if (c < 0) return r.peek_error(Syntax::eof_value);
        return r.invalid_type(expected);
    }
    static std::unexpected<DecodeError> not_a_name(TextReader& r, int c) {
        return r.peek_error(c < 0 ? Syntax::eof_value : Syntax::expected_value);
    }

    static Decoded<void> string(TextReader& r, std::string& out) {
        r.eat();
        return r.string_into(out);
    }
    // Viewed in the text, or in its unescaped copy in the reader's store.
    static Decoded<void> string(TextReader& r, std::string_view& out) {
        r.eat();
        return r.string_kept(out);
    }
    static Decoded<void> name(TextReader& r, std::string& scratch, std::string_view& out) {
        r.eat();
        return r.string(scratch, out);
    }
    static Decoded<void> boolean(TextReader& r, int c, bool& out) {
        if (auto e = r.literal(c); !e) return e;
        out = c == 't';
        return {};
    }
    static bool plain_unsigned(TextReader& r, std::uint64_t& value, std::uint64_t max) noexcept {
        return r.plain_unsigned(value, max);
    }
    static Decoded<std::string_view> number(TextReader& r) { return r.number(); }
    static Decoded<bool> null(TextReader& r) { return r.null(); }
    static Decoded<void> value_into(TextReader& r, Value& out) { return r.value_into(out); }
    static std::size_t failure_offset(const TextReader& r) noexcept { return r.offset(); }

    template <class Body>
    static Decoded<void> object(TextReader& r, Body&& body) {
        return r.in_object([&] {
            detail::TextObject walker{r};
            return body(walker);
        });
    }
    template <class Body>
    static Decoded<void> array(TextReader& r, Body&& body) {
        return r.in_array([&] {
            detail::TextArray walker{r};
            return body(walker);
        });
    }
};

}  // namespace corvane_bo_json
