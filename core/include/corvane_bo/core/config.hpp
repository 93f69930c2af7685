// The client configuration sent with every build call, and the one place request URLs are made.
#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/text_store.hpp"

namespace corvane_bo_core {

enum class Environment { development, sandbox, production };

// Default base URLs, indexed by environment. Development and sandbox share the test host.
inline constexpr std::array<std::string_view, 3> default_base_urls = {
    "https://qr-test.corvane.bo/desarrollo",
    "https://qr-test.corvane.bo/sandbox",
    "https://qr.corvane.bo",
};

// Its texts view the payload it was read from.
struct Config {
    std::string_view client_id;
    std::optional<std::string_view> client_secret;
    std::optional<std::string_view> basic_token;
    Environment environment = Environment::sandbox;
    std::optional<std::string_view> base_url;

    // The base (the override, even when empty, or the environment's default) and the path joined
    // with exactly one "/", kept in `store`. The path is given in pieces, joined as they are.
    std::string_view url(corvane_bo_json::TextStore& store, std::initializer_list<std::string_view> path) const;
};

}  // namespace corvane_bo_core

template <>
struct corvane_bo_json::Variants<corvane_bo_core::Environment> {
    static constexpr std::array<std::string_view, 3> names = {"development", "sandbox", "production"};
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::Config> {
    using Config = corvane_bo_core::Config;
    static constexpr std::string_view name = "Config";
    static constexpr auto list = std::tuple{
        field("client_id", &Config::client_id),
        field("client_secret", &Config::client_secret),
        field("basic_token", &Config::basic_token),
        field("environment", &Config::environment, defaulted),
        field("base_url", &Config::base_url),
    };
};
