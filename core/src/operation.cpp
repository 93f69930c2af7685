#include "corvane_bo/core/operation.hpp"

#include <cstring>

namespace corvane_bo_core {

Result<corvane_bo_json::TextViewMap> Ctx::api_headers() const {
    if (token == nullptr)
        return std::unexpected(Error::validation("token", "an access token is required for this operation"));
    constexpr std::string_view scheme = "Bearer ";
    const std::string_view access = token->access_token;
    char* bearer = store.room(scheme.size() + access.size());
    std::memcpy(bearer, scheme.data(), scheme.size());
    if (!access.empty()) std::memcpy(bearer + scheme.size(), access.data(), access.size());
    store.keep(scheme.size() + access.size());
    // Added in byte order, each at the end, so that none is searched for.
    Result<corvane_bo_json::TextViewMap> headers{std::in_place};
    headers->reserve(5);
    headers->emplace_hint(headers->end(), "Accept", "application/json");
    headers->emplace_hint(headers->end(), "Authorization", std::string_view(bearer, scheme.size() + access.size()));
    headers->emplace_hint(headers->end(), "Content-Type", "application/json");
    headers->emplace_hint(headers->end(), "access_token", access);
    headers->emplace_hint(headers->end(), "client_id", config.client_id);
    return headers;
}

}  // namespace corvane_bo_core
