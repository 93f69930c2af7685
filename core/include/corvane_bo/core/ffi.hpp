// The single door into the system: an operation name and a JSON payload in, one answer text out.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_core {

// The descriptor of one registry entry, as "describe" lists it.
struct OpInfo {
    enum class Kind : std::uint8_t { operation, handler };
    Kind kind = Kind::operation;
    std::string_view name;
    bool idempotent = false;
    std::optional<std::uint32_t> timeout_secs;

    static constexpr OpInfo operation(std::string_view name, bool idempotent) {
        return OpInfo{Kind::operation, name, idempotent, std::nullopt};
    }
    static constexpr OpInfo handler(std::string_view name) { return OpInfo{Kind::handler, name, false, std::nullopt}; }
};

corvane_bo_json::Value to_value(const OpInfo& info);

// A table of operations: routes a name to its driver, or answers nothing for a name it does not know.
template <class R>
concept Registry = requires(const R& registry, std::string_view op, std::string_view payload) {
    { registry.dispatch(op, payload) } -> std::same_as<std::optional<Result<corvane_bo_json::Value>>>;
    { registry.operations() } -> std::convertible_to<std::span<const OpInfo>>;
};

namespace ffi {

inline constexpr std::string_view core_version = "0.1.0";
inline constexpr std::uint32_t protocol_version = 2;

// The answer text for an outcome: {"ok":true,"value":...} or {"error":{...},"ok":false}.
std::string answer(const Result<corvane_bo_json::Value>& outcome);
corvane_bo_json::Value version_value();
corvane_bo_json::Value describe_value(std::span<const OpInfo> operations);
Error panic(std::string_view op);

// Never reports a failure other than through the answer text; faults inside the registry become
// "core panicked while handling `<op>`".
template <Registry R>
std::string call(const R& registry, std::string_view op, std::string_view payload) {
    Result<corvane_bo_json::Value> outcome = std::unexpected(Error::ffi({}));
    try {
        if (op == "describe") {
            outcome = describe_value(registry.operations());
        } else if (op == "version") {
            outcome = version_value();
        } else if (auto routed = registry.dispatch(op, payload)) {
            outcome = std::move(*routed);
        } else {
            outcome = std::unexpected(Error::ffi("unknown operation `" + std::string(op) + "`"));
        }
    } catch (...) {
        outcome = std::unexpected(panic(op));
    }
    return answer(outcome);
}

}  // namespace ffi
}  // namespace corvane_bo_core
