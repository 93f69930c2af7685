#include "corvane_bo/json/write.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json {

namespace {

// The escape of each byte the writer must escape, as written: two bytes for the short forms, six
// for \u00XX.
struct Escape {
    char text[6];
    std::uint8_t size;
};

constexpr std::array<Escape, 0x60> escapes = [] {
    std::array<Escape, 0x60> table{};
    constexpr char hex[] = "0123456789abcdef";
    for (unsigned c = 0; c < 0x20; ++c)
        table[c] = Escape{{'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]}, 6};
    const auto short_form = [&](unsigned c, char letter) { table[c] = Escape{{'\\', letter}, 2}; };
    short_form('\b', 'b');
    short_form('\f', 'f');
    short_form('\n', 'n');
    short_form('\r', 'r');
    short_form('\t', 't');
    short_form('"', '"');
    short_form('\\', '\\');
    return table;
}();

// The rest of a string from its first byte to escape: quotes and backslashes are escaped on the way
// through blocks of eight, other escapes written in place, into room claimed once (and again, doubled, for a text that is mostly escapes).
void write_escaped(const char* from, const char* const end, std::string& out) {
    // A short form adds one byte, a \u00XX form five; assume a few of them.
    constexpr std::size_t step = 6;
    const auto length = static_cast<std::size_t>(end - from);
    std::size_t size = out.size();
    std::size_t room = size + length + length / 4 + 2 * step + 16;
    for (bool done = false; !done; room *= 2) {
        out.resize_and_overwrite(std::max(room, out.capacity()), [&](char* buffer, std::size_t n) noexcept {
            // Locals, so that the stores need not be assumed to change them.
            const char* p = from;
            char* w = buffer + size;
            char* const w_end = buffer + n;
            while (static_cast<std::size_t>(w_end - w) > step) {
                if (p == end) {
                    *w++ = '"';
                    done = true;
                    break;
                }
                const scan::Copied copied = scan::copy_escaping_quotes(p, end, w, w_end);
                if (copied.p != p) {
                    p = copied.p;
                    w = copied.w;
                    continue;
                }
                // A control character, or the last bytes of the text or of the room: one at a time.
                const auto c = static_cast<unsigned char>(*p);
                if (c < escapes.size() && escapes[c].size != 0) {
                    std::memcpy(w, escapes[c].text, step);
                    w += escapes[c].size;
                } else {
                    *w++ = static_cast<char>(c);
                }
                ++p;
            }
            from = p;
            size = static_cast<std::size_t>(w - buffer);
            return size;
        });
    }
}

}  // namespace

void write_any_string(std::string_view text, std::string& out) {
    const char* const p = text.data();
    const char* const end = p + text.size();
    const char* const special = scan::to_escape(p, end);
    // Room for the text and its quotes up front, so that a string without escapes (nearly all of
    // them) costs one scan and one copy.
    const std::size_t needed = out.size() + text.size() + 2;
    if (needed > out.capacity()) out.reserve(std::max(needed, 2 * out.capacity()));
    out.push_back('"');
    out.append(p, special);
    if (special == end) {
        out.push_back('"');
        return;
    }
    write_escaped(special, end, out);
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
