// The client configuration: how request URLs are joined, the default bases, and the defaults of a
// decoded `config` member. Its other decoding failures are held by the shared record vectors.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/core/config.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;
using core::Environment;

struct UrlCase {
    std::optional<std::string> base_url;
    Environment environment;
    std::string_view path;
    std::string expected;
};

TEST(ConfigUrl, JoinsBaseAndPathWithExactlyOneSlash) {
    const UrlCase cases[] = {
        {"https://h/api/", Environment::sandbox, "/v1", "https://h/api/v1"},
        {"https://h/api///", Environment::sandbox, "///v1", "https://h/api/v1"},
        {"https://h", Environment::sandbox, "v1", "https://h/v1"},
        {"https://h//a//", Environment::sandbox, "//b//c//", "https://h//a/b//c//"},  // inner slashes stay
        {"https://h", Environment::sandbox, "", "https://h/"},
        {"https://h/", Environment::sandbox, "/", "https://h/"},
        // A present base wins even when empty or all slashes; the environment is not consulted.
        {"", Environment::production, "v1", "/v1"},
        {"///", Environment::production, "/v1", "/v1"},
        {"https://mine", Environment::production, "v1", "https://mine/v1"},
        // Only slashes are removed: white space at the seam is part of the texts.
        {" https://h/ ", Environment::sandbox, " v1", " https://h/ / v1"},
        {"https://h/\xe2\x80\x83/", Environment::sandbox, "/\xc3\xa9", "https://h/\xe2\x80\x83/\xc3\xa9"},
        // Development and sandbox share the test host and differ in their path; production is a bare host.
        {std::nullopt, Environment::sandbox, "qr/simple/v2", "https://qr-test.corvane.bo/sandbox/qr/simple/v2"},
        {std::nullopt, Environment::production, "/qr/simple/v2", "https://qr.corvane.bo/qr/simple/v2"},
        {std::nullopt, Environment::development, "", "https://qr-test.corvane.bo/desarrollo/"},
    };
    for (const auto& c : cases) {
        core::Config config;
        config.client_id = "c";
        config.environment = c.environment;
        config.base_url = c.base_url;
        json::TextStore store;
        EXPECT_EQ(config.url(store, {c.path}), c.expected) << c.base_url.value_or("<default>") << " + " << c.path;
    }
}

// The path's pieces are joined as they are; its leading slashes are dropped even across pieces.
TEST(ConfigUrl, JoinsThePiecesOfThePath) {
    const struct {
        std::string_view first;
        std::string_view second;
        std::string_view third;
        std::string_view expected;
    } cases[] = {
        {"qr/simple/v2", "/verify/", "104", "https://h/qr/simple/v2/verify/104"},
        {"/", "//v1", "/x", "https://h/v1/x"},
        {"", "", "/v1/", "https://h/v1/"},
        {"", "", "", "https://h/"},
    };
    core::Config config;
    config.base_url = "https://h/";
    json::TextStore store;
    for (const auto& c : cases) EXPECT_EQ(config.url(store, {c.first, c.second, c.third}), c.expected) << c.expected;
}

// Decoded configurations are shown through the generic writer, so every field is compared at once.
TEST(ConfigDecode, MembersAndDefaults) {
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {R"({"client_id":"c"})",
         R"({"base_url":null,"basic_token":null,"client_id":"c","client_secret":null,"environment":"sandbox"})"},
        {R"({"x":{"y":[1,{}]},"client_id":"","client_secret":"s","basic_token":"b","base_url":" u ","environment":"development"})",
         R"({"base_url":" u ","basic_token":"b","client_id":"","client_secret":"s","environment":"development"})"},
        {R"({"client_id":"c","environment":null})", "expected value at line 1 column 32"},
    };
    for (const auto& c : cases) {
        json::TextStore store;
        const auto config = json::from_text<core::Config>(c.text, store);
        EXPECT_EQ(config ? json::to_json_text(*config) : config.error().describe(c.text), c.expected) << c.text;
    }
}

}  // namespace
