// The bearer token the host obtains from the bank network and hands in with each build call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

// Only `access_token` is used; the system has no clock and never judges expiry.
struct AccessToken {
    std::string_view access_token;
    std::string_view token_type;
    std::int64_t expires_at = 0;
    std::optional<std::string_view> scope;
};

}  // namespace corvane_bo_core

template <>
struct corvane_bo_json::Fields<corvane_bo_core::AccessToken> {
    using AccessToken = corvane_bo_core::AccessToken;
    static constexpr std::string_view name = "AccessToken";
    static constexpr auto list = std::tuple{
        field("access_token", &AccessToken::access_token),
        field("token_type", &AccessToken::token_type),
        field("expires_at", &AccessToken::expires_at),
        field("scope", &AccessToken::scope),
    };
};
