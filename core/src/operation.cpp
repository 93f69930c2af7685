#include "corvane_bo/core/operation.hpp"

#include <cstring>

namespace corvane_bo_core {

Result<ApiHeaders> Ctx::api_headers() const {
    if (token == nullptr)
        return std::unexpected(Error::validation("token", "an access token is required for this operation"));
    constexpr std::string_view scheme = "Bearer ";
    const std::string_view access = token->access_token;
    char* bearer = store.room(scheme.size() + access.size());
    std::memcpy(bearer, scheme.data(), scheme.size());
    if (!access.empty()) std::memcpy(bearer + scheme.size(), access.data(), access.size());
    store.keep(scheme.size() + access.size());
    ApiHeaders headers;
    headers.authorization = std::string_view(bearer, scheme.size() + access.size());
    headers.access_token = access;
    headers.client_id = config.client_id;
    return headers;
}

}  // namespace corvane_bo_core
