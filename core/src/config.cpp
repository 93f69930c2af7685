#include "corvane_bo/core/config.hpp"

#include <cstring>

namespace corvane_bo_core {

std::string_view Config::url(corvane_bo_json::TextStore& store, std::initializer_list<std::string_view> path) const {
    std::string_view base = base_url ? *base_url : default_base_urls[static_cast<std::size_t>(environment)];
    while (base.ends_with('/')) base.remove_suffix(1);
    std::size_t size = base.size() + 1;
    for (std::string_view piece : path) size += piece.size();
    char* const start = store.room(size);
    char* w = start;
    if (!base.empty()) std::memcpy(w, base.data(), base.size());
    w += base.size();
    *w++ = '/';
    // Leading slashes of the joined path may span pieces.
    bool leading = true;
    for (std::string_view piece : path) {
        if (leading) {
            while (piece.starts_with('/')) piece.remove_prefix(1);
            leading = piece.empty();
        }
        if (!piece.empty()) std::memcpy(w, piece.data(), piece.size());
        w += piece.size();
    }
    const auto used = static_cast<std::size_t>(w - start);
    store.keep(used);
    return {start, used};
}

}  // namespace corvane_bo_core
