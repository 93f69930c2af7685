// Record mapping: one field table read from text (failures placed) and from a decoded value (failures
// without place), in object and array form, and written back with keys in byte order.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "corvane_bo/json/record.hpp"

namespace json = corvane_bo_json;

namespace {

enum class Size { small, large, huge };
// Names that must be escaped are written the long way.
enum class Quirk { plain, quoted, empty };

struct Tagged {
    Quirk quirk = Quirk::plain;
    Size size = Size::small;
};

struct Inner {
    std::string id;
    std::optional<std::string> note;
};

struct Views {
    std::string_view first;
    std::optional<std::string_view> second;
    std::vector<std::string_view> rest;
};

struct Relayed {
    json::RelayedString text;
};

struct Sample {
    Size size = Size::small;
    std::string name;
    std::uint16_t port = 0;
    std::int64_t offset = 0;
    std::optional<Inner> inner;
    std::optional<bool> flag;
    std::uint64_t count = 7;
};

}  // namespace

template <>
struct corvane_bo_json::Variants<Size> {
    static constexpr std::array<std::string_view, 3> names = {"small", "large", "huge"};
};

template <>
struct corvane_bo_json::Variants<Quirk> {
    static constexpr std::array<std::string_view, 3> names = {"plain", "say \"hi\"\n", ""};
};

template <>
struct corvane_bo_json::Fields<Tagged> {
    static constexpr std::string_view name = "Tagged";
    static constexpr auto list = std::tuple{field("size", &Tagged::size), field("a", &Tagged::quirk)};
};

template <>
struct corvane_bo_json::Fields<Inner> {
    static constexpr std::string_view name = "Inner";
    static constexpr auto list = std::tuple{field("id", &Inner::id).also("ident"), field("note", &Inner::note)};
};

template <>
struct corvane_bo_json::Fields<Views> {
    static constexpr std::string_view name = "Views";
    static constexpr auto list = std::tuple{field("first", &Views::first), field("second", &Views::second),
                                            field("rest", &Views::rest)};
};

template <>
struct corvane_bo_json::Fields<Relayed> {
    static constexpr std::string_view name = "Relayed";
    static constexpr auto list = std::tuple{field("text", &Relayed::text)};
};

template <>
struct corvane_bo_json::Fields<Sample> {
    static constexpr std::string_view name = "Sample";
    static constexpr auto list = std::tuple{
        field("size", &Sample::size, defaulted), field("name", &Sample::name),
        field("port", &Sample::port),           field("offset", &Sample::offset),
        field("inner", &Sample::inner),         field("flag", &Sample::flag),
        field("count", &Sample::count, defaulted),
    };
};

