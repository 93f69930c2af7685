// The reader against the JSON conformance corpus and the exact decoder messages with positions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

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

// The generic value reader keeps what it reads, unlike a record skipping an unknown member; invalid
// UTF-8 is placed by the hostile-input tests.
TEST(Reader, GenericValueFailuresAreReportedWhereTheReaderStands) {
    constexpr std::pair<std::string_view, std::string_view> cases[] = {
        // Strings kept in a value: control characters are consumed before they are reported.
        {"[\"a\tb\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
        {"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
        {"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
        {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"[1,2", "EOF while parsing a list at line 1 column 4"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"[1] [2]", "trailing characters at line 1 column 5"},
        // Columns count bytes, and restart after each line feed.
        {"{\"é\":\n  [1,\n   ?]}", "expected value at line 3 column 4"},
        {"[\"日本\" 1]", "expected `,` or `]` at line 1 column 11"},
    };
    for (const auto& [text, expected] : cases) {
        auto value = json::parse(text);
        ASSERT_FALSE(value.has_value()) << text;
        EXPECT_EQ(value.error().describe(text), expected);
    }
}

TEST(Reader, AStepsFailureKeepsItsCodeAndPlaceInOneWord) {
    const json::Failed at_start(json::Syntax::trailing_comma, 0);
    EXPECT_TRUE(at_start.placed());
    EXPECT_EQ(at_start.offset(), 0u);
    EXPECT_FALSE(at_start.is_worded());
    EXPECT_EQ(at_start.syntax(), json::Syntax::trailing_comma);
    const json::Failed far(json::Syntax::invalid_number, std::size_t{1} << 40);
    EXPECT_EQ(far.offset(), std::size_t{1} << 40);
    EXPECT_EQ(far.syntax(), json::Syntax::invalid_number);
    // A record failure gets the first place it is given, and keeps it.
    const json::Failed record = json::Failed::worded();
    EXPECT_FALSE(record.placed());
    EXPECT_EQ(record.offset(), json::DecodeError::unplaced);
    const json::Failed placed = record.placed_at(17).placed_at(30);
    EXPECT_TRUE(placed.is_worded());
    EXPECT_EQ(placed.offset(), 17u);

    std::string worded = "missing field `a`";
    const json::DecodeError from_record = json::decode_error(placed, worded);
    EXPECT_EQ(from_record.message, "missing field `a`");
    EXPECT_EQ(from_record.offset, 17u);
    const json::DecodeError from_syntax = json::decode_error(far, worded);
    EXPECT_EQ(from_syntax.message, "invalid number");
    EXPECT_EQ(from_syntax.offset, std::size_t{1} << 40);
}

TEST(Reader, NestingStopsAtTheRecursionLimitWithoutDeepStack) {
    const std::string fits = std::string(json::max_depth, '[') + std::string(json::max_depth, ']');
    EXPECT_TRUE(json::parse(fits).has_value());
    const std::string one_more = "[" + fits + "]";
    auto refused = json::parse(one_more);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().describe(one_more), "recursion limit exceeded at line 1 column 129");
    const std::string deep(1'000'000, '[');
    auto value = json::parse(deep);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().describe(deep), "recursion limit exceeded at line 1 column 129");
}

// Read and written back: numbers keep their exact text, strings are unescaped (and escaped again by
// the writer), and an object keeps the last of a repeated key, in byte order.
TEST(Reader, GenericValuesKeepWhatTheyRead) {
    const std::string big(500, '7');
    const std::string text = "[1e400, -1.50E-7, " + big +
                             R"(, -0, 0.0, "a\"b\\c\/d\b\f\n\r\t", "\u00e9\u65e5\ud83d\ude00 é", {"b":1,"a":2,"b":3,"B":4}])";
    auto value = json::parse(text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(json::to_text(*value),
              "[1e400,-1.50E-7," + big + R"(,0,0.0,"a\"b\\c/d\b\f\n\r\t","é日😀 é",{"B":4,"a":2,"b":3}])");
    EXPECT_EQ(*value->get<json::Array>()->at(5).get<std::string>(), "a\"b\\c/d\b\f\n\r\t");
}

}  // namespace

namespace {

// A carried body is unescaped many bytes at a time, with two-byte characters taken inside the
// blocks: a malformed sequence at any place must still be refused right where it starts.
TEST(Reader, MalformedUtf8InsideEscapedTextIsPlacedWhereItStarts) {
    std::string body;
    while (body.size() < 120) body += R"(ab\"c \u00e9 ñ Unión \\ )";
    const std::string_view malformed[] = {"\x80", "\xdf", "\xc0\x80", "\xc1\xbf", "\xc3", "\xc3(", "\xc3\xc3\xa9", "\xc3\xc0",
                                          "\xe0\x80\x80", "\xed\xa0\x80", "\xf5\x80\x80\x80", "\xff"};
    for (const std::string_view bad : malformed) {
        for (std::size_t at = 0; at < 100; ++at) {
            if ((static_cast<unsigned char>(body[at]) & 0xC0) == 0x80) continue;  // inside a character
            const std::string text = '"' + body.substr(0, at) + std::string(bad) + body.substr(at) + '"';
            const auto read = json::from_text<std::string>(text);
            ASSERT_FALSE(read) << at;
            // Cutting an escape in two makes a different failure, found before the bad bytes.
            const std::size_t expected = at + 1;
            if (read.error().message != json::message(json::Syntax::invalid_utf8)) continue;
            EXPECT_EQ(read.error().offset, expected) << "at " << at << " of " << std::string(bad);
        }
    }
    // And the well-formed text reads back whole.
    const auto read = json::from_text<std::string>('"' + body + '"');
    ASSERT_TRUE(read);
    EXPECT_NE(read->find("ab\"c é ñ Unión \\ "), std::string::npos);
}

}  // namespace
