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

Success version() {
    json::Object object;
    object.set("core", json::Value(core_version));
    object.set("protocol", json::Value::unsigned_integer(protocol_version));
    return success(json::Value(std::move(object)));
}

Success describe(std::span<const OpInfo> operations) {
    json::Array list;
    list.reserve(operations.size());
    for (const auto& info : operations) list.push_back(to_value(info));
    return success(json::Value(std::move(list)));
}

std::string failure(const Error& error) {
    json::Value encoded = encode(error);
    encoded.get<json::Object>()->set("retryable", json::Value(error.retryable()));
    std::string out = R"({"error":)";
    json::write(encoded, out);
    out += R"(,"ok":false})";
    return out;
}

Error unknown_operation(std::string_view op) { return Error::ffi("unknown operation `" + std::string(op) + "`"); }

Error panic(std::string_view op) { return Error::ffi("core panicked while handling `" + std::string(op) + "`"); }

Error invalid_payload(const json::DecodeError& error, std::string_view payload) {
    return Error::ffi("invalid payload: " + error.describe(payload));
}

}  // namespace ffi
}  // namespace corvane_bo_core
