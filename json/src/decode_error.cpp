#include "corvane_bo/json/decode_error.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <string>
#include <utility>

namespace corvane_bo_json {

namespace {

constexpr std::array<std::string_view, 21> syntax_messages = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected value",
    "expected ident",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "trailing comma",
    "key must be a string",
    "invalid escape",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "invalid unicode code point",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "invalid UTF-8 in string",
    "invalid number",
    "number out of range",
    "recursion limit exceeded",
    "trailing characters",
};

void append_code_escape(unsigned code, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\u{";
    if (code >= 0x10) out += hex[(code >> 4) & 0xF];
    out += hex[code & 0xF];
    out += '}';
}

}  // namespace

std::string_view message(Syntax code) { return syntax_messages[static_cast<std::size_t>(code)]; }

DecodeError decode_error(Failed failure, std::string& worded) {
    if (failure.is_worded()) return DecodeError{std::move(worded), failure.offset()};
    return DecodeError{std::string(message(failure.syntax())), failure.offset()};
}

std::string DecodeError::describe(std::string_view text) const {
    if (!placed()) return message;
    const std::size_t at = std::min(offset, text.size());
    const std::string_view before = text.substr(0, at);
    const std::size_t last_newline = before.rfind('\n');
    const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    const auto line = 1 + std::count(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
    return message + " at line " + std::to_string(line) + " column " + std::to_string(at - line_start);
}

std::string_view first_characters(std::string_view text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t end = 0; end < text.size(); ++end) {
        // Characters are counted by their lead bytes, so none is ever split.
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && characters++ == count) return text.substr(0, end);
    }
    return text;
}

std::string unexpected_string(std::string_view whole) {
    const std::string_view text = first_characters(whole, quoted_characters);
    std::string out = "string \"";
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            append_code_escape(c, out);
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            // The C1 controls, U+0080 to U+009F.
            append_code_escape(static_cast<unsigned char>(text[++i]), out);
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() < whole.size()) out += "…";
    out += '"';
    return out;
}

std::string unexpected_integer(std::string_view digits) { return "integer `" + std::string(digits) + "`"; }

std::string unexpected_float(double value) {
    // The shortest digits that read back as the same double, laid out in plain notation.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
    std::string out = "floating point `";
    if (!sci.empty() && sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    out += '`';
    return out;
}

}  // namespace corvane_bo_json
