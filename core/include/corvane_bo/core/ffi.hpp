// The single door into the system: an operation name and a JSON payload in, one answer text out.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_core {

corvane_bo_json::Value to_value(const OpInfo& info);

namespace ffi {

// A success answer written in full, {"ok":true,"value":<value>}: values are written once, straight
// into the answer text, never through an intermediate tree.
struct Success {
    std::string answer;
};

template <class T>
Success success(const T& value, std::size_t size_hint = 0) {
    static constexpr std::string_view head = R"({"ok":true,"value":)";
    Success out;
    corvane_bo_json::Writer::append_to(out.answer, head.size() + size_hint + 1, [&value](corvane_bo_json::Writer& writer) {
        writer.append(head);
        corvane_bo_json::write_json(value, writer);
        writer.put('}');
    });
    return out;
}

}  // namespace ffi

using Outcome = Result<ffi::Success>;

// A table of operations: routes a name to its driver, or answers nothing for a name it does not know.
template <class R>
concept Registry = requires(const R& registry, std::string_view op, std::string_view payload) {
    { registry.dispatch(op, payload) } -> std::same_as<std::optional<Outcome>>;
    { registry.operations() } -> std::convertible_to<std::span<const OpInfo>>;
};

namespace ffi {

inline constexpr std::string_view core_version = "0.1.0";
inline constexpr std::uint32_t protocol_version = 2;

Success version();
Success describe(std::span<const OpInfo> operations);
// The failure answer: the encoded error with "retryable" added.
std::string failure(const Error& error);
Error unknown_operation(std::string_view op);
Error panic(std::string_view op);
Error unknown_stage(std::string_view stage, std::string_view operation);
Error invalid_payload(const corvane_bo_json::DecodeError& error, std::string_view payload);

// Equality with a text the compiler knows: the length decides most mismatches, and the bytes are
// then compared inline (`std::string_view::compare` is left a call, that orders as well).
inline bool is_text(std::string_view text, std::string_view known) noexcept {
    return text.size() == known.size() && std::memcmp(text.data(), known.data(), known.size()) == 0;
}

// Never reports a failure other than through the answer text; a fault escaping the registry becomes
// "core panicked while handling `<op>`".
template <Registry R>
std::string call(const R& registry, std::string_view op, std::string_view payload) {
    std::optional<Error> error;
    try {
        if (is_text(op, "describe")) return describe(registry.operations()).answer;
        if (is_text(op, "version")) return version().answer;
        auto outcome = registry.dispatch(op, payload);
        if (!outcome) return failure(unknown_operation(op));
        if (*outcome) return std::move((*outcome)->answer);
        return failure(outcome->error());
    } catch (...) {
        error = panic(op);
    }
    return failure(*error);
}

// Drives an API operation: the stage is checked before the payload is looked at.
template <Operation Op>
Outcome run(std::string_view stage, std::string_view payload) {
    using Input = typename Op::Input;
    corvane_bo_json::TextStore store;
    if (is_text(stage, "build")) {
        auto build = corvane_bo_json::from_text<Build<Input>>(payload, store);
        if (!build) return std::unexpected(invalid_payload(build.error(), payload));
        const Ctx ctx{build->config, build->token ? &*build->token : nullptr, store};
        auto request = Op::request(ctx, build->input);
        if (!request) return std::unexpected(std::move(request.error()));
        return success(*request, request->written_size_hint());
    }
    if (is_text(stage, "parse")) {
        auto parse = corvane_bo_json::from_text<Parse<Input>>(payload, store);
        if (!parse) return std::unexpected(invalid_payload(parse.error(), payload));
        auto result = Op::parse(parse->input, parse->response, store);
        if (!result) return std::unexpected(std::move(result.error()));
        return success(*result, parse->response.body.size() + 256);
    }
    return std::unexpected(unknown_stage(stage, Op::info.name));
}

// Drives a local operation whose payload is its input record itself.
template <Handler H>
Outcome run_handler(std::string_view payload) {
    corvane_bo_json::TextStore store;
    auto input = corvane_bo_json::from_text<typename H::Input>(payload, store);
    if (!input) return std::unexpected(invalid_payload(input.error(), payload));
    auto result = H::handle(*input, store);
    if (!result) return std::unexpected(std::move(result.error()));
    // The answer restates about what the payload said: its size is a fair first reservation.
    return success(*result, payload.size());
}

// Where the stage of `op` starts when `op` is "<name>.<stage>", uninspected.
inline std::optional<std::string_view> stage_of(std::string_view op, std::string_view name) {
    if (op.size() <= name.size() || op[name.size()] != '.' || !is_text(op.substr(0, name.size()), name))
        return std::nullopt;
    return op.substr(name.size() + 1);
}

template <class Op>
bool run_if_named(std::string_view op, std::string_view payload, std::optional<Outcome>& out) {
    if constexpr (Operation<Op>) {
        if (auto stage = stage_of(op, Op::info.name)) return out.emplace(run<Op>(*stage, payload)), true;
    } else {
        if (is_text(op, Op::info.name)) return out.emplace(run_handler<Op>(payload)), true;
    }
    return false;
}

template <class... Ops>
constexpr bool distinct_names() {
    constexpr std::array<std::string_view, sizeof...(Ops)> names = {Ops::info.name...};
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "describe" || names[i] == "version") return false;
        for (std::size_t j = 0; j < i; ++j)
            if (names[i] == names[j]) return false;
    }
    return true;
}

}  // namespace ffi

// The one table of a system's operations: "describe" lists their descriptors in this order, and
// `dispatch` routes a name to the first whose name it carries.
template <class... Ops>
struct OperationTable {
    static_assert(((Operation<Ops> || Handler<Ops>) && ...), "an entry is an operation or a handler");
    static_assert(ffi::distinct_names<Ops...>(), "names are distinct and none is answered by `call` itself");

    static constexpr std::array<OpInfo, sizeof...(Ops)> infos = {Ops::info...};

    std::optional<Outcome> dispatch(std::string_view op, std::string_view payload) const {
        std::optional<Outcome> out;
        (void)(ffi::run_if_named<Ops>(op, payload, out) || ...);
        return out;
    }
    std::span<const OpInfo> operations() const { return infos; }
};

}  // namespace corvane_bo_core
