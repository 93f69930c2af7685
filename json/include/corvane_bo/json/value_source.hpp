// An already decoded `Value` as a source of the record mapping, taken apart as it is read (its texts
// are moved out). Its failures have no place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/relayed.hpp"
#include "corvane_bo/json/source.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// The value the mapping is at, and where the text of a failure found in it is kept for the read
// that began it.
struct ValueReader {
    Value* at;
    std::string* worded;

    std::unexpected<Failed> fail(std::string message) const {
        *worded = std::move(message);
        return std::unexpected(Failed::worded());
    }
};

namespace detail {

std::string found_in(const Value& value);

// A decoded object has no key twice, nor any punctuation to check.
struct ValueObject {
    using source_type = ValueReader;
    Object& object;
    ValueReader member_reader;
    decltype(object.begin()) at = object.begin();
    Member* member = nullptr;

    Decoded<bool> next() noexcept {
        if (at == object.end()) return false;
        member = &*at++;
        member_reader.at = &member->value;
        return true;
    }
    template <class T, std::size_t I>
    bool take_next_key() noexcept { return false; }
    template <class T, std::size_t I>
    bool take_key() noexcept { return false; }
    template <class T>
    bool take_predicted(std::size_t) noexcept { return false; }
    Decoded<void> key(std::string&, std::string_view& out) noexcept {
        out = member->key;
        return {};
    }
    Decoded<void> key_kept(std::string_view& out) noexcept {
        out = member->key;
        return {};
    }
    Decoded<void> colon(bool) noexcept { return {}; }
    Decoded<void> skip_member() noexcept { return {}; }
    ValueReader& value() noexcept { return member_reader; }
};

struct ValueArray {
    Array& array;
    ValueReader element_reader;
    std::size_t next_index = 0;

    Decoded<bool> next() noexcept { return next_index < array.size(); }
    ValueReader& value() noexcept {
        element_reader.at = &array[next_index++];
        return element_reader;
    }
};

}  // namespace detail

template <>
struct Source<ValueReader> {
    using Peeked = const Value*;

    static const Value* peek(const ValueReader& r) noexcept { return r.at; }
    static bool is_string(const Value* v) noexcept { return v->get<std::string>() != nullptr; }
    static bool is_bool(const Value* v) noexcept { return v->get<bool>() != nullptr; }
    static bool is_number(const Value* v) noexcept { return v->get<Number>() != nullptr; }
    static bool is_object(const Value* v) noexcept { return v->get<Object>() != nullptr; }
    static bool is_array(const Value* v) noexcept { return v->get<Array>() != nullptr; }

    static std::unexpected<Failed> wrong_type(const ValueReader& r, const Value* v, std::string_view expected) {
        return r.fail("invalid type: " + detail::found_in(*v) + ", expected " + std::string(expected));
    }
    static std::unexpected<Failed> not_a_name(const ValueReader& r, const Value* v) {
        return wrong_type(r, v, "a string");
    }
    // Failures found in a value have no place.
    static std::unexpected<Failed> fail(const ValueReader& r, std::string message, std::size_t = DecodeError::unplaced) {
        return r.fail(std::move(message));
    }

    static Decoded<void> string(ValueReader& r, std::string& out) {
        out = std::move(*r.at->get<std::string>());
        return {};
    }
    // A view of the value's own text: the value is kept while the record is used.
    static Decoded<void> string(ValueReader& r, std::string_view& out) {
        out = *r.at->get<std::string>();
        return {};
    }
    // A decoded string no longer tells whether it held escapes: it is written with the escape check.
    static Decoded<void> string(ValueReader& r, RelayedString& out) {
        out = {*r.at->get<std::string>(), false};
        return {};
    }
    template <class E>
    static int take_variant(ValueReader&) noexcept { return -1; }
    static Decoded<void> name(ValueReader& r, std::string&, std::string_view& out) { return string(r, out); }
    static Decoded<void> boolean(ValueReader&, const Value* v, bool& out) {
        out = *v->get<bool>();
        return {};
    }
    static bool plain_unsigned(ValueReader&, std::uint64_t&, std::uint64_t) noexcept { return false; }
    static Decoded<std::string_view> number(ValueReader& r) { return std::string_view(r.at->get<Number>()->text); }
    static Decoded<bool> null(const ValueReader& r) noexcept { return r.at->is_null(); }
    static Decoded<void> value_into(ValueReader& r, Value& out) {
        out = std::move(*r.at);
        return {};
    }
    static std::size_t failure_offset(const ValueReader&) noexcept { return DecodeError::unplaced; }

    template <class Body>
    static Decoded<void> object(ValueReader& r, Body&& body) {
        detail::ValueObject walker{*r.at->get<Object>(), ValueReader{nullptr, r.worded}};
        return body(walker);
    }
    // Unlike text, where an element past the last field is not a value the record reads, a decoded
    // array may be longer than the record.
    template <class Body>
    static Decoded<void> array(ValueReader& r, Body&& body) {
        detail::ValueArray walker{*r.at->get<Array>(), ValueReader{nullptr, r.worded}};
        if (auto e = body(walker); !e) return e;
        if (walker.next_index < walker.array.size())
            return r.fail("invalid length " + std::to_string(walker.array.size()) +
                          ", expected fewer elements in array");
        return {};
    }
};

}  // namespace corvane_bo_json