namespace {

std::string from_text(std::string_view text) {
    auto sample = json::from_text<Sample>(text);
    return sample ? json::to_json_text(*sample) : sample.error().describe(text);
}

std::string from_value(std::string_view text) {
    auto value = json::parse(text);
    if (!value) return "not JSON";
    auto sample = json::from_value<Sample>(std::move(*value));
    return sample ? json::to_json_text(*sample) : sample.error().describe(text);
}

constexpr std::string_view written =
    R"({"count":7,"flag":null,"inner":{"id":"i","note":null},"name":"n","offset":-5,"port":80,"size":"large"})";

// Each row: the text, then what reading it from text and from a decoded value gives. Failures that the
// shared record vectors already hold (missing, duplicate, wrong type, length, variant) are not repeated.
TEST(Mapping, FromTextAndFromValue) {
    const struct {
        std::string_view text, from_text, from_value;
    } cases[] = {
        // Both forms read the same record; defaults fill in, unknown keys are skipped, escapes in keys
        // count, and the alias names the same field.
        {R"({"size":"large","name":"n","port":80,"offset":-5,"inner":{"ident":"i"},"x":[{}]})", written, written},
        {R"(["large","n",80,-5,{"id":"i"},null])", written, written},
        {R"({"\u006eame":"n","port":80,"offset":-5,"inner":["i",null],"size":"large","flag":null})", written, written},
        {R"({"name":"n","port":1,"offset":1,"inner":{"id":"a","ident":"b"}})", "duplicate field `id` at line 1 column 57",
         "duplicate field `id`"},
        {"{\"name\":\"n\",\n \"name\" : 1}", "duplicate field `name` at line 2 column 8", "invalid type: number, expected a string"},
        // How strings and numbers are shown in messages.
        {R"({"name":-0.5e1})", "invalid type: number, expected a string at line 1 column 14", "invalid type: number, expected a string"},
        {R"({"name":false})", "invalid type: boolean `false`, expected a string at line 1 column 13",
         "invalid type: boolean `false`, expected a string"},
        {R"({"name":"n","port":"a\tb\u0000"})", "invalid type: string \"a\\tb\\0\", expected u16 at line 1 column 31",
         "invalid type: string \"a\\tb\\0\", expected u16"},
        {R"({"name":"n","port":1e3})", "invalid type: floating point `1000`, expected u16 at line 1 column 22",
         "invalid type: floating point `1000`, expected u16"},
        {R"({"name":"n","port":18446744073709551616})",
         "invalid type: floating point `18446744073709552000`, expected u16 at line 1 column 39",
         "invalid type: floating point `18446744073709552000`, expected u16"},
        {R"({"name":"n","port":-0})", "invalid type: floating point `-0`, expected u16 at line 1 column 21", "missing field `offset`"},
        {R"({"name":"n","port":0.000015})", "invalid type: floating point `0.000015`, expected u16 at line 1 column 27",
         "invalid type: floating point `0.000015`, expected u16"},
        {R"({"name":"n","port":1e400})", "number out of range at line 1 column 24", "number out of range"},
        // A defaulted enumeration is read only from a string.
        {R"({"size":null})", "expected value at line 1 column 9", "invalid type: null, expected a string"},
        {R"([1])", "expected value at line 1 column 2", "invalid type: number, expected a string"},
        {R"([])", "invalid length 1, expected struct Sample with 7 elements at line 1 column 2",
         "invalid length 1, expected struct Sample with 7 elements"},
        // After the last field, an array form may only close.
        {R"(["huge","n",1,2,null,null,3,])", "trailing comma at line 1 column 29", "not JSON"},
        {R"(["huge","n",1,2,null,null,3)", "EOF while parsing a list at line 1 column 27", "not JSON"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(from_text(c.text), c.from_text) << c.text;
        EXPECT_EQ(from_value(c.text), c.from_value) << c.text;
    }
}

TEST(Mapping, KeysInDeclarationOrderReadAsAnyOther) {
    // Keys met in declaration order are taken whole; a duplicate found that way, a key spaced before
    // its colon, one that only starts like the expected key, and an alias read the same as elsewhere.
    EXPECT_EQ(from_text(R"({"offset":1,"name":"n","port":2,"offset":3,"inner":null,"flag":null})"),
              "duplicate field `offset` at line 1 column 40");
    EXPECT_EQ(from_text(R"({"size":"huge","name" :"n","port" : 8,"offset":-5,"inner":{"id":"i"},"count":3,"count":4})"),
              "duplicate field `count` at line 1 column 86");
    EXPECT_EQ(from_text(R"({"size":"huge","name":"n","port":8,"offset":-5,"inner":{"id":"i","ident":"j"},"flag":null})"),
              "duplicate field `id` at line 1 column 72");
    EXPECT_EQ(from_text(R"({"size":"large","nam":"x","name":"n","port":80,"offset":-5,"inner":{"id":"i"},"flag":null})"),
              written);
}

TEST(Mapping, KeysTakenAheadOfTheirTurnAndVariantsTakenWhole) {
    // Fields left out, the separators of pretty text, names that only start like a variant's, and
    // texts that end a few bytes after a key all read as a decoded value of the same text does; a
    // key given again after keys taken ahead of their turn is still a duplicate.
    const std::string_view same[] = {
        R"({"name": "n", "port": 80, "offset": -5, "inner": {"ident": "i"}, "size": "large"})",
        R"({"size": "large","name":"n" , "port":80,"flag" :null,"offset":-5,"inner":{"id":"i"}})",
        R"({"size":"huge","name":"n","port":1,"offset":2,"inner":null,"count":3})",
        R"({"size":"hug","name":"n","port":1,"offset":2,"inner":null})",
        R"({"size":"hugey","name":"n","port":1,"offset":2,"inner":null})",
        R"({"size":"\u0068uge","name":"n","port":1,"offset":2,"inner":null})",
        R"({"size" :"small","name":"n","port":1,"offset":2,"inner":{"id":"i"}})",
        R"({"name":"n","port":1,"offset":2,"inner":{"id":"i"},"count":3})",
        R"({"name":"n","port":1,"offset":2,"inner":{"note":"x"}})",
        R"({"name":"n","port":1,"offset":2,"inner":null,"flag":true,"size":"large"})",
        R"({"name":"n","port":1,"offset":2,"inner":null,"po":1})",
        R"({"name":"n","port":1,"offset":2,"inner":{"id":"i"}})",
        "{\"name\":\"n\",\"port\":1,\"offset\":2,\"inner\":{\"id\":\"i\"}}\n",
    };
    for (const auto text : same) {
        // Failures agree up to their place, which only text has.
        const std::string expected = from_value(text);
        EXPECT_EQ(from_text(text).substr(0, expected.size()), expected) << text;
    }
    EXPECT_EQ(from_text(R"({"name":"n","port":1,"offset":2,"inner":{"id":"i","note":"x","id":"j"}})"),
              "duplicate field `id` at line 1 column 65");
    EXPECT_EQ(from_text(R"({"name":"n","count":1,"port":1,"offset":2,"inner":null,"count":2})"),
              "duplicate field `count` at line 1 column 62");
    EXPECT_EQ(from_text(R"({"size":"hug","name":"n","port":1,"offset":2,"inner":null})"),
              "unknown variant `hug`, expected one of `small`, `large`, `huge` at line 1 column 13");
    EXPECT_EQ(from_text(R"({"size":"hugey","name":"n","port":1,"offset":2,"inner":null})"),
              "unknown variant `hugey`, expected one of `small`, `large`, `huge` at line 1 column 15");
}

TEST(Mapping, ViewsOfTheTextAndOfItsStore) {
    // Plain strings are viewed in the text; escaped ones are unescaped into the store, a long one in
    // growing steps, and every view stays valid while later strings claim room after it.
    std::string long_escaped;
    std::string long_plain;
    for (int i = 0; i < 30000; ++i) {
        long_escaped += "abc\\n\\u00e9";
        long_plain += "abc\n\u00e9";
    }
    const std::string text = R"({"first":"a\"b","second":")" + long_escaped + R"(","rest":["plain","\t",""]})";
    json::TextStore store;
    const auto views = json::from_text<Views>(text, store);
    ASSERT_TRUE(views);
    EXPECT_EQ(views->first, "a\"b");
    EXPECT_EQ(views->second, long_plain);
    ASSERT_EQ(views->rest.size(), 3u);
    EXPECT_EQ(views->rest[0], "plain");
    EXPECT_EQ(views->rest[0].data(), text.data() + text.find("plain"));
    EXPECT_EQ(views->rest[1], "\t");
    EXPECT_EQ(views->rest[2], "");

