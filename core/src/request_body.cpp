#include "corvane_bo/core/request_body.hpp"

namespace corvane_bo_core::body_detail {

RequestBody keep_body(std::string_view text, std::string_view in_string, json::TextStore& store) {
    char* const start = store.room(text.size() + in_string.size());
    std::memcpy(start, text.data(), text.size());
    std::memcpy(start + text.size(), in_string.data(), in_string.size());
    store.keep(text.size() + in_string.size());
    return RequestBody{{start, text.size()}, {start + text.size(), in_string.size()}};
}

}  // namespace corvane_bo_core::body_detail
