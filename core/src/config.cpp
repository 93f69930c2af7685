#include "corvane_bo/core/config.hpp"

namespace corvane_bo_core {

std::string Config::url(std::string_view path) const {
    std::string_view base = base_url ? *base_url : default_base_urls[static_cast<std::size_t>(environment)];
    while (base.ends_with('/')) base.remove_suffix(1);
    while (path.starts_with('/')) path.remove_prefix(1);
    std::string url;
    url.reserve(base.size() + 1 + path.size());
    url.append(base).append(1, '/').append(path);
    return url;
}

}  // namespace corvane_bo_core
