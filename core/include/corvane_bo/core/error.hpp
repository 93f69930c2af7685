// The one failure type of the system. Every component returns it as a value; only `ffi::call`
// encodes it into the answer.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "corvane_bo/json/value.hpp"

namespace corvane_bo_core {

// One field-level complaint of the bank API.
struct ApiFieldError {
    std::optional<std::string> field;
    std::string message;
    std::optional<std::string> code;
};

namespace errors {
struct Validation {
    std::string field;
    std::string message;
};
struct Authentication {
    std::uint16_t status = 0;
    std::string message;
};
struct Api {
    std::uint16_t status = 0;
    std::string message;
    std::vector<ApiFieldError> errors;
    bool retryable = false;
};
struct Ambiguous {
    std::string message;
    std::vector<ApiFieldError> errors;
};
struct Decode {
    std::string message;
};
struct WebhookAuth {
    std::string message;
};
struct Ffi {
    std::string message;
};
}  // namespace errors

struct Error {
    std::variant<errors::Validation, errors::Authentication, errors::Api, errors::Ambiguous, errors::Decode,
                 errors::WebhookAuth, errors::Ffi>
        detail;

    static Error validation(std::string_view field, std::string_view message) {
        return Error{errors::Validation{std::string(field), std::string(message)}};
    }
    static Error decode(std::string message) { return Error{errors::Decode{std::move(message)}}; }
    static Error webhook_auth(std::string message) { return Error{errors::WebhookAuth{std::move(message)}}; }
    static Error ffi(std::string message) { return Error{errors::Ffi{std::move(message)}}; }

    // The JSON "kind" of this error.
    std::string_view kind() const;
    // Only an api error whose own flag is set is worth retrying.
    bool retryable() const;
    template <class K> const K* as() const { return std::get_if<K>(&detail); }
};

template <class T>
using Result = std::expected<T, Error>;

// Whether an api error built from a failed HTTP status deserves a retry.
constexpr bool retryable_status(std::uint16_t status) { return status == 408 || status == 429 || status >= 500; }

corvane_bo_json::Value to_value(const ApiFieldError& error);
// The error object as it appears in an answer, without "retryable" (which `ffi::call` adds).
corvane_bo_json::Value encode(const Error& error);

}  // namespace corvane_bo_core
