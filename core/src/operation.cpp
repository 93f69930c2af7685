#include "corvane_bo/core/operation.hpp"

namespace corvane_bo_core {

Result<corvane_bo_json::TextMap> Ctx::api_headers() const {
    if (token == nullptr)
        return std::unexpected(Error::validation("token", "an access token is required for this operation"));
    // Added in byte order, each at the end, so that none is searched for.
    Result<corvane_bo_json::TextMap> headers{std::in_place};
    headers->reserve(5);
    headers->emplace_hint(headers->end(), "Accept", "application/json");
    headers->emplace_hint(headers->end(), "Authorization", "Bearer " + std::string(token->access_token));
    headers->emplace_hint(headers->end(), "Content-Type", "application/json");
    headers->emplace_hint(headers->end(), "access_token", std::string(token->access_token));
    headers->emplace_hint(headers->end(), "client_id", std::string(config.client_id));
    return headers;
}

}  // namespace corvane_bo_core
