// Finding the bytes of a JSON string that need attention, sixteen at a time.
#pragma once

#include <cstddef>

namespace corvane_bo_json::scan {

// First byte in [p, end) that ends a plain run of a JSON string being read: a quote, a backslash,
// a control character, or a non-ASCII byte (which the reader validates as UTF-8). `end` if none.
const char* to_string_special(const char* p, const char* end) noexcept;

// First byte in [p, end) that the writer must escape: a quote, a backslash or a control character.
const char* to_escape(const char* p, const char* end) noexcept;

}  // namespace corvane_bo_json::scan
