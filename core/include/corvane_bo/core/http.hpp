// The HTTP exchange as the host sees it: the request a build stage describes and the response a
// parse stage reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

enum class Method { GET, POST, PATCH };

// Its headers view the call's configuration, token and store.
struct HttpRequest {
    Method method = Method::GET;
    std::string_view url;
    corvane_bo_json::TextViewMap headers;
    // The finished JSON text to send, or none for a request without a body (written as null).
    std::optional<std::string> body;
};

// Read from a payload, its body views it.
struct HttpResponse {
    std::uint16_t status = 0;
    std::string_view body;

    bool is_success() const { return status >= 200 && status <= 299; }
};

}  // namespace corvane_bo_core

template <>
struct corvane_bo_json::Variants<corvane_bo_core::Method> {
    static constexpr std::array<std::string_view, 3> names = {"GET", "POST", "PATCH"};
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::HttpRequest> {
    using HttpRequest = corvane_bo_core::HttpRequest;
    static constexpr std::string_view name = "HttpRequest";
    static constexpr auto list = std::tuple{
        field("method", &HttpRequest::method),
        field("url", &HttpRequest::url),
        field("headers", &HttpRequest::headers),
        field("body", &HttpRequest::body),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::HttpResponse> {
    using HttpResponse = corvane_bo_core::HttpResponse;
    static constexpr std::string_view name = "HttpResponse";
    static constexpr auto list = std::tuple{
        field("status", &HttpResponse::status),
        field("body", &HttpResponse::body),
    };
};
