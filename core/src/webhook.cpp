#include "corvane_bo/core/webhook.hpp"

#include <algorithm>

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_core {

namespace {

bool header_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

// Hides the accumulator from the optimiser so that it cannot stop the loop early: an empty
// assembly statement that claims to change it, or in standard C++ a round trip through a volatile.
#if (defined(__GNUC__) || defined(__clang__)) && !defined(CORVANE_PORTABLE)
inline void hide(unsigned char& value) noexcept { asm volatile("" : "+r"(value)); }
#else
inline void hide(unsigned char& value) noexcept {
    volatile unsigned char hidden = value;
    value = hidden;
}
#endif

}  // namespace

Result<void> WebhookTarget::validate() const {
    const std::string_view trimmed_url = trim(url);
    // The scheme must already be in lower case: "HTTPS://" is refused.
    if (!trimmed_url.starts_with("https://") && !trimmed_url.starts_with("http://"))
        return std::unexpected(Error::validation("webhook.url", "must be an http(s) URL"));
    if (trim(key).empty()) return std::unexpected(Error::validation("webhook.key", "must not be empty"));
    if (!std::ranges::all_of(key, header_name_char))
        return std::unexpected(Error::validation("webhook.key", "must be a valid HTTP header name"));
    if (trim(value).empty()) return std::unexpected(Error::validation("webhook.value", "must not be empty"));
    return {};
}

Result<void> WebhookCall::authenticate() const { return webhook::authenticate(headers, key, value); }

}  // namespace corvane_bo_core

#if defined(__GNUC__) || defined(__clang__)
#if defined(__has_attribute) && __has_attribute(noipa)
#define CORVANE_CONSTANT_TIME_EXPORT __attribute__((visibility("default"), noipa))
#else
#define CORVANE_CONSTANT_TIME_EXPORT __attribute__((visibility("default"), noinline))
#endif
#else
#define CORVANE_CONSTANT_TIME_EXPORT
#endif

// Out of line under a C name that survives stripping (the one symbol besides the init function
// that the extension exports), so that the shipped binary's comparison can be disassembled and
// timed: bench/timing_webhook.py does both.
extern "C" CORVANE_CONSTANT_TIME_EXPORT int corvane_bo_equal_in_constant_time(const char* a, std::size_t a_size,
                                                                              const char* b, std::size_t b_size) {
    if (a_size != b_size) return 0;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a_size; ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
        corvane_bo_core::hide(difference);
    }
    return difference == 0;
}

namespace corvane_bo_core {
namespace webhook {

bool equal_in_constant_time(std::string_view a, std::string_view b) {
    return corvane_bo_equal_in_constant_time(a.data(), a.size(), b.data(), b.size()) != 0;
}

Result<void> authenticate(const corvane_bo_json::TextPairs& headers, std::string_view name, std::string_view expected) {
    if (expected.empty())
        return std::unexpected(Error::validation("value", "expected webhook header value must not be empty"));
    const corvane_bo_json::TextPairs::value_type* entry = nullptr;
    for (const auto& header : headers) {
        if (same_name(header.first, name) && (entry == nullptr || header.first <= entry->first)) entry = &header;
    }
    if (entry == nullptr)
        return std::unexpected(Error::webhook_auth("missing `" + std::string(name) + "` header"));
    if (!equal_in_constant_time(entry->second, expected))
        return std::unexpected(Error::webhook_auth("`" + std::string(name) + "` header does not match"));
    return {};
}

}  // namespace webhook
}  // namespace corvane_bo_core
