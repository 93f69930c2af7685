#include "corvane_bo/core/error.hpp"

#include <type_traits>

namespace corvane_bo_core {

namespace json = corvane_bo_json;

namespace {

json::Value optional_text(const std::optional<std::string>& text) {
    return text ? json::Value(*text) : json::Value(nullptr);
}

json::Value field_errors(const std::vector<ApiFieldError>& list) {
    json::Array array;
    array.reserve(list.size());
    for (const auto& e : list) array.push_back(to_value(e));
    return json::Value(std::move(array));
}

}  // namespace

std::string_view Error::kind() const {
    static constexpr std::string_view names[] = {"validation", "authentication", "api",   "ambiguous",
                                                 "decode",     "webhook_auth",   "ffi"};
    return names[detail.index()];
}

bool Error::retryable() const {
    const auto* api = as<errors::Api>();
    return api != nullptr && api->retryable;
}

json::Value to_value(const ApiFieldError& error) {
    std::vector<json::Member> members;
    members.push_back({"code", optional_text(error.code)});
    members.push_back({"field", optional_text(error.field)});
    members.push_back({"message", json::Value(error.message)});
    return json::Value(json::Object::from_members(std::move(members)));
}

json::Value encode(const Error& error) {
    std::vector<json::Member> members;
    members.push_back({"kind", json::Value(error.kind())});
    std::visit(
        [&members](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, errors::Validation>) {
                members.push_back({"field", json::Value(e.field)});
            }
            if constexpr (std::is_same_v<E, errors::Authentication> || std::is_same_v<E, errors::Api>) {
                members.push_back({"status", json::Value::unsigned_integer(e.status)});
            }
            if constexpr (std::is_same_v<E, errors::Api> || std::is_same_v<E, errors::Ambiguous>) {
                members.push_back({"errors", field_errors(e.errors)});
            }
            if constexpr (std::is_same_v<E, errors::Api>) {
                members.push_back({"retryable", json::Value(e.retryable)});
            }
            members.push_back({"message", json::Value(e.message)});
        },
        error.detail);
    return json::Value(json::Object::from_members(std::move(members)));
}

}  // namespace corvane_bo_core
