// The reader against the JSON conformance corpus and the exact decoder messages with positions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/text_reader.hpp"

namespace json = corvane_bo_json;

namespace {

const std::filesystem::path data_dir = CORVANE_SHARED_DATA;

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// A record shaped like a received webhook call.
struct Call {
    json::TextMap headers;
    std::string body;
    std::string key;
    std::string value;
};

}  // namespace

template <>
struct corvane_bo_json::Fields<Call> {
    static constexpr std::string_view name = "Call";
    static constexpr auto list = std::tuple{
        field("headers", &Call::headers),
        field("body", &Call::body),
        field("key", &Call::key),
        field("value", &Call::value),
    };
};

namespace {

std::string decode_message(std::string_view text) {
    auto call = json::from_text<Call>(text);
    return call ? std::string("ok") : call.error().describe(text);
}

TEST(Conformance, EveryCorpusFileIsJudgedAsItsNameSays) {
    int accepted = 0, rejected = 0, either = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data_dir / "json-conformance")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json") continue;
        const std::string text = slurp(entry.path());
        const auto result = json::parse(text);
        if (name.starts_with("y_")) {
            EXPECT_TRUE(result.has_value()) << name << ": " << result.error().describe(text);
            ++accepted;
        } else if (name.starts_with("n_")) {
            EXPECT_FALSE(result.has_value()) << name;
            ++rejected;
        } else {
            ++either;  // either answer will do; reaching here without a crash is the test
        }
    }
    EXPECT_GT(accepted, 90);
    EXPECT_GT(rejected, 150);
    EXPECT_GT(either, 20);
}

TEST(SyntaxVectors, MessageAndPositionMatchExactly) {
    std::ifstream in(data_dir / "json-errors" / "syntax.jsonl");
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        auto vector = json::parse(line);
        ASSERT_TRUE(vector.has_value()) << line;
        auto* object = vector->get<json::Object>();
        const auto& text = *object->find("text")->get<std::string>();
        const auto& expected = *object->find("message")->get<std::string>();
        EXPECT_EQ(decode_message(text), expected) << "text: " << text;
        ++count;
    }
    EXPECT_GT(count, 150);
}

struct Case {
    std::string_view text;
    std::string_view message;
};

class GenericValueFailures : public testing::TestWithParam<Case> {};

TEST_P(GenericValueFailures, AreReportedWhereTheReaderStands) {
    const auto [text, expected] = GetParam();
    auto value = json::parse(text);
    ASSERT_FALSE(value.has_value()) << text;
    EXPECT_EQ(value.error().describe(text), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, GenericValueFailures,
    testing::Values(
        // Strings kept in a value: control characters are consumed before they are reported.
        Case{"[\"a\tb\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
        Case{"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
        Case{"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        Case{"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        Case{"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        Case{"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
        Case{"\"\\u12", "EOF while parsing a string at line 1 column 5"},
        Case{"{\"a\":1,}", "trailing comma at line 1 column 8"},
        Case{"[1,]", "trailing comma at line 1 column 4"},
        Case{"[1,2", "EOF while parsing a list at line 1 column 4"},
        Case{"{\"a\" 1}", "expected `:` at line 1 column 6"},
        Case{"[1] [2]", "trailing characters at line 1 column 5"},
        // Columns count bytes, and restart after each line feed.
        Case{"{\"é\":\n  [1,\n   ?]}", "expected value at line 3 column 4"},
        Case{"[\"日本\" 1]", "expected `,` or `]` at line 1 column 11"},
        // Invalid UTF-8 is placed on the first bad byte.
        Case{"[\"ab\xff\"]", "invalid UTF-8 in string at line 1 column 4"},
        Case{"[\"\xc3\"]", "invalid UTF-8 in string at line 1 column 2"},
        Case{"[\"\xed\xa0\x80\"]", "invalid UTF-8 in string at line 1 column 2"}));

TEST(Reader, NestingStopsAtTheRecursionLimitWithoutDeepStack) {
    const std::string fits = std::string(json::max_depth - 1, '[') + std::string(json::max_depth - 1, ']');
    EXPECT_TRUE(json::parse(fits).has_value());
    const std::string deep(1'000'000, '[');
    auto value = json::parse(deep);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().describe(deep), "recursion limit exceeded at line 1 column 128");
    // Skipped values are held to the same limit.
    const std::string skipped = "{\"x\":" + std::string(200, '[');
    auto call = json::from_text<Call>(skipped);
    ASSERT_FALSE(call.has_value());
    EXPECT_EQ(call.error().describe(skipped), "recursion limit exceeded at line 1 column 132");
}

TEST(Reader, NumbersKeepTheirExactText) {
    const std::string big(500, '7');
    auto value = json::parse("[1e400, -1.50E-7, " + big + ", -0, 0.0]");
    ASSERT_TRUE(value.has_value());
    const auto& array = *value->get<json::Array>();
    EXPECT_EQ(array[0].get<json::Number>()->text, "1e400");
    EXPECT_EQ(array[1].get<json::Number>()->text, "-1.50E-7");
    EXPECT_EQ(array[2].get<json::Number>()->text, big);
    EXPECT_EQ(array[3].get<json::Number>()->text, "0");
    EXPECT_EQ(array[4].get<json::Number>()->text, "0.0");
}

TEST(Reader, StringsAreUnescaped) {
    auto value = json::parse(R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e9\u65e5\ud83d\ude00", "plain é"])");
    ASSERT_TRUE(value.has_value());
    const auto& array = *value->get<json::Array>();
    EXPECT_EQ(*array[0].get<std::string>(), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(*array[1].get<std::string>(), "é日😀");
    EXPECT_EQ(*array[2].get<std::string>(), "plain é");
}

TEST(Reader, GenericObjectsKeepTheLastOfARepeatedKeyInByteOrder) {
    auto value = json::parse(R"({"b":1,"a":2,"b":3,"B":4})");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(json::to_text(*value), R"({"B":4,"a":2,"b":3})");
}

}  // namespace
