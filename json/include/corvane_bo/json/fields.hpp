// The field tables that records and enumerations declare their JSON form with:
//
//     template <> struct corvane_bo_json::Fields<VerifyQr> {
//         static constexpr std::string_view name = "VerifyQr";
//         static constexpr auto list = std::tuple{
//             field("kind", &VerifyQr::kind, defaulted),
//             field("reference", &VerifyQr::reference),
//         };
//     };
//
// record.hpp holds the generic reading and writing of every type so declared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane_bo/json/text_map.hpp"

namespace corvane_bo_json {

// TextMap (text_map.hpp): header maps; a key read twice keeps its last value.

// Specialised per record: `name` and `list`, a tuple of `field(...)` descriptors.
template <class T>
struct Fields;

// Specialised per enumeration: `names`, the JSON names of its variants in declaration order (the
// enumerators must be 0, 1, 2, ...).
template <class E>
struct Variants;

enum class Presence : std::uint8_t { required, defaulted };
inline constexpr Presence required = Presence::required;
// A defaulted field keeps the value it was initialised with when it is missing, from an object or
// from the end of an array.
inline constexpr Presence defaulted = Presence::defaulted;

// The member type's own reading and writing.
struct OwnCodec {};

template <class Owner, class Member, class Codec>
struct Field {
    using owner_type = Owner;
    using member_type = Member;
    using codec = Codec;

    std::string_view key;
    Member Owner::*member;
    Presence presence = Presence::required;
    std::string_view alias = {};

    constexpr Field also(std::string_view other_name) const {
        Field copy = *this;
        copy.alias = other_name;
        return copy;
    }
    constexpr bool named(std::string_view text) const { return text == key || (!alias.empty() && text == alias); }
};

template <class Codec = OwnCodec, class Owner, class Member>
constexpr Field<Owner, Member, Codec> field(std::string_view key, Member Owner::*member,
                                            Presence presence = Presence::required) {
    return {key, member, presence, {}};
}


// ---------------------------------------------------------------------------------------------
namespace detail {

template <class T> struct is_optional : std::false_type {};
template <class T> struct is_optional<std::optional<T>> : std::true_type {};
template <class T> struct is_vector : std::false_type {};
template <class T> struct is_text_map : std::false_type {};
template <class Text> struct is_text_map<BasicTextMap<Text>> : std::true_type {};
template <> struct is_text_map<TextPairs> : std::true_type {};
template <class T, class A> struct is_vector<std::vector<T, A>> : std::true_type {};

template <class T>
concept record = requires { Fields<T>::name; Fields<T>::list; };
template <class T>
concept enumeration = std::is_enum_v<T> && requires { Variants<T>::names; };

template <class T>
constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(Fields<T>::list)>>;

template <class T, class F>
constexpr void for_each_field(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (f(std::integral_constant<std::size_t, I>{}, std::get<I>(Fields<T>::list)), ...);
    }(std::make_index_sequence<field_count<T>>{});
}

template <class T, std::size_t I>
inline constexpr std::string_view key_of = std::get<I>(Fields<T>::list).key;
template <class T, std::size_t I>
inline constexpr std::string_view alias_of = std::get<I>(Fields<T>::list).alias;

}  // namespace detail

}  // namespace corvane_bo_json
