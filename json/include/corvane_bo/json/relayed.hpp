// A string read from JSON to be written out again as it was (a QR image from the bank's answer into
// the host's): a view, of the text read or of its unescaped copy, and whether it stood in the text
// with no escape. Such a string holds no quote, backslash or control character, since the reader
// takes none of them unescaped, so the writer copies it without looking at its bytes again.
#pragma once

#include <string_view>

namespace corvane_bo_json {

struct RelayedString {
    std::string_view text;
    bool escape_free = false;
};

}  // namespace corvane_bo_json
