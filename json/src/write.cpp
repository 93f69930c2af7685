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

}  // namespace

void Writer::spill(std::size_t n) {
    if (room_stop_ == nullptr) {
        room_stop_ = w_;
        overflow_.resize(std::max(n, static_cast<std::size_t>(1024)));
        w_ = overflow_.data();
    } else {
        const auto used = static_cast<std::size_t>(w_ - overflow_.data());
        overflow_.resize(std::max(2 * overflow_.size(), used + n));
        w_ = overflow_.data() + used;
    }
    end_ = overflow_.data() + overflow_.size();
}

// Quotes and backslashes are escaped on the way through by the kernel, control characters here, in
// room claimed for the rest of the text with some escapes (and again when it runs out).
void write_escaped(const char* p, const char* const end, Writer& out) {
    // The longest escape, \u00XX.
    constexpr std::size_t step = 6;
    for (;;) {
        const auto length = static_cast<std::size_t>(end - p);
        char* w = out.room(length + length / 4 + scan::escape_room + step);
        char* const w_end = out.limit();
        for (;;) {
            const scan::Copied copied = scan::copy_escaping_quotes(p, end, w, w_end);
            p = copied.p;
            w = copied.w;
            // The kernel leaves room for the closing quote, as does an escape written below.
            if (p == end) {
                *w++ = '"';
                out.advance(w);
                return;
            }
            const auto c = static_cast<unsigned char>(*p);
            if (c >= 0x20 || static_cast<std::size_t>(w_end - w) <= step) break;  // the room ran out
            std::memcpy(w, escapes[c].text, step);
            w += escapes[c].size;
            ++p;
        }
        out.advance(w);
    }
}

void write_string_body(std::string_view text, char* w, Writer& out) {
    // Copied while it is checked, in one pass over a long text (a QR image).
    const char* const end = text.data() + text.size();
    const scan::Copied plain = scan::copy_to_escape(text.data(), end, w);
    if (plain.p == end) {
        *plain.w = '"';
        out.advance(plain.w + 1);
        return;
    }
    out.advance(plain.w);
    write_escaped(plain.p, end, out);
}

void write(const Value& value, Writer& out) {
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::nullptr_t>) {
                out.append("null");
            } else if constexpr (std::is_same_v<T, bool>) {
                out.append(v ? "true" : "false");
            } else if constexpr (std::is_same_v<T, Number>) {
                out.append(v.text);
            } else if constexpr (std::is_same_v<T, std::string>) {
                write_string(v, out);
            } else if constexpr (std::is_same_v<T, Array>) {
                out.put('[');
                bool first = true;
                for (const auto& element : v) {
                    if (!first) out.put(',');
                    first = false;
                    write(element, out);
                }
                out.put(']');
            } else {
                out.put('{');
                bool first = true;
                for (const auto& member : v) {
                    write_string(member.key, out, first ? std::string_view() : std::string_view(","));
                    first = false;
                    out.put(':');
                    write(member.value, out);
                }
                out.put('}');
            }
        },
        value.data);
}

void write(const Value& value, std::string& out) {
    Writer::append_to(out, 0, [&value](Writer& writer) { write(value, writer); });
}

std::string to_text(const Value& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace corvane_bo_json
