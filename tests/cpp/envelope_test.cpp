// Opening the bank's response envelope: which error each response earns and whether it may be retried,
// and the bounded messages made from arbitrary bodies.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/core/envelope.hpp"
#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/text_reader.hpp"

namespace {

// A data record of the shape the operations open.
struct Sample {
    std::string id;
    std::uint64_t count = 0;
};

}  // namespace

template <>
struct corvane_bo_json::Fields<Sample> {
    static constexpr std::string_view name = "Sample";
    static constexpr auto list = std::tuple{field("id", &Sample::id), field("count", &Sample::count)};
};

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

// The error object exactly as an answer carries it, "retryable" included.
std::string shown(const core::Error& error) {
    const std::string answer = core::ffi::failure(error);
    return answer.substr(9, answer.size() - 9 - 12);  // {"error": ... ,"ok":false}
}

std::string opened(std::uint16_t status, std::string_view body) {
    const auto sample = core::SuccessData::open<Sample>(core::HttpResponse{status, std::string(body)});
    return sample ? json::to_json_text(*sample) : shown(sample.error());
}

struct OpenCase {
    std::uint16_t status;
    std::string_view body;
    std::string_view expected;
};

constexpr std::string_view good_data = R"({"data":{"id":"a","count":1}})";

TEST(EnvelopeOpen, OutcomeOfEveryKindOfResponse) {
    const OpenCase cases[] = {
        // 401 and 403 come first, whatever the body holds.
        {401, "", R"({"kind":"authentication","message":"empty response body","retryable":false,"status":401})"},
        {403, R"({"error_description":"  token expired \n","message":"m"})",
         R"({"kind":"authentication","message":"token expired","retryable":false,"status":403})"},
        {403, R"({"error_description":" ","message":"use this","error":"e"})",
         R"({"kind":"authentication","message":"use this","retryable":false,"status":403})"},
        {401, R"({"error":7})", R"({"kind":"authentication","message":"{\"error\":7}","retryable":false,"status":401})"},
        {401, " <html>denied</html>\n", R"({"kind":"authentication","message":"<html>denied</html>","retryable":false,"status":401})"},
        {401, good_data, R"({"kind":"authentication","message":"{\"data\":{\"id\":\"a\",\"count\":1}}","retryable":false,"status":401})"},
        // An undecodable body: a decode error on 2xx, an api error with the preview otherwise.
        {200, "<html>", R"({"kind":"decode","message":"invalid JSON body: expected value at line 1 column 1","retryable":false})"},
        {200, "", R"({"kind":"decode","message":"invalid JSON body: EOF while parsing a value at line 1 column 0","retryable":false})"},
        {200, "5", R"({"kind":"decode","message":"invalid JSON body: invalid type: integer `5`, expected struct SuccessWire at line 1 column 1","retryable":false})"},
        {204, R"({"errors":null})", R"({"kind":"decode","message":"invalid JSON body: invalid type: null, expected a sequence at line 1 column 14","retryable":false})"},
        {200, R"({"message":"a","message":"b"})", R"({"kind":"decode","message":"invalid JSON body: duplicate field `message` at line 1 column 24","retryable":false})"},
        {299, "{} x", R"({"kind":"decode","message":"invalid JSON body: trailing characters at line 1 column 4","retryable":false})"},
        {500, " <html>Internal</html> ", R"({"errors":[],"kind":"api","message":"<html>Internal</html>","retryable":true,"status":500})"},
        {404, "Not Found", R"({"errors":[],"kind":"api","message":"Not Found","retryable":false,"status":404})"},
        {302, "", R"({"errors":[],"kind":"api","message":"empty response body","retryable":false,"status":302})"},
        {400, R"({"errors":null})", R"({"errors":[],"kind":"api","message":"{\"errors\":null}","retryable":false,"status":400})"},
        // An envelope reporting failure is final, whatever the status.
        {200, R"({"success":false,"message":"rejected","errors":[{"field":"monto","message":"bad","code":"E1","x":1}],"data":{"id":"a","count":1}})",
         R"({"errors":[{"code":"E1","field":"monto","message":"bad"}],"kind":"api","message":"rejected","retryable":false,"status":200})"},
        {503, R"({"success":false,"message":"down"})", R"({"errors":[],"kind":"api","message":"down","retryable":false,"status":503})"},
        {200, R"({"success":false})", R"({"errors":[],"kind":"api","message":"request failed with HTTP 200","retryable":false,"status":200})"},
        {200, R"({"success":false,"message":""})", R"({"errors":[],"kind":"api","message":"","retryable":false,"status":200})"},
        // A failed status with a readable envelope: the bank's message or the fallback, and the retry rule.
        {503, R"({"message":"down"})", R"({"errors":[],"kind":"api","message":"down","retryable":true,"status":503})"},
        {503, R"({"success":true,"message":" down "})", R"({"errors":[],"kind":"api","message":" down ","retryable":true,"status":503})"},
        {400, "{}", R"({"errors":[],"kind":"api","message":"request failed with HTTP 400","retryable":false,"status":400})"},
        {400, R"({"message":null,"errors":[{"message":"x"}],"data":{"id":"a","count":1}})",
         R"({"errors":[{"code":null,"field":null,"message":"x"}],"kind":"api","message":"request failed with HTTP 400","retryable":false,"status":400})"},
        // A successful status: data must be there and fit.
        {200, R"({"success":true})", R"({"kind":"decode","message":"response has no `data` field","retryable":false})"},
        {200, R"({"success":true,"data":null})", R"({"kind":"decode","message":"response has no `data` field","retryable":false})"},
        {200, R"({"data":{"id":"a"}})", R"({"kind":"decode","message":"unexpected payload shape: missing field `count`","retryable":false})"},
        {200, R"({"data":"abc"})", R"({"kind":"decode","message":"unexpected payload shape: invalid type: string \"abc\", expected struct Sample","retryable":false})"},
        {200, good_data, R"({"count":1,"id":"a"})"},
        {299, R"({"success":true,"message":"ok","errors":[],"data":{"count":18446744073709551615,"id":"a","x":[]}})",
         R"({"count":18446744073709551615,"id":"a"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(opened(c.status, c.body), c.expected) << c.status << " " << c.body;
}

// Retryable exactly for 408, 429 and 500 up, on both ways an api error is made from a status.
TEST(EnvelopeOpen, RetryRuleAcrossStatuses) {
    const struct {
        std::uint16_t status;
        std::string_view kind;  // for a body that is not JSON; a readable envelope fails the same way off 2xx
        bool retryable;
    } cases[] = {
        {199, "api", false}, {200, "decode", false}, {299, "decode", false}, {300, "api", false}, {302, "api", false},
        {401, "authentication", false}, {403, "authentication", false}, {404, "api", false}, {408, "api", true},
        {429, "api", true}, {499, "api", false}, {500, "api", true}, {503, "api", true},
    };
    for (const auto& c : cases) {
        const core::HttpResponse text{c.status, "service down"}, envelope{c.status, std::string(good_data)};
        const auto from_text = core::SuccessData::open<Sample>(text);
        ASSERT_FALSE(from_text) << c.status;
        EXPECT_EQ(from_text.error().kind(), c.kind) << c.status;
        EXPECT_EQ(from_text.error().retryable(), c.retryable) << c.status;

        const auto from_envelope = core::SuccessData::open<Sample>(envelope);
        EXPECT_EQ(from_envelope.has_value(), envelope.is_success()) << c.status;
        if (!from_envelope) {
            EXPECT_EQ(from_envelope.error().kind(), c.kind == "decode" ? "api" : c.kind) << c.status;
            EXPECT_EQ(from_envelope.error().retryable(), c.retryable) << c.status;
        }
    }
}

std::string repeated(std::string_view unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += unit;
    return out;
}

TEST(EnvelopeMessages, PreviewTrimsAndKeepsAtMost200Characters) {
    const std::string all_white = "\xe3\x80\x80\xc2\xa0 \t\r\n\xe2\x80\xa9\xc2\x85\x0b\x0c";  // U+3000 NBSP ... NEL VT FF
    const struct {
        std::string body;
        std::string expected;
    } cases[] = {
        {"", "empty response body"},
        {all_white, "empty response body"},
        {all_white + "body text" + all_white, "body text"},
        // Zero-width space and the Mongolian vowel separator are not white space.
        {"\xe2\x80\x8bx\xe1\xa0\x8e", "\xe2\x80\x8bx\xe1\xa0\x8e"},
        {repeated("a", 200), repeated("a", 200)},
        {repeated("a", 201), repeated("a", 200)},
        {repeated("\xc3\xa9", 300), repeated("\xc3\xa9", 200)},
        {"\xe3\x80\x80" + repeated("\xf0\x9f\x98\x80", 300), repeated("\xf0\x9f\x98\x80", 200)},
        {"a" + repeated("\xe2\x82\xac", 299), "a" + repeated("\xe2\x82\xac", 199)},
        // Cut at 200 characters, then nothing more is trimmed.
        {repeated("x", 199) + " y", repeated("x", 199) + " "},
    };
    for (const auto& c : cases) EXPECT_EQ(core::preview(c.body), c.expected) << c.body.substr(0, 40);
}

TEST(EnvelopeMessages, TextFieldTakesTheFirstNonBlankStringInKeyOrder) {
    const struct {
        std::string_view json;
        std::optional<std::string> expected;
    } cases[] = {
        {R"({"message":"  hi \u3000"})", "hi"},
        {R"({"error":"e","message":"m"})", "m"},  // the keys' order, not the object's
        {R"({"error_description":"d","message":"m"})", "d"},
        {R"({"error_description":" \u00a0 ","message":"","error":"e"})", "e"},
        {R"({"error_description":5,"message":null,"error":true})", std::nullopt},
        {R"({"error":["x"],"message":{"message":"m"}})", std::nullopt},
        {R"({"Message":"m"})", std::nullopt},
        {R"("message")", std::nullopt},
        {R"(["message","m"])", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = json::parse(c.json);
        ASSERT_TRUE(value) << c.json;
        EXPECT_EQ(core::text_field(*value, {"error_description", "message", "error"}), c.expected) << c.json;
    }
}

TEST(EnvelopeMessages, MessageFromBodyFallsBackToThePreview) {
    const struct {
        std::string_view body;
        std::string_view expected;
    } cases[] = {
        {R"({"message":" m "})", "m"},
        {R"( {"message":"  "} )", R"({"message":"  "})"},
        {R"({"message":"m"} trailing)", R"({"message":"m"} trailing)"},
        {" not json ", "not json"},
        {"\n", "empty response body"},
    };
    for (const auto& c : cases) EXPECT_EQ(core::message_from_body(c.body), c.expected) << c.body;
    EXPECT_EQ(core::failed(core::HttpResponse{503, "x"}), "request failed with HTTP 503");
}

}  // namespace
