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
    return ApiHeaders{std::string_view(bearer, scheme.size() + access.size()), access, config.client_id};
}

}  // namespace corvane_bo_core
