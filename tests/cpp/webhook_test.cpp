// Webhook targets and the authentication of received notifications.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/core/webhook.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

// "ok", or the error object as an answer carries it.
std::string shown(const core::Result<void>& result) {
    if (result) return "ok";
    const std::string answer = core::ffi::failure(result.error());
    return answer.substr(9, answer.size() - 9 - 12);
}

std::string invalid(std::string_view field, std::string_view message) {
    return R"({"field":")" + std::string(field) + R"(","kind":"validation","message":")" + std::string(message) +
           R"(","retryable":false})";
}

TEST(WebhookTarget, ValidatesUrlThenKeyThenValue) {
    const std::string bad_url = invalid("webhook.url", "must be an http(s) URL");
    const std::string empty_key = invalid("webhook.key", "must not be empty");
    const std::string bad_key = invalid("webhook.key", "must be a valid HTTP header name");
    const std::string empty_value = invalid("webhook.value", "must not be empty");
    const struct {
        core::WebhookTarget target;
        std::string expected;
    } cases[] = {
        {{"https://shop.bo/hook", "X-Key_2", "s"}, "ok"},
        {{" \xe3\x80\x80https://shop.bo/hook \n", "k", "s"}, "ok"},
        {{"http://", "k", "s"}, "ok"},
        {{"HTTPS://shop.bo/hook", "k", "s"}, bad_url},
        {{"ftp://shop.bo/hook", "k", "s"}, bad_url},
        {{"https:/shop.bo", "k", "s"}, bad_url},
        {{"", "", ""}, bad_url},
        {{"http://h", "", ""}, empty_key},
        {{"http://h", " \xe3\x80\x80 ", "s"}, empty_key},
        {{"http://h", "k ", ""}, bad_key},
        {{"http://h", "X.Key", "s"}, bad_key},
        {{"http://h", "X:Key", "s"}, bad_key},
        {{"http://h", "Cl\xc3\xa9", "s"}, bad_key},
        {{"http://h", "k", " \t"}, empty_value},
        {{"http://h", "k", " a b "}, "ok"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shown(c.target.validate()), c.expected) << c.target.url << "|" << c.target.key << "|" << c.target.value;
    // Validation trims only for its tests: the target is written as it was read.
    EXPECT_EQ(json::to_json_text(core::WebhookTarget{" http://h ", "k", " v "}),
              R"({"key":"k","url":" http://h ","value":" v "})");
}

TEST(WebhookAuthenticate, MatchesTheFirstHeaderByFoldedName) {
    const std::string mismatch = R"({"kind":"webhook_auth","message":"`X-Key` header does not match","retryable":false})";
    const std::string missing = R"({"kind":"webhook_auth","message":"missing `X-Key` header","retryable":false})";
    const std::string empty_expected = invalid("value", "expected webhook header value must not be empty");
    // Every failure message is compared whole, so none can carry a header value.
    const struct {
        json::TextPairs headers;
        std::string_view name;
        std::string_view expected;
        std::string result;
    } cases[] = {
        {{{"x-key", "s3cret"}}, "X-Key", "s3cret", "ok"},
        {{{"X-KEY", "s3cret"}, {"a", "b"}}, "x-key", "s3cret", "ok"},
        // Upper case sorts first, and only that entry is compared.
        {{{"X-KEY", "wrong"}, {"x-key", "s3cret"}}, "X-Key", "s3cret", mismatch},
        {{{"X-KEY", "s3cret"}, {"x-key", "wrong"}}, "X-Key", "s3cret", "ok"},
        // Headers as they came: the order of arrival does not matter, a name given twice keeps its last value.
        {{{"x-key", "s3cret"}, {"X-KEY", "wrong"}}, "X-Key", "s3cret", mismatch},
        {{{"X-Key", "wrong"}, {"x-key", "x"}, {"X-Key", "s3cret"}}, "X-Key", "s3cret", "ok"},
        {{{"X-Key", "s3cret"}, {"X-Key", "wrong"}}, "X-Key", "s3cret", mismatch},
        {{{"X-Key", "s3cret "}}, "X-Key", "s3cret", mismatch},
        {{{"X-Key", "S3cret"}}, "X-Key", "s3cret", mismatch},
        {{{"X-Key", " "}}, "X-Key", " ", "ok"},
        {{{"X-Key", "s3cret"}}, "X-Key", "", empty_expected},
        {{}, "X-Key", "", empty_expected},
        {{}, "X-Key", "s3cret", missing},
        {{{"X-Kez", "s3cret"}, {"X-Key-2", "s3cret"}, {"X-Ke", "s3cret"}}, "X-Key", "s3cret", missing},
        {{{" X-Key", "s3cret"}}, "X-Key", "s3cret", missing},
        // Only A to Z fold: bytes 0x20 apart elsewhere are different names.
        {{{"x[", "v"}}, "x{", "v",
         R"({"kind":"webhook_auth","message":"missing `x{` header","retryable":false})"},
        {{{"\xc3\xa4", "v"}}, "\xc3\x84", "v",
         R"({"kind":"webhook_auth","message":"missing `)" "\xc3\x84" R"(` header","retryable":false})"},
        {{{"X-Key", "v"}}, "", "v", R"({"kind":"webhook_auth","message":"missing `` header","retryable":false})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shown(core::webhook::authenticate(c.headers, c.name, c.expected)), c.result)
            << c.name << " expecting '" << c.expected << "'";
}

TEST(WebhookAuthenticate, ManyHeadersAsReadFromTheCall) {
    // Past the headers held inline, those read later (and a copy of them all) are still searched, in
    // the order of arrival.
    std::string text = R"({"headers": {)";
    for (int i = 0; i < 40; ++i) text += "\"h" + std::to_string(i) + "\": \"v" + std::to_string(i) + "\", ";
    text += R"("X-Key": "early", "x-key": "s3cret"}, "body": "{}", "key": "X-Key", "value": "s3cret"})";
    json::TextStore store;
    const auto call = json::from_text<core::WebhookCall>(text, store);
    ASSERT_TRUE(call);
    ASSERT_EQ(call->headers.size(), 42u);
    EXPECT_EQ(call->headers.begin()[39].second, "v39");
    const json::TextPairs copied = call->headers;
    EXPECT_EQ(copied, call->headers);
    EXPECT_EQ(shown(core::webhook::authenticate(copied, "X-Key", "early")), "ok");
    EXPECT_NE(shown(core::webhook::authenticate(copied, "X-Key", "s3cret")).find("does not match"), std::string::npos);
}

}  // namespace
