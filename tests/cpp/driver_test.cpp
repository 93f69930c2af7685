// The two-stage driver seen through whole answers: how the payload's members reach each stage, in
// both record forms. Decoder messages are held by the shared vectors, stage routing by the Python tests.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "corvane_bo/qr/registry.hpp"

namespace {

constexpr std::string_view config = R"({"client_id":"c","base_url":"https://h/"})";
constexpr std::string_view token = R"({"access_token":"T","token_type":"Bearer","expires_at":-1})";
constexpr std::string_view input = R"({"reference":"1"})";
constexpr std::string_view built =
    R"({"ok":true,"value":{"body":null,"headers":{"Accept":"application/json","Authorization":"Bearer T",)"
    R"("Content-Type":"application/json","access_token":"T","client_id":"c"},"method":"GET","url":"https://h/qr/simple/v2/verify/1"}})";
constexpr std::string_view no_token =
    R"({"error":{"field":"token","kind":"validation","message":"an access token is required for this operation","retryable":false},"ok":false})";

std::string text(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (auto part : parts) out += part;
    return out;
}

// The token may be absent, null or given, in any member order; one object serves both stages, and the
// status is the operation's to judge, not the driver's.
TEST(Driver, MembersReachTheStagesInBothForms) {
    const std::string shared = text({R"({"response":{"status":503,"body":"busy"},"config":)", config, R"(,"token":)", token,
                                     R"(,"input":)", input, R"(,"extra":[{}]})"});
    const struct {
        std::string op, payload;
        std::string_view answer;
    } cases[] = {
        {"qr.verify.build", text({R"({"config":)", config, R"(,"token":null,"input":)", input, "} \t\r\n"}), no_token},
        {"qr.verify.build", text({R"({"input":)", input, R"(,"token":)", token, R"(,"config":)", config, "}"}), built},
        {"qr.verify.build", shared, built},
        {"qr.verify.parse", shared,
         R"({"error":{"errors":[],"kind":"api","message":"busy","retryable":true,"status":503},"ok":false})"},
        {"qr.verify.build", text({"[", config, ",", token, ",", input, "]"}), built},
        {"qr.verify.parse", text({"[", input, R"(,{"status":404,"body":"gone"}])"}),
         R"({"error":{"errors":[],"kind":"api","message":"gone","retryable":false,"status":404},"ok":false})"},
    };
    for (const auto& c : cases) EXPECT_EQ(corvane_bo_qr::call(c.op, c.payload), c.answer) << c.op << " " << c.payload;
}

}  // namespace
