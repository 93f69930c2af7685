// JSON text as a source of the record mapping: every failure is placed in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/source.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

namespace detail {

// A name known at compile time written as JSON, `"name"` or, for a key, `"name":`, compared with
// the text a word at a time against constants: one load, xor and or per eight bytes, the last word
// overlapping the one before it. Longer names than the widest such comparison are not taken this way.
template <const std::string_view& name, bool colon>
struct QuotedWords {
    static constexpr std::size_t size = name.size() + 2 + (colon ? 1 : 0);
    static constexpr bool comparable = size <= 40;
    // The bytes read: the text must hold this many at the reader.
    static constexpr std::size_t read = size < 8 ? 8 : size;
    static constexpr std::size_t words = (read + 7) / 8;

    static constexpr std::uint64_t byte(std::size_t k) {
        if (k >= size) return 0;
        if (k == 0 || k == name.size() + 1) return '"';
        if (k == name.size() + 2) return ':';
        return static_cast<unsigned char>(name[k - 1]);
    }
    static constexpr std::size_t offset(std::size_t j) { return j + 1 < words ? 8 * j : read - 8; }
    static constexpr std::uint64_t word(std::size_t j) {
        std::uint64_t w = 0;
        for (std::size_t b = 0; b < 8; ++b) w |= byte(offset(j) + b) << (8 * b);
        return w;
    }
    static constexpr std::uint64_t care = size < 8 ? (std::uint64_t{1} << (8 * size)) - 1 : ~std::uint64_t{0};

    static bool at(const char* p) noexcept {
        return [p]<std::size_t... J>(std::index_sequence<J...>) {
            return (((scan::load_word(p + offset(J)) ^ word(J)) | ...) & care) == 0;
        }(std::make_index_sequence<words>{});
    }
    // At the reader after `lead` bytes, which it then steps over with all but the last `left` of it.
    static bool take(TextReader& r, std::size_t lead = 0, std::size_t left = 0) noexcept {
        if constexpr (comparable) {
            const char* p = r.ahead(read + lead);
            if (p == nullptr || !at(p + lead)) return false;
            r.skip(lead + size - left);
            return true;
        }
        return false;
    }
};

template <class T, std::size_t I>
using KeyText = QuotedWords<key_of<T, I>, true>;

template <class E, std::size_t I>
inline constexpr std::string_view variant_of = Variants<E>::names[I];

struct TextObject {
    using source_type = TextReader;
    TextReader& r;
    bool first = true;

    Decoded<bool> next() { return r.next_key_start(first); }
    // Objects are read with the keys expected in declaration order: when the text at the next key is
    // `"key":` of field I, the key, its quotes and its colon are taken without scanning and looking
    // it up. Any other key (reordered, unknown, escaped, spaced before its colon) is read the general
    // way, so that the outcome is the same either way. Here the key at the reader and its colon.
    template <class T, std::size_t I>
    bool take_key() noexcept {
        return KeyText<T, I>::take(r);
    }
    // The same with the separator before it (`, ` or `,` after a member, nothing before the first),
    // when the text is just that; otherwise nothing is consumed, and `next` and `take_key` follow.
    template <class T, std::size_t I>
    bool take_next_key() noexcept {
        using K = KeyText<T, I>;
        if constexpr (K::comparable) {
            const char* p = r.ahead(K::read + 2);
            if (p == nullptr) return false;
            std::size_t lead = 0;
            if (!first) {
                if (p[0] != ',') return false;
                lead = p[1] == ' ' ? 2 : 1;
            }
            if (!K::at(p + lead)) return false;
            first = false;
            r.skip(lead + K::size);
            return true;
        }
        return false;
    }
    // Out of it, the key that follows the last one read: the colon is left for after the duplicate test.
    template <class T>
    bool take_predicted(std::size_t index) noexcept {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return ((index == I && KeyText<T, I>::take(r, 0, 1)) || ...);
        }(std::make_index_sequence<field_count<T>>{});
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

    static std::unexpected<Failed> wrong_type(TextReader& r, int c, std::string_view expected) {
        if (c < 0) return r.peek_error(Syntax::eof_value);
        return r.invalid_type(expected);
    }
    static std::unexpected<Failed> not_a_name(TextReader& r, int c) {
        return r.peek_error(c < 0 ? Syntax::eof_value : Syntax::expected_value);
    }
    static std::unexpected<Failed> fail(TextReader& r, std::string message, std::size_t offset = DecodeError::unplaced) {
        return r.fail(std::move(message), offset);
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
    static Decoded<void> string(TextReader& r, RelayedString& out) {
        r.eat();
        return r.string_relayed(out);
    }
    // The index of the variant of E whose name, quoted, is at the reader (which then steps over it),
    // or -1 with nothing consumed.
    template <class E>
    static int take_variant(TextReader& r) noexcept {
        int found = -1;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (void)((detail::QuotedWords<detail::variant_of<E, I>, false>::take(r) && (found = static_cast<int>(I), true)) ||
                   ...);
        }(std::make_index_sequence<Variants<E>::names.size()>{});
        return found;
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
