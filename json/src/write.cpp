#include "corvane_bo/json/write.hpp"

#include <type_traits>

#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json {

namespace {

void write_escape(unsigned char c, std::string& out) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.append(escaped, sizeof escaped);
        }
    }
}

}  // namespace

void write_string(std::string_view text, std::string& out) {
    out.push_back('"');
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* special = scan::to_escape(p, end);
        out.append(p, special);
        if (special == end) break;
        write_escape(static_cast<unsigned char>(*special), out);
        p = special + 1;
    }
    out.push_back('"');
}

void write(const Value& value, std::string& out) {
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::nullptr_t>) {
                out += "null";
            } else if constexpr (std::is_same_v<T, bool>) {
                out += v ? "true" : "false";
            } else if constexpr (std::is_same_v<T, Number>) {
                out += v.text;
            } else if constexpr (std::is_same_v<T, std::string>) {
                write_string(v, out);
            } else if constexpr (std::is_same_v<T, Array>) {
                out.push_back('[');
                bool first = true;
                for (const auto& element : v) {
                    if (!first) out.push_back(',');
                    first = false;
                    write(element, out);
                }
                out.push_back(']');
            } else {
                out.push_back('{');
                bool first = true;
                for (const auto& member : v) {
                    if (!first) out.push_back(',');
                    first = false;
                    write_string(member.key, out);
                    out.push_back(':');
                    write(member.value, out);
                }
                out.push_back('}');
            }
        },
        value.data);
}

std::string to_text(const Value& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace corvane_bo_json
