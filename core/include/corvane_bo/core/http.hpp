// The HTTP exchange as the host sees it: the request a build stage describes and the response a
// parse stage reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/write.hpp"

namespace corvane_bo_core {

enum class Method { GET, POST, PATCH };

// The five headers of every API request: these three, and Accept and Content-Type, both always
// "application/json", which writing spells out with the names around them. The token goes twice: as
// the bearer credential and under its own name.
struct ApiHeaders {
    std::string_view authorization;
    std::string_view access_token;
    std::string_view client_id;
};

// The finished JSON text to send and, when the build wrote it alongside (request_body.hpp), the same
// text as a JSON string, quoted and escaped, which the answer then copies; empty when not written.
struct RequestBody {
    std::string_view text;
    std::string_view in_string = {};
};

// Its texts view the call's payload and store.
struct HttpRequest {
    Method method = Method::GET;
    std::string_view url;
    ApiHeaders headers;
    // None for a request without a body (written as null).
    std::optional<RequestBody> body;

    // Room enough for its JSON form in most cases.
    std::size_t written_size_hint() const {
        return 256 + url.size() + headers.authorization.size() + headers.access_token.size() + headers.client_id.size() +
               (body ? (body->in_string.empty() ? 2 * body->text.size() : body->in_string.size()) : 0);
    }
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
    struct Body {
        static void write(const std::optional<corvane_bo_core::RequestBody>& body, Writer& out) {
            if (!body)
                out.append("null");
            else if (!body->in_string.empty())
                out.append(body->in_string);
            else
                write_string(body->text, out);
        }
    };
    // An object of the five headers in byte order of their names.
    struct Headers {
        static void write(const corvane_bo_core::ApiHeaders& headers, Writer& out) {
            write_string(headers.authorization, out, R"({"Accept":"application/json","Authorization":)");
            write_string(headers.access_token, out, R"(,"Content-Type":"application/json","access_token":)");
            write_string(headers.client_id, out, R"(,"client_id":)");
            out.put('}');
        }
    };
    static constexpr std::string_view name = "HttpRequest";
    static constexpr auto list = std::tuple{
        field("method", &HttpRequest::method),
        field("url", &HttpRequest::url),
        field<Headers>("headers", &HttpRequest::headers),
        field<Body>("body", &HttpRequest::body),
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
