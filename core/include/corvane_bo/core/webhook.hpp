// Webhooks: the target a merchant asks the bank to notify, and the authentication of a received
// notification against the one header the merchant agreed with the bank.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

struct WebhookTarget {
    std::string_view url;
    std::string_view key;
    std::string_view value;

    // The url has an http(s) scheme, the key is a non-blank header name, the value is not blank.
    // Trims for its tests only; the texts are sent as they are.
    Result<void> validate() const;
};

struct WebhookCall {
    corvane_bo_json::TextPairs headers;
    std::string_view body;
    std::string_view key;
    std::string_view value;

    Result<void> authenticate() const;
};

namespace webhook {

// The header whose name equals `name` with ASCII letters folded must carry exactly `expected`. Of
// several such, the one whose name comes first in byte order counts, and of a name given twice, its
// last value. Neither failure reveals a header value.
Result<void> authenticate(const corvane_bo_json::TextPairs& headers, std::string_view name, std::string_view expected);

// Equal texts, compared without stopping at the first difference when the lengths agree.
bool equal_in_constant_time(std::string_view a, std::string_view b);

}  // namespace webhook
}  // namespace corvane_bo_core

// The loop behind `equal_in_constant_time`, under a name that the shipped module keeps: 1 when equal.
extern "C" int corvane_bo_equal_in_constant_time(const char* a, std::size_t a_size, const char* b,
                                                 std::size_t b_size);

template <>
struct corvane_bo_json::Fields<corvane_bo_core::WebhookTarget> {
    using WebhookTarget = corvane_bo_core::WebhookTarget;
    static constexpr std::string_view name = "WebhookTarget";
    static constexpr auto list = std::tuple{
        field("url", &WebhookTarget::url),
        field("key", &WebhookTarget::key),
        field("value", &WebhookTarget::value),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::WebhookCall> {
    using WebhookCall = corvane_bo_core::WebhookCall;
    static constexpr std::string_view name = "WebhookCall";
    static constexpr auto list = std::tuple{
        field("headers", &WebhookCall::headers),
        field("body", &WebhookCall::body),
        field("key", &WebhookCall::key),
        field("value", &WebhookCall::value),
    };
};
