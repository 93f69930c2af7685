// What every answer of `ffi::call` must look like, whatever the payload: one compact JSON text that
// our own reader accepts and our own writer would produce byte for byte (so keys are unique and in
// byte order at every level, nothing is indented, escapes are the canonical ones), shaped as the
// success or failure envelope. Shared by the fuzz targets, their replay driver and the hostile tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/value.hpp"
#include "corvane_bo/json/write.hpp"

namespace corvane_fuzz {

namespace json = corvane_bo_json;

// Nothing when the answer is well formed, else what is wrong with it.
inline std::optional<std::string> answer_fault(std::string_view answer) {
    for (const char c : answer)
        if (static_cast<unsigned char>(c) < 0x20) return "raw control character or line break in the answer";
    auto value = json::parse(answer);
    if (!value) return "answer is not JSON: " + value.error().describe(answer);
    if (json::to_text(*value) != answer) return "answer is not in canonical compact form";
    const auto* envelope = value->get<json::Object>();
    if (envelope == nullptr || envelope->size() != 2) return "envelope is not an object of two keys";
    const auto* ok = envelope->find("ok");
    if (ok == nullptr || ok->get<bool>() == nullptr) return "envelope has no boolean `ok`";
    if (*ok->get<bool>()) {
        if (envelope->find("value") == nullptr) return "success without `value`";
        return std::nullopt;
    }
    const auto* error = envelope->find("error");
    const auto* fields = error ? error->get<json::Object>() : nullptr;
    if (fields == nullptr) return "failure without an `error` object";
    const auto* kind = fields->find("kind");
    const auto* retryable = fields->find("retryable");
    if (kind == nullptr || kind->get<std::string>() == nullptr) return "error without a string `kind`";
    if (retryable == nullptr || retryable->get<bool>() == nullptr) return "error without a boolean `retryable`";
    if (*retryable->get<bool>() && *kind->get<std::string>() != "api") return "retryable error that is not `api`";
    // The fault guard in `call` keeps the host safe, but an exception reaching it is still a bug. Only
    // an "ffi" error can be the guard's: other kinds may carry any text, the bank's own included.
    const auto* message = fields->find("message");
    const auto* text = message ? message->get<std::string>() : nullptr;
    if (*kind->get<std::string>() == "ffi" && text && text->starts_with("core panicked while handling `"))
        return "an exception escaped the operation: " + *text;
    return std::nullopt;
}

}  // namespace corvane_fuzz
