// The HTTP exchange records and the headers of every API request.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/core/http.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/core/token.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

TEST(ApiHeaders, FiveHeadersWrittenInByteOrder) {
    const struct {
        core::AccessToken token;
        std::string client_id;
        std::string_view written;
    } cases[] = {
        {{"T0k", "Bearer", 1, "qr"}, "client-1",
         R"({"Accept":"application/json","Authorization":"Bearer T0k","Content-Type":"application/json","access_token":"T0k","client_id":"client-1"})"},
        // Nothing is trimmed or judged: an empty token still makes "Bearer " with its space.
        {{"", "Bearer", 0, std::nullopt}, "",
         R"({"Accept":"application/json","Authorization":"Bearer ","Content-Type":"application/json","access_token":"","client_id":""})"},
        // The scheme is always Bearer, whatever the token calls itself.
        {{" a b ", "MAC", -9, std::nullopt}, " c ",
         R"({"Accept":"application/json","Authorization":"Bearer  a b ","Content-Type":"application/json","access_token":" a b ","client_id":" c "})"},
    };
    for (const auto& c : cases) {
        core::Config config;
        config.client_id = c.client_id;
        const auto headers = core::Ctx{config, &c.token}.api_headers();
        ASSERT_TRUE(headers) << c.written;
        EXPECT_EQ(json::to_json_text(*headers), c.written);
    }
}

TEST(ApiHeaders, MissingTokenIsAValidationErrorOnToken) {
    core::Config config;
    config.client_id = "c";
    const auto headers = core::Ctx{config, nullptr}.api_headers();
    ASSERT_FALSE(headers);
    EXPECT_EQ(core::ffi::failure(headers.error()),
              R"({"error":{"field":"token","kind":"validation","message":"an access token is required for this operation","retryable":false},"ok":false})");
}

TEST(HttpRequestJson, WritesAllFourKeysInByteOrder) {
    EXPECT_EQ(json::to_json_text(core::HttpRequest{core::Method::GET, "https://h/p", {}, std::nullopt}),
              R"({"body":null,"headers":{},"method":"GET","url":"https://h/p"})");
    // The body is the finished text to send, carried as one string.
    EXPECT_EQ(json::to_json_text(core::HttpRequest{core::Method::PATCH, "u", {{"b", "2"}, {"a", "1"}}, R"({"k":"v"})"}),
              R"({"body":"{\"k\":\"v\"}","headers":{"a":"1","b":"2"},"method":"PATCH","url":"u"})");
    EXPECT_EQ(json::to_json_text(core::HttpRequest{core::Method::POST, "", {}, ""}),
              R"({"body":"","headers":{},"method":"POST","url":""})");
}

TEST(HttpResponseJson, DecodesStatusAndBodyStrictly) {
    const struct {
        std::string_view text;
        std::string_view expected;  // "<status>|<body>" or the decoder's description
    } cases[] = {
        {R"({"status":204,"body":"","headers":{"x":"y"}})", "204|"},
        {R"({"body":"b","status":65535})", "65535|b"},
        {R"({"status":70000,"body":""})", "invalid value: integer `70000`, expected u16 at line 1 column 15"},
        {R"({"status":-1,"body":""})", "invalid value: integer `-1`, expected u16 at line 1 column 12"},
        {R"({"status":"200","body":""})", R"(invalid type: string "200", expected u16 at line 1 column 15)"},
        {R"({"status":2e2,"body":""})", "invalid type: floating point `200`, expected u16 at line 1 column 13"},
        {R"({"status":200,"body":null})", "invalid type: null, expected a string at line 1 column 25"},
        {R"({"status":200})", "missing field `body` at line 1 column 14"},
        {R"({"body":""})", "missing field `status` at line 1 column 11"},
    };
    for (const auto& c : cases) {
        const auto response = json::from_text<core::HttpResponse>(c.text);
        EXPECT_EQ(response ? std::to_string(response->status) + "|" + response->body : response.error().describe(c.text),
                  c.expected)
            << c.text;
    }
}

TEST(HttpResponseJson, SuccessIsExactly200To299) {
    const struct {
        std::uint16_t status;
        bool success;
    } cases[] = {{0, false}, {199, false}, {200, true}, {204, true}, {299, true}, {300, false}, {65535, false}};
    for (const auto& c : cases) EXPECT_EQ((core::HttpResponse{c.status, ""}.is_success()), c.success) << c.status;
}

}  // namespace
