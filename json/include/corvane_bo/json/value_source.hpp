// An already decoded `Value` as a source of the record mapping, taken apart as it is read (its texts
// are moved out). Its failures have no place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/source.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

namespace detail {

std::string found_in(const Value& value);

inline std::unexpected<DecodeError> value_type_error(const Value& v, std::string_view expected) {
    return fail("invalid type: " + found_in(v) + ", expected " + std::string(expected));
}

// A decoded object has no key twice, nor any punctuation to check.
struct ValueObject {
    using source_type = Value;
    Object& object;
    decltype(object.begin()) at = object.begin();
    Member* member = nullptr;

    Decoded<bool> next() noexcept {
        if (at == object.end()) return false;
        member = &*at++;
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
    Value& value() noexcept { return member->value; }
};

struct ValueArray {
    Array& array;
    std::size_t next_index = 0;

    Decoded<bool> next() noexcept { return next_index < array.size(); }
    Value& value() noexcept { return array[next_index++]; }
};

}  // namespace detail

template <>
struct Source<Value> {
    using Peeked = const Value*;

    static const Value* peek(const Value& v) noexcept { return &v; }
    static bool is_string(const Value* v) noexcept { return v->get<std::string>() != nullptr; }
    static bool is_bool(const Value* v) noexcept { return v->get<bool>() != nullptr; }
    static bool is_number(const Value* v) noexcept { return v->get<Number>() != nullptr; }
    static bool is_object(const Value* v) noexcept { return v->get<Object>() != nullptr; }
    static bool is_array(const Value* v) noexcept { return v->get<Array>() != nullptr; }

    static std::unexpected<DecodeError> wrong_type(const Value&, const Value* v, std::string_view expected) {
        return detail::value_type_error(*v, expected);
    }
    static std::unexpected<DecodeError> not_a_name(const Value&, const Value* v) {
        return detail::value_type_error(*v, "a string");
    }

    static Decoded<void> string(Value& v, std::string& out) {
        out = std::move(*v.get<std::string>());
        return {};
    }
    // A view of the value's own text: the value is kept while the record is used.
    static Decoded<void> string(Value& v, std::string_view& out) {
        out = *v.get<std::string>();
        return {};
    }
    template <class E>
    static int take_variant(Value&) noexcept { return -1; }
    static Decoded<void> name(Value& v, std::string&, std::string_view& out) { return string(v, out); }
    static Decoded<void> boolean(Value&, const Value* v, bool& out) {
        out = *v->get<bool>();
        return {};
    }
    static bool plain_unsigned(Value&, std::uint64_t&, std::uint64_t) noexcept { return false; }
    static Decoded<std::string_view> number(Value& v) { return std::string_view(v.get<Number>()->text); }
    static Decoded<bool> null(const Value& v) noexcept { return v.is_null(); }
    static Decoded<void> value_into(Value& v, Value& out) {
        out = std::move(v);
        return {};
    }
    static std::size_t failure_offset(const Value&) noexcept { return DecodeError::unplaced; }

    template <class Body>
    static Decoded<void> object(Value& v, Body&& body) {
        detail::ValueObject walker{*v.get<Object>()};
        return body(walker);
    }
    // Unlike text, where an element past the last field is not a value the record reads, a decoded
    // array may be longer than the record.
    template <class Body>
    static Decoded<void> array(Value& v, Body&& body) {
        detail::ValueArray walker{*v.get<Array>()};
        if (auto e = body(walker); !e) return e;
        if (walker.next_index < walker.array.size())
            return fail("invalid length " + std::to_string(walker.array.size()) +
                        ", expected fewer elements in array");
        return {};
    }
};

}  // namespace corvane_bo_json
