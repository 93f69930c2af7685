#include "corvane_bo/core/envelope.hpp"

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_core {

namespace json = corvane_bo_json;

namespace {

constexpr std::size_t preview_characters = 200;

Error api_error(const HttpResponse& response, std::string message, std::vector<ApiFieldError> errors, bool retryable) {
    return Error{errors::Api{response.status, std::move(message), std::move(errors), retryable}};
}

}  // namespace

std::string preview(std::string_view body) {
    const std::string_view trimmed = trim(body);
    if (trimmed.empty()) return "empty response body";
    return std::string(json::first_characters(trimmed, preview_characters));
}

std::string failed(const HttpResponse& response) { return "request failed with HTTP " + std::to_string(response.status); }

std::optional<std::string> text_field(const json::Value& value, std::initializer_list<std::string_view> keys) {
    const auto* object = value.get<json::Object>();
    if (object == nullptr) return std::nullopt;
    for (std::string_view key : keys) {
        const json::Value* found = object->find(key);
        const auto* text = found ? found->get<std::string>() : nullptr;
        if (text == nullptr) continue;
        const std::string_view trimmed = trim(*text);
        if (!trimmed.empty()) return std::string(trimmed);
    }
    return std::nullopt;
}

std::string message_from_body(std::string_view body) {
    if (auto value = json::parse(body))
        if (auto message = text_field(*value, {"error_description", "message", "error"})) return std::move(*message);
    return preview(body);
}

Error SuccessWire::into_error(const HttpResponse& response) && {
    return api_error(response, message ? std::move(*message) : failed(response), std::move(errors), false);
}

template <>
Result<SuccessWire> json_body<SuccessWire>(const HttpResponse& response) {
    if (response.status == 401 || response.status == 403)
        return std::unexpected(Error{errors::Authentication{response.status, message_from_body(response.body)}});
    auto wire = json::from_text<SuccessWire>(response.body);
    if (wire) return std::move(*wire);
    if (response.is_success())
        return std::unexpected(Error::decode("invalid JSON body: " + wire.error().describe(response.body)));
    return std::unexpected(api_error(response, preview(response.body), {}, retryable_status(response.status)));
}

Result<json::Value> SuccessData::opened_data(const HttpResponse& response) {
    auto wire = json_body<SuccessWire>(response);
    if (!wire) return std::unexpected(std::move(wire.error()));
    if (wire->success == false) return std::unexpected(std::move(*wire).into_error(response));
    if (!response.is_success()) {
        std::string message = wire->message ? std::move(*wire->message) : failed(response);
        return std::unexpected(
            api_error(response, std::move(message), std::move(wire->errors), retryable_status(response.status)));
    }
    if (!wire->data) return std::unexpected(Error::decode("response has no `data` field"));
    return std::move(*wire->data);
}

}  // namespace corvane_bo_core
