// The one compact writer: no whitespace, keys in byte order (objects keep them so), only `"`, `\`
// and control characters escaped, numbers written with the text they carry.
#pragma once

#include <string>
#include <string_view>

#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

void write(const Value& value, std::string& out);
void write_string(std::string_view text, std::string& out);
std::string to_text(const Value& value);

}  // namespace corvane_bo_json
