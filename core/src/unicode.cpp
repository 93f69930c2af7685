#include "corvane_bo/core/unicode.hpp"

#include <algorithm>
#include <span>

namespace corvane_bo_core {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "unicode_tables.inc"

// Binary search relies on this; a bad regeneration must not compile.
constexpr bool sorted_and_disjoint(std::span<const CodePointRange> table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].first > table[i].last || table[i].last > 0x10FFFF) return false;
        if (i > 0 && table[i - 1].last + 1 >= table[i].first) return false;
    }
    return !table.empty();
}
static_assert(sorted_and_disjoint(white_space_ranges));
static_assert(sorted_and_disjoint(alphanumeric_ranges));

constexpr bool in_table(std::span<const CodePointRange> table, char32_t cp) {
    const auto after = std::upper_bound(table.begin(), table.end(), cp,
                                        [](char32_t c, const CodePointRange& r) { return c < r.first; });
    return after != table.begin() && cp <= std::prev(after)->last;
}

constexpr bool is_ascii_white_space(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }

constexpr bool is_ascii_alphanumeric(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

}  // namespace

bool is_white_space(char32_t cp) {
    if (cp < 0x80) return is_ascii_white_space(static_cast<unsigned char>(cp));
    return in_table(white_space_ranges, cp);
}

bool is_alphanumeric(char32_t cp) {
    if (cp < 0x80) return is_ascii_alphanumeric(static_cast<unsigned char>(cp));
    return in_table(alphanumeric_ranges, cp);
}

std::string_view unicode_version() { return ucd_version; }

Decoded decode_utf8(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return {invalid_code_point, 0};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1};

    constexpr Decoded bad{invalid_code_point, 1};
    std::size_t trail = 0;
    char32_t cp = 0;
    // The second byte's range also excludes overlongs (E0, F0), surrogates (ED) and values past
    // U+10FFFF (F4); later bytes are plain continuation bytes.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return bad;
    }
    if (s.size() - pos - 1 < trail) return bad;
    for (std::size_t i = 1; i <= trail; ++i) {
        const unsigned char b = byte(pos + i);
        if (b < low || b > high) return bad;
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    return {cp, trail + 1};
}

std::string_view trim_ends(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        const auto b = static_cast<unsigned char>(s[begin]);
        if (b < 0x80) {
            if (!is_ascii_white_space(b)) break;
            ++begin;
            continue;
        }
        const Decoded d = decode_utf8(s, begin);
        if (!is_white_space(d.cp)) break;
        begin += d.length;
    }

    std::size_t end = s.size();
    while (end > begin) {
        const auto b = static_cast<unsigned char>(s[end - 1]);
        if (b < 0x80) {
            if (!is_ascii_white_space(b)) break;
            --end;
            continue;
        }
        // Walk back to the lead byte of the last character, then decode it forwards; it only counts
        // if it is well formed and ends exactly at `end`.
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
        const Decoded d = decode_utf8(s.substr(0, end), start);
        if (d.length != end - start || !is_white_space(d.cp)) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::string to_valid_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t at = 0; at < s.size();) {
        const Decoded d = decode_utf8(s, at);
        // A U+FFFD of the input decodes as the marker too, and is written back as itself.
        if (d.cp == invalid_code_point)
            out += "\uFFFD";
        else
            out.append(s.substr(at, d.length));
        at += d.length;
    }
    return out;
}

}  // namespace corvane_bo_core
