#include "corvane_bo/core/operation.hpp"

namespace corvane_bo_core {

Result<corvane_bo_json::TextMap> Ctx::api_headers() const {
    if (token == nullptr)
        return std::unexpected(Error::validation("token", "an access token is required for this operation"));
    corvane_bo_json::TextMap headers;
    headers.emplace("Authorization", "Bearer " + token->access_token);
    headers.emplace("access_token", token->access_token);
    headers.emplace("client_id", config.client_id);
    headers.emplace("Content-Type", "application/json");
    headers.emplace("Accept", "application/json");
    return headers;
}

}  // namespace corvane_bo_core