    // From a decoded value, kept by the store.
    auto value = json::parse(text);
    ASSERT_TRUE(value);
    const auto again = json::from_value<Views>(std::move(*value), store);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->second, long_plain);
    EXPECT_EQ(json::to_json_text(*again), json::to_json_text(*views));
}

TEST(Mapping, RelayedStringsWriteAsTheWriterWouldAndSkipTheCheckOnlyWhenTheyHadNoEscape) {
    // Long enough to be copied whole; escapes at the start, in the middle and at the end.
    const std::string plain(100, 'x');
    const std::string rows[][2] = {
        {plain + "\u00e9\u65e5", "true"},
        {"short", "true"},
        {"", "true"},
        {R"(\\)" + plain, "false"},
        {plain + R"(\")" + plain + R"(\u0001\/\n)", "false"},
        {plain + R"(\u00e9)", "false"},
    };
    for (const auto& [body, escape_free] : rows) {
        const std::string text = R"({"text":")" + body + R"("})";
        json::TextStore store;
        const auto relayed = json::from_text<Relayed>(text, store);
        ASSERT_TRUE(relayed) << text;
        EXPECT_EQ(relayed->text.escape_free ? "true" : "false", escape_free) << text;
        // Byte for byte what the writer gives the same text as a plain string.
        auto value = json::parse(text);
        ASSERT_TRUE(value);
        const std::string expected = json::to_text(*value);
        EXPECT_EQ(json::to_json_text(*relayed), expected) << text;

        // Taken from a decoded value it has lost that knowledge, and is checked as it is written.
        const auto again = json::from_value<Relayed>(std::move(*value), store);
        ASSERT_TRUE(again);
        EXPECT_FALSE(again->text.escape_free);
        EXPECT_EQ(json::to_json_text(*again), expected) << text;
    }
}

TEST(Mapping, TheFirstFailureInReadingOrderWins) {
    // A record failure met before a syntax failure is the one reported, as a streaming reader sees it.
    EXPECT_EQ(from_text(R"({"name":1, !!!)"), "invalid type: integer `1`, expected a string at line 1 column 9");
    EXPECT_EQ(from_text(R"({"name":"a","name" !!!)"), "duplicate field `name` at line 1 column 19");
    // ... and a syntax failure inside a skipped value comes before a missing field.
    EXPECT_EQ(from_text(R"({"x":[1,]})"), "expected value at line 1 column 9");
    // Multi-byte characters count as their bytes in the column.
    EXPECT_EQ(from_text("{\"x\":\"日本\",\n\"ñ\":1,\"name\":true}"),
              "invalid type: boolean `true`, expected a string at line 2 column 18");
}

TEST(Mapping, WritingPutsKeysInByteOrderAndAbsentFieldsAsNull) {
    Sample sample{Size::huge, "q\"\n", 1, -2, Inner{"é", "x"}, true, 3};
    EXPECT_EQ(json::to_json_text(sample),
              R"({"count":3,"flag":true,"inner":{"id":"é","note":"x"},"name":"q\"\n","offset":-2,"port":1,"size":"huge"})");
}

// Enumerations as members (first and last) and alone, every variant, plain names and escaped ones.
TEST(Mapping, WritesEveryVariant) {
    EXPECT_EQ(json::to_json_text(std::vector<Size>{Size::small, Size::large, Size::huge}), R"(["small","large","huge"])");
    EXPECT_EQ(json::to_json_text(std::vector<Quirk>{Quirk::plain, Quirk::quoted, Quirk::empty}),
              R"(["plain","say \"hi\"\n",""])");
    EXPECT_EQ(json::to_json_text(Tagged{Quirk::quoted, Size::huge}), R"({"a":"say \"hi\"\n","size":"huge"})");
    EXPECT_EQ(json::to_json_text(Tagged{Quirk::empty, Size::large}), R"({"a":"","size":"large"})");
    std::string out = "[";
    json::write_json(Tagged{}, out);
    EXPECT_EQ(out, R"([{"a":"plain","size":"small"})");
}

}  // namespace
