// The bank API's response envelope: every answer wraps its payload under `data`, with a success
// flag, a message and field errors. Opening a response judges the HTTP status first, then the envelope,
// and yields the operation's data record or one error that says whether a retry makes sense.
#pragma once

#include <concepts>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/http.hpp"
#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

struct SuccessWire {
    std::optional<bool> success;
    std::optional<std::string> message;
    std::optional<corvane_bo_json::Value> data;
    std::vector<ApiFieldError> errors;

    // The api error of an envelope that reports failure: never retryable, whatever the status.
    Error into_error(const HttpResponse& response) &&;
};

// At most 200 characters of the trimmed body, or "empty response body".
std::string preview(std::string_view body);
// "request failed with HTTP <status>".
std::string failed(const HttpResponse& response);
// The first of `keys` holding a string that is not blank once trimmed, trimmed.
std::optional<std::string> text_field(const corvane_bo_json::Value& value, std::initializer_list<std::string_view> keys);
// The bank's own words from a JSON body, or else its preview.
std::string message_from_body(std::string_view body);

// The response body read as the envelope record `W`: 401 and 403 are authentication failures; an
// undecodable body is a decode error on 2xx and an api error otherwise.
template <class W>
Result<W> json_body(const HttpResponse& response);

template <>
Result<SuccessWire> json_body<SuccessWire>(const HttpResponse& response);

template <class E>
concept Envelope = requires(const HttpResponse& response) {
    { E::template open<corvane_bo_json::Value>(response) } -> std::same_as<Result<corvane_bo_json::Value>>;
};

struct SuccessData {
    // The data record T of a successful response; `data` is read from the already decoded value.
    template <class T>
    static Result<T> open(const HttpResponse& response) {
        auto wire = opened_data(response);
        if (!wire) return std::unexpected(std::move(wire.error()));
        auto record = corvane_bo_json::from_value<T>(std::move(*wire));
        if (!record) return std::unexpected(Error::decode("unexpected payload shape: " + record.error().message));
        return std::move(*record);
    }

    // Every step of opening but the reading of the record: the `data` value itself.
    static Result<corvane_bo_json::Value> opened_data(const HttpResponse& response);
};

static_assert(Envelope<SuccessData>);

}  // namespace corvane_bo_core

template <>
struct corvane_bo_json::Fields<corvane_bo_core::ApiFieldError> {
    using ApiFieldError = corvane_bo_core::ApiFieldError;
    static constexpr std::string_view name = "ApiFieldError";
    static constexpr auto list = std::tuple{
        field("field", &ApiFieldError::field, defaulted),
        field("message", &ApiFieldError::message),
        field("code", &ApiFieldError::code, defaulted),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::SuccessWire> {
    using SuccessWire = corvane_bo_core::SuccessWire;
    static constexpr std::string_view name = "SuccessWire";
    static constexpr auto list = std::tuple{
        field("success", &SuccessWire::success, defaulted),
        field("message", &SuccessWire::message, defaulted),
        field("data", &SuccessWire::data, defaulted),
        field("errors", &SuccessWire::errors, defaulted),
    };
};
