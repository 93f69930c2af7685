// Opening the bank's response envelope: which error each response earns, with which message, and
// whether it may be retried; and the bounded preview made from arbitrary bodies.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "corvane_bo/core/envelope.hpp"
#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/json/record.hpp"

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
    json::TextStore store;
    const auto sample = core::SuccessData::open<Sample>(core::HttpResponse{status, body}, store);
    return sample ? json::to_json_text(*sample) : shown(sample.error());
}

constexpr std::string_view good_data = R"({"data":{"id":"a","count":1}})";

// Expected error objects; messages are given as they appear inside the JSON text.
std::string authentication(int status, std::string_view message) {
    return R"({"kind":"authentication","message":")" + std::string(message) + R"(","retryable":false,"status":)" +
           std::to_string(status) + "}";
}
std::string api(int status, std::string_view message, bool retryable, std::string_view errors = "[]") {
    return R"({"errors":)" + std::string(errors) + R"(,"kind":"api","message":")" + std::string(message) +
           R"(","retryable":)" + (retryable ? "true" : "false") + R"(,"status":)" + std::to_string(status) + "}";
}
std::string decode(std::string_view message) {
    return R"({"kind":"decode","message":")" + std::string(message) + R"(","retryable":false})";
}

TEST(EnvelopeOpen, OutcomeOfEveryKindOfResponse) {
    const struct {
        std::uint16_t status;
        std::string_view body;
        std::string expected;
    } cases[] = {
        // 401 and 403 come first, whatever the body holds.
        {401, "", authentication(401, "empty response body")},
        {403, R"({"error_description":"  token expired \n","message":"m"})", authentication(403, "token expired")},
        {403, R"({"error_description":" ","message":"use this","error":"e"})", authentication(403, "use this")},
        // The first non-blank string of error_description, message, error, in that order and trimmed;
        // otherwise the preview of the whole body.
        {403, R"({"error":"e","message":"  m \u3000"})", authentication(403, "m")},
        {401, R"({"error":7,"message":{"message":"m"},"Message":"m"})",
         authentication(401, R"({\"error\":7,\"message\":{\"message\":\"m\"},\"Message\":\"m\"})")},
        {401, R"( {"message":"m"} x)", authentication(401, R"({\"message\":\"m\"} x)")},
        {401, good_data, authentication(401, R"({\"data\":{\"id\":\"a\",\"count\":1}})")},
        // An undecodable body: a decode error on 2xx, an api error with the preview otherwise.
        {200, "<html>", decode("invalid JSON body: expected value at line 1 column 1")},
        {200, "5", decode("invalid JSON body: invalid type: integer `5`, expected struct SuccessWire at line 1 column 1")},
        {204, R"({"errors":null})", decode("invalid JSON body: invalid type: null, expected a sequence at line 1 column 14")},
        {299, "{} x", decode("invalid JSON body: trailing characters at line 1 column 4")},
        {500, " <html>Internal</html> ", api(500, "<html>Internal</html>", true)},
        {404, "Not Found", api(404, "Not Found", false)},
        {302, "", api(302, "empty response body", false)},
        {400, R"({"errors":null})", api(400, R"({\"errors\":null})", false)},
        // An envelope reporting failure is final, whatever the status.
        {200, R"({"success":false,"message":"rejected","errors":[{"field":"monto","message":"bad","code":"E1","x":1}],"data":{"id":"a","count":1}})",
         api(200, "rejected", false, R"([{"code":"E1","field":"monto","message":"bad"}])")},
        {503, R"({"success":false,"message":"down"})", api(503, "down", false)},
        {200, R"({"success":false})", api(200, "request failed with HTTP 200", false)},
        {200, R"({"success":false,"message":""})", api(200, "", false)},
        // A failed status with a readable envelope: the bank's message, untrimmed, or the fallback.
        {503, R"({"success":true,"message":" down "})", api(503, " down ", true)},
        {400, "{}", api(400, "request failed with HTTP 400", false)},
        // Retryable exactly for 408, 429 and 500 up, whichever way the api error is made.
        {408, "{}", api(408, "request failed with HTTP 408", true)},
        {429, "busy", api(429, "busy", true)},
        {499, "{}", api(499, "request failed with HTTP 499", false)},
        {199, "x", api(199, "x", false)},
        {300, good_data, api(300, "request failed with HTTP 300", false)},
        {400, R"({"message":null,"errors":[{"message":"x"}],"data":{"id":"a","count":1}})",
         api(400, "request failed with HTTP 400", false, R"([{"code":null,"field":null,"message":"x"}])")},
        // A successful status: data must be there and fit.
        {200, R"({"success":true})", decode("response has no `data` field")},
        {200, R"({"success":true,"data":null})", decode("response has no `data` field")},
        {200, R"({"data":{"id":"a"}})", decode("unexpected payload shape: missing field `count`")},
        {200, R"({"data":"abc"})", decode(R"(unexpected payload shape: invalid type: string \"abc\", expected struct Sample)")},
        {200, good_data, R"({"count":1,"id":"a"})"},
        // The envelope as an array: only `errors` may be left off; a field error needs all three places.
        {200, "[]", decode("invalid JSON body: invalid length 0, expected struct SuccessWire with 4 elements at line 1 column 2")},
        {400, "[]", api(400, "[]", false)},
        {200, "[true,null]", decode("invalid JSON body: invalid length 2, expected struct SuccessWire with 4 elements at line 1 column 11")},
        {200, R"([true,null,{"id":"a","count":1}])", R"({"count":1,"id":"a"})"},
        {200, R"([true,null,{"id":"a","count":1},[["monto","requerido"]]])",
         decode("invalid JSON body: invalid length 2, expected struct ApiFieldError with 3 elements at line 1 column 54")},
        {422, R"({"errors":[["monto","requerido"]]})", api(422, R"({\"errors\":[[\"monto\",\"requerido\"]]})", false)},
        {200, R"({"errors":[[]],"data":{"id":"a","count":1}})",
         decode("invalid JSON body: invalid length 0, expected struct ApiFieldError with 3 elements at line 1 column 13")},
        {400, R"([false,"no",null,[["monto","requerido",null]]])",
         api(400, "no", false, R"([{"code":null,"field":"monto","message":"requerido"}])")},
        {299, R"({"success":true,"message":"ok","errors":[],"data":{"count":18446744073709551615,"id":"a","x":[]}})",
         R"({"count":18446744073709551615,"id":"a"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(opened(c.status, c.body), c.expected) << c.status << " " << c.body;
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
        {repeated("a", 201), repeated("a", 200)},
        {"\xe3\x80\x80" + repeated("\xf0\x9f\x98\x80", 300), repeated("\xf0\x9f\x98\x80", 200)},
        {"a" + repeated("\xe2\x82\xac", 299), "a" + repeated("\xe2\x82\xac", 199)},
        // Cut at 200 characters, then nothing more is trimmed.
        {repeated("x", 199) + " y", repeated("x", 199) + " "},
    };
    for (const auto& c : cases) EXPECT_EQ(core::preview(c.body), c.expected) << c.body.substr(0, 40);
}

}  // namespace
