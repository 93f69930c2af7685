#include "corvane_bo/core/ffi.hpp"

#include <array>

#include "corvane_bo/core/unicode.hpp"
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

namespace {

// The answer never changes, so it is spelled out once, when the library is compiled.
constexpr auto version_answer = [] {
    constexpr std::string_view head = R"({"ok":true,"value":{"core":")";
    constexpr std::string_view middle = R"(","protocol":)";
    constexpr std::string_view tail = "}}";
    struct {
        std::array<char, 96> text{};
        std::size_t size = 0;
    } out;
    const auto put = [&](std::string_view piece) {
        for (char c : piece) out.text[out.size++] = c;
    };
    put(head);
    put(core_version);
    put(middle);
    char digits[10];
    std::size_t count = 0;
    std::uint32_t n = protocol_version;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count > 0) out.text[out.size++] = digits[--count];
    put(tail);
    return out;
}();

}  // namespace

Success version() { return Success{std::string(version_answer.text.data(), version_answer.size)}; }

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

Error unknown_operation(std::string_view op) { return Error::ffi("unknown operation `" + to_valid_utf8(op) + "`"); }

Error panic(std::string_view op) { return Error::ffi("core panicked while handling `" + to_valid_utf8(op) + "`"); }

Error unknown_stage(std::string_view stage, std::string_view name) {
    return Error::ffi("unknown stage `" + to_valid_utf8(stage) + "` for `" + std::string(name) + "`");
}

Error invalid_payload(const json::DecodeError& error, std::string_view payload) {
    return Error::ffi("invalid payload: " + error.describe(payload));
}

}  // namespace ffi
}  // namespace corvane_bo_core
