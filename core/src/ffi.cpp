#include "corvane_bo/core/ffi.hpp"

#include "corvane_bo/json/write.hpp"

namespace corvane_bo_core {

namespace json = corvane_bo_json;

json::Value to_value(const OpInfo& info) {
    json::Object object;
    object.set("kind", json::Value(info.kind == OpInfo::Kind::operation ? "operation" : "handler"));
    object.set("name", json::Value(info.name));
    if (info.kind == OpInfo::Kind::operation) {
        object.set("idempotent", json::Value(info.idempotent));
        if (info.timeout_secs) object.set("timeout_secs", json::Value::unsigned_integer(*info.timeout_secs));
    }
    return json::Value(std::move(object));
}

namespace ffi {

json::Value version_value() {
    json::Object object;
    object.set("core", json::Value(core_version));
    object.set("protocol", json::Value::unsigned_integer(protocol_version));
    return json::Value(std::move(object));
}

json::Value describe_value(std::span<const OpInfo> operations) {
    json::Array list;
    list.reserve(operations.size());
    for (const auto& info : operations) list.push_back(to_value(info));
    return json::Value(std::move(list));
}

Error panic(std::string_view op) { return Error::ffi("core panicked while handling `" + std::string(op) + "`"); }

std::string answer(const Result<json::Value>& outcome) {
    std::string out;
    if (outcome) {
        out += R"({"ok":true,"value":)";
        json::write(*outcome, out);
        out += '}';
        return out;
    }
    json::Value error = encode(outcome.error());
    error.get<json::Object>()->set("retryable", json::Value(outcome.error().retryable()));
    out += R"({"error":)";
    json::write(error, out);
    out += R"(,"ok":false})";
    return out;
}

}  // namespace ffi
}  // namespace corvane_bo_core
