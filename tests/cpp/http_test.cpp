// The HTTP exchange records and the headers of every API request. A missing token and the decoding
// failures of a response are held by the shared record vectors.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "corvane_bo/core/http.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/core/token.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

// Five headers in byte order; nothing is trimmed, and the scheme is Bearer whatever the token calls itself.
TEST(ApiHeaders, FiveHeadersWrittenInByteOrder) {
    const struct {
        core::AccessToken token;
        std::string client_id;
        std::string_view written;
    } cases[] = {
        {{"T0k", "Bearer", 1, "qr"}, "client-1",
         R"({"Accept":"application/json","Authorization":"Bearer T0k","Content-Type":"application/json","access_token":"T0k","client_id":"client-1"})"},
        {{" a b ", "MAC", -9, std::nullopt}, " c ",
         R"({"Accept":"application/json","Authorization":"Bearer  a b ","Content-Type":"application/json","access_token":" a b ","client_id":" c "})"},
        {{"q\"t", "Bearer", 1, std::nullopt}, "c\\d",
         R"({"Accept":"application/json","Authorization":"Bearer q\"t","Content-Type":"application/json","access_token":"q\"t","client_id":"c\\d"})"},
    };
    for (const auto& c : cases) {
        core::Config config;
        config.client_id = c.client_id;
        json::TextStore store;
        const auto headers = core::Ctx{config, &c.token, store}.api_headers();
        ASSERT_TRUE(headers) << c.written;
        const std::string request = json::to_json_text(core::HttpRequest{core::Method::GET, "u", *headers, std::nullopt});
        EXPECT_EQ(request, R"({"body":null,"headers":)" + std::string(c.written) + R"(,"method":"GET","url":"u"})");
    }
}

// The body is the finished text to send, carried as one string; headers are written in byte order.
TEST(HttpRequestJson, WritesAllFourKeysInByteOrder) {
    const core::ApiHeaders headers{"Bearer t", "t", "c"};
    EXPECT_EQ(json::to_json_text(core::HttpRequest{core::Method::PATCH, "u", headers, core::RequestBody{.text = R"({"k":"v"})"}}),
              R"({"body":"{\"k\":\"v\"}","headers":{"Accept":"application/json","Authorization":"Bearer t",)"
              R"("Content-Type":"application/json","access_token":"t","client_id":"c"},"method":"PATCH","url":"u"})");
}

TEST(HttpResponseJson, DecodesStatusAndBodyStrictly) {
    const struct {
        std::string_view text;
        std::string_view expected;  // "<status>|<body>" or the decoder's description
    } cases[] = {
        {R"({"status":204,"body":"","headers":{"x":"y"}})", "204|"},
        {R"({"body":"b","status":65535})", "65535|b"},
        {R"({"status":2e2,"body":""})", "invalid type: floating point `200`, expected u16 at line 1 column 13"},
        {R"({"body":""})", "missing field `status` at line 1 column 11"},
    };
    for (const auto& c : cases) {
        json::TextStore store;
        const auto response = json::from_text<core::HttpResponse>(c.text, store);
        EXPECT_EQ(response ? std::to_string(response->status) + "|" + std::string(response->body)
                           : response.error().describe(c.text),
                  c.expected)
            << c.text;
    }
}

}  // namespace
