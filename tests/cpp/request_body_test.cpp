// Request bodies written in both forms at once: each form must be what the general writers make of
// the record, whether every text is plain or one needs escaping (which takes the general way).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "corvane_bo/core/http.hpp"
#include "corvane_bo/core/request_body.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

struct Inner {
    std::string_view url;
    std::uint64_t count = 0;
};

struct Outer {
    std::string_view text;
    std::int64_t signed_number = 0;
    corvane_bo_json::Number amount;
    Inner inner;
    std::string_view last;
};

}  // namespace

template <>
struct corvane_bo_json::Fields<Inner> {
    static constexpr std::string_view name = "Inner";
    static constexpr auto list = std::tuple{field("url", &Inner::url), field("count", &Inner::count)};
};

template <>
struct corvane_bo_json::Fields<Outer> {
    static constexpr std::string_view name = "Outer";
    static constexpr auto list = std::tuple{
        field("text", &Outer::text),       field("z_signed", &Outer::signed_number), field("amount", &Outer::amount),
        field("inner", &Outer::inner),     field("last", &Outer::last),
    };
};

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

TEST(RequestBody, BothFormsAreWhatTheGeneralWritersMake) {
    const std::string long_plain(300, 'x');
    const std::string long_with_quote = std::string(40, 'y') + "\"" + std::string(40, 'y');
    const struct {
        std::string_view text;
        std::string_view last;
        std::string_view url;
    } cases[] = {
        {"Pedido 10482 - Tienda Ejemplo", "v", "https://h/x"},
        {"", "", ""},
        {"Mar\xc3\xad" "a \xe2\x82\xac", "\xf0\x9f\x98\x80", "15 bytes plain."},
        {long_plain, "sixteen bytes ok", long_plain},
        // Each needs escaping somewhere, short or long, first or last or nested.
        {"a\"b", "v", "u"},
        {"tab\there", "v", "u"},
        {"v", "back\\slash", "u"},
        {"v", "v", long_with_quote},
        {"v", "v", std::string_view("nul\0byte", 8)},
        {"\x7f\x1f", "v", "u"},
    };
    for (const auto& c : cases) {
        for (const std::int64_t signed_number : {std::numeric_limits<std::int64_t>::min(), std::int64_t{0}}) {
            const Outer record{c.text, signed_number, json::Number{"150.5"},
                               Inner{c.url, std::numeric_limits<std::uint64_t>::max()}, c.last};
            json::TextStore store;
            const core::RequestBody body = core::write_body(record, store);
            const std::string text = json::to_json_text(record);
            std::string in_string;
            json::write_string(text, in_string);
            EXPECT_EQ(body.text, text);
            EXPECT_EQ(body.in_string, in_string) << text;
        }
    }
}

// Bodies past the store's first room, and many in one store: every view stays where it was written.
TEST(RequestBody, ViewsOutliveLaterBodiesInTheStore) {
    const std::string big(5000, 'b');
    json::TextStore store;
    const Outer small{"s", 1, json::Number{"2"}, Inner{"u", 3}, "l"};
    const Outer large{big, 1, json::Number{"2"}, Inner{big, 3}, "l"};
    const core::RequestBody first = core::write_body(small, store);
    const core::RequestBody second = core::write_body(large, store);
    const core::RequestBody third = core::write_body(small, store);
    EXPECT_EQ(first.text, json::to_json_text(small));
    EXPECT_EQ(second.text, json::to_json_text(large));
    EXPECT_EQ(third.text, first.text);
    EXPECT_EQ(third.in_string, first.in_string);
}

// The request writes the body's string form as it was written, or escapes the text when there is none.
TEST(RequestBody, RequestWritesEitherFormTheSame) {
    json::TextStore store;
    const core::RequestBody body = core::write_body(Outer{"a", 1, json::Number{"2"}, Inner{"u", 3}, "z"}, store);
    const core::HttpRequest both{core::Method::POST, "u", {}, body};
    const core::HttpRequest text_only{core::Method::POST, "u", {}, core::RequestBody{.text = body.text}};
    EXPECT_EQ(json::to_json_text(both), json::to_json_text(text_only));
}

}  // namespace
