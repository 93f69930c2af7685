// An API operation of the bank: a build stage that describes the HTTP request and a parse stage that
// reads the response. The payload records of the two stages and the build-stage context live here.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>

#include "corvane_bo/core/config.hpp"
#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/http.hpp"
#include "corvane_bo/core/token.hpp"
#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

// What "describe" says of an operation or handler; each carries its own as `info`.
struct OpInfo {
    enum class Kind : std::uint8_t { operation, handler };
    Kind kind = Kind::operation;
    std::string_view name;
    bool idempotent = false;
    std::optional<std::uint32_t> timeout_secs;

    static constexpr OpInfo operation(std::string_view name, bool idempotent,
                                      std::optional<std::uint32_t> timeout_secs = std::nullopt) {
        return OpInfo{Kind::operation, name, idempotent, timeout_secs};
    }
    static constexpr OpInfo handler(std::string_view name) { return OpInfo{Kind::handler, name, false, std::nullopt}; }
};

// The context of one build stage: views of the call's configuration and token, and the call's store
// for texts made up on the way.
struct Ctx {
    const Config& config;
    const AccessToken* token;
    corvane_bo_json::TextStore& store;

    // The headers of every API request, or the validation error for a missing token.
    Result<ApiHeaders> api_headers() const;
};

template <class Input>
struct Build {
    Config config;
    std::optional<AccessToken> token;
    Input input;
};

template <class Input>
struct Parse {
    Input input;
    HttpResponse response;
};

// Records read in a stage view its payload and the call's text store; a parse stage's result may
// view them too, as it is written out before the call ends.
template <class Op>
concept Operation = requires(const Ctx& ctx, const typename Op::Input& input, const HttpResponse& response,
                             corvane_bo_json::TextStore& store) {
    requires Op::info.kind == OpInfo::Kind::operation;
    { Op::request(ctx, input) } -> std::same_as<Result<HttpRequest>>;
    { Op::parse(input, response, store) } -> std::same_as<Result<typename Op::Output>>;
};

// A local operation that runs in one stage on its input record.
template <class H>
concept Handler = requires(const typename H::Input& input, corvane_bo_json::TextStore& store) {
    requires H::info.kind == OpInfo::Kind::handler;
    { H::handle(input, store) } -> std::same_as<Result<typename H::Output>>;
};

}  // namespace corvane_bo_core

template <class Input>
struct corvane_bo_json::Fields<corvane_bo_core::Build<Input>> {
    using Build = corvane_bo_core::Build<Input>;
    static constexpr std::string_view name = "Build";
    static constexpr auto list = std::tuple{
        field("config", &Build::config),
        field("token", &Build::token),
        field("input", &Build::input),
    };
};

template <class Input>
struct corvane_bo_json::Fields<corvane_bo_core::Parse<Input>> {
    using Parse = corvane_bo_core::Parse<Input>;
    static constexpr std::string_view name = "Parse";
    static constexpr auto list = std::tuple{
        field("input", &Parse::input),
        field("response", &Parse::response),
    };
};
