// A decoded JSON value. Numbers keep the exact text they were read with (they never pass through
// binary floating point) and objects keep their keys unique and in ascending byte order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane_bo_json {

struct Value;
struct Member;

using Array = std::vector<Value>;

struct Number {
    std::string text;
    friend bool operator==(const Number&, const Number&) = default;
};

// The text a number read from JSON keeps: its own, except that "-0" is the integer 0, like every
// other integer that fits 64 bits.
constexpr std::string_view kept_number_text(std::string_view text) { return text == "-0" ? "0" : text; }

// A map from text to value ordered by the bytes of the key.
class Object {
public:
    Object() = default;
    // Takes members in any order; a key given twice keeps its last value.
    static Object from_members(std::vector<Member> members);

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // Inserts or replaces; keeps the order.
    void set(std::string key, Value value);

    std::size_t size() const;  // defined below `Member`, as Value's constructors are
    bool empty() const { return members_.empty(); }
    auto begin() const { return members_.begin(); }
    auto end() const { return members_.end(); }
    auto begin() { return members_.begin(); }
    auto end() { return members_.end(); }

    friend bool operator==(const Object&, const Object&);

private:
    std::vector<Member> members_;
};

struct Value {
    using Storage = std::variant<std::nullptr_t, bool, Number, std::string, Array, Object>;
    Storage data;

    // Defined below `Member`: constructing the variant needs Object's members complete, and clang
    // (unlike GCC) instantiates that where the constructor is defined.
    Value();
    Value(std::nullptr_t);
    Value(bool b);
    Value(Number n);
    Value(std::string s);
    Value(std::string_view s);
    Value(const char* s);
    Value(Array a);
    Value(Object o);
    // Integers are written in plain decimal.
    static Value integer(long long v);
    static Value unsigned_integer(unsigned long long v);

    bool is_null() const { return std::holds_alternative<std::nullptr_t>(data); }
    template <class T> const T* get() const { return std::get_if<T>(&data); }
    template <class T> T* get() { return std::get_if<T>(&data); }

    friend bool operator==(const Value&, const Value&) = default;
};

struct Member {
    std::string key;
    Value value;
    friend bool operator==(const Member&, const Member&) = default;
};

inline Value::Value() : data(nullptr) {}
inline Value::Value(std::nullptr_t) : data(nullptr) {}
inline Value::Value(bool b) : data(b) {}
inline Value::Value(Number n) : data(std::move(n)) {}
inline Value::Value(std::string s) : data(std::move(s)) {}
inline Value::Value(std::string_view s) : data(std::string(s)) {}
inline Value::Value(const char* s) : data(std::string(s)) {}
inline Value::Value(Array a) : data(std::move(a)) {}
inline Value::Value(Object o) : data(std::move(o)) {}
inline Value Value::integer(long long v) { return Value(Number{std::to_string(v)}); }
inline Value Value::unsigned_integer(unsigned long long v) { return Value(Number{std::to_string(v)}); }

inline std::size_t Object::size() const { return members_.size(); }
inline bool operator==(const Object& a, const Object& b) { return a.members_ == b.members_; }

}  // namespace corvane_bo_json
