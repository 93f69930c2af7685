#include "corvane_bo/json/text_reader.hpp"

#include <charconv>
#include <cstdint>
#include <vector>

#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence starting at p (whose first byte is >= 0x80), or 0.
std::size_t utf8_sequence(const char* p, const char* end) {
    const auto b0 = static_cast<unsigned char>(p[0]);
    const auto avail = static_cast<std::size_t>(end - p);
    auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        if (i >= avail) return false;
        const auto b = static_cast<unsigned char>(p[i]);
        return b >= lo && b <= hi;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
    if (b0 == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if (b0 == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (b0 >= 0xE1 && b0 <= 0xEF) return cont(1) && cont(2) ? 3 : 0;
    if (b0 == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (b0 >= 0xF1 && b0 <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (b0 == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

// "-0" is read as the integer zero, like every other integer that fits 64 bits.
std::string number_text(std::string_view text) { return text == "-0" ? std::string("0") : std::string(text); }

}  // namespace

std::unexpected<DecodeError> TextReader::peek_error(Syntax code) const {
    const std::size_t at = p_ < end_ ? offset() + 1 : offset();
    return fail(std::string(message(code)), at);
}

Decoded<void> TextReader::enter() {
    if (--remaining_depth_ == 0) return peek_error(Syntax::recursion_limit);
    return {};
}

Decoded<void> TextReader::literal(std::string_view rest) {
    for (char expected : rest) {
        if (p_ == end_) return error(Syntax::eof_value);
        if (*p_++ != expected) return error(Syntax::expected_ident);
    }
    return {};
}

Decoded<unsigned> TextReader::hex_escape() {
    if (end_ - p_ < 4) {
        p_ = end_;
        return error(Syntax::eof_string);
    }
    unsigned n = 0;
    for (int i = 0; i < 4; ++i) {
        const int v = hex_value(*p_++);
        if (v < 0) return error(Syntax::invalid_escape);
        n = (n << 4) | static_cast<unsigned>(v);
    }
    return n;
}

// After a backslash. When skipping (`out` null) a \u escape is only checked for four hex digits:
// whether it pairs up matters only to a string that is kept.
Decoded<void> TextReader::escape(std::string* out) {
    if (p_ == end_) return error(Syntax::eof_string);
    const char c = *p_++;
    char simple = 0;
    switch (c) {
        case '"': simple = '"'; break;
        case '\\': simple = '\\'; break;
        case '/': simple = '/'; break;
        case 'b': simple = '\b'; break;
        case 'f': simple = '\f'; break;
        case 'n': simple = '\n'; break;
        case 'r': simple = '\r'; break;
        case 't': simple = '\t'; break;
        case 'u': break;
        default: return error(Syntax::invalid_escape);
    }
    if (simple != 0) {
        if (out) *out += simple;
        return {};
    }
    auto first = hex_escape();
    if (!first) return std::unexpected(std::move(first.error()));
    if (!out) return {};
    const unsigned n1 = *first;
    if (n1 >= 0xDC00 && n1 <= 0xDFFF) return error(Syntax::lone_leading_surrogate);
    if (n1 < 0xD800 || n1 > 0xDBFF) {
        append_utf8(static_cast<char32_t>(n1), *out);
        return {};
    }
    for (char expected : {'\\', 'u'}) {
        if (p_ == end_) return error(Syntax::eof_string);
        if (*p_++ != expected) return error(Syntax::unexpected_end_of_hex_escape);
    }
    auto second = hex_escape();
    if (!second) return std::unexpected(std::move(second.error()));
    const unsigned n2 = *second;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return error(Syntax::lone_leading_surrogate);
    append_utf8(static_cast<char32_t>(0x10000 + ((n1 - 0xD800) << 10) + (n2 - 0xDC00)), *out);
    return {};
}

// The body of a string up to and including its closing quote; `out` null to skip it. A control
// character is consumed before it is reported when the string is kept, not when it is skipped.
Decoded<void> TextReader::string_body(std::string* out) {
    for (;;) {
        const char* special = scan::to_string_special(p_, end_);
        if (out) out->append(p_, special);
        p_ = special;
        if (p_ == end_) return error(Syntax::eof_string);
        const auto c = static_cast<unsigned char>(*p_);
        if (c == '"') {
            ++p_;
            return {};
        }
        if (c == '\\') {
            ++p_;
            if (auto e = escape(out); !e) return e;
            continue;
        }
        if (c < 0x20) {
            if (out) ++p_;
            return error(Syntax::control_character);
        }
        const std::size_t length = utf8_sequence(p_, end_);
        if (length == 0) return error(Syntax::invalid_utf8);
        if (out) out->append(p_, length);
        p_ += length;
    }
}

Decoded<std::string_view> TextReader::string(std::string& scratch) {
    // Most strings hold no escape and no control character: hand back a view of the text.
    const char* start = p_;
    const char* q = p_;
    for (;;) {
        q = scan::to_string_special(q, end_);
        if (q == end_) break;
        const auto c = static_cast<unsigned char>(*q);
        if (c == '"') {
            p_ = q + 1;
            return std::string_view(start, static_cast<std::size_t>(q - start));
        }
        if (c < 0x80) break;
        const std::size_t length = utf8_sequence(q, end_);
        if (length == 0) break;
        q += length;
    }
    scratch.clear();
    if (auto e = string_body(&scratch); !e) return std::unexpected(std::move(e.error()));
    return std::string_view(scratch);
}

Decoded<void> TextReader::string_into(std::string& out) {
    std::string scratch;
    auto view = string(scratch);
    if (!view) return std::unexpected(std::move(view.error()));
    if (view->data() == scratch.data())
        out = std::move(scratch);
    else
        out.assign(view->data(), view->size());
    return {};
}

Decoded<void> TextReader::skip_string() { return string_body(nullptr); }

Decoded<std::string_view> TextReader::number(bool skipping) {
    const char* start = p_;
    if (p_ < end_ && *p_ == '-') ++p_;
    const Syntax at_end = skipping ? Syntax::invalid_number : Syntax::eof_value;
    if (p_ == end_) return error(at_end);
    const char first = *p_++;
    if (first == '0') {
        if (p_ < end_ && is_digit(*p_)) return peek_error(Syntax::invalid_number);
    } else if (first >= '1' && first <= '9') {
        while (p_ < end_ && is_digit(*p_)) ++p_;
    } else {
        return error(Syntax::invalid_number);
    }
    if (p_ < end_ && *p_ == '.') {
        ++p_;
        if (p_ == end_ || !is_digit(*p_)) return peek_error(p_ < end_ || skipping ? Syntax::invalid_number : at_end);
        while (p_ < end_ && is_digit(*p_)) ++p_;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
        ++p_;
        if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
        if (p_ == end_) return error(at_end);
        if (!is_digit(*p_++)) return error(Syntax::invalid_number);
        while (p_ < end_ && is_digit(*p_)) ++p_;
    }
    return std::string_view(start, static_cast<std::size_t>(p_ - start));
}

Decoded<void> TextReader::object_colon() {
    const int c = skip_whitespace();
    if (c == ':') {
        eat();
        return {};
    }
    return peek_error(c < 0 ? Syntax::eof_object : Syntax::expected_colon);
}

Decoded<bool> TextReader::next_element(bool& first) {
    int c = skip_whitespace();
    if (c == ']') return false;
    if (c == ',' && !first) {
        eat();
        c = skip_whitespace();
    } else if (c >= 0) {
        if (!first) return peek_error(Syntax::expected_list_comma_or_end);
        first = false;
    } else {
        return peek_error(Syntax::eof_list);
    }
    if (c == ']') return peek_error(Syntax::trailing_comma);
    if (c < 0) return peek_error(Syntax::eof_value);
    return true;
}

Decoded<std::optional<std::string_view>> TextReader::next_key(bool& first, std::string& scratch) {
    int c = skip_whitespace();
    if (c == '}') return std::nullopt;
    if (c == ',' && !first) {
        eat();
        c = skip_whitespace();
    } else if (c >= 0) {
        if (!first) return peek_error(Syntax::expected_object_comma_or_end);
        first = false;
    } else {
        return peek_error(Syntax::eof_object);
    }
    if (c == '"') {
        eat();
        auto key = string(scratch);
        if (!key) return std::unexpected(std::move(key.error()));
        return std::optional<std::string_view>(*key);
    }
    if (c == '}') return peek_error(Syntax::trailing_comma);
    if (c < 0) return peek_error(Syntax::eof_value);
    return peek_error(Syntax::key_must_be_string);
}

Decoded<void> TextReader::end_array() {
    const int c = skip_whitespace();
    if (c == ']') {
        eat();
        return {};
    }
    if (c == ',') {
        eat();
        return peek_error(skip_whitespace() == ']' ? Syntax::trailing_comma : Syntax::trailing_characters);
    }
    return peek_error(c < 0 ? Syntax::eof_list : Syntax::trailing_characters);
}

Decoded<void> TextReader::end_object() {
    const int c = skip_whitespace();
    if (c == '}') {
        eat();
        return {};
    }
    if (c == ',') return peek_error(Syntax::trailing_comma);
    return peek_error(c < 0 ? Syntax::eof_object : Syntax::trailing_characters);
}

Decoded<void> TextReader::end() {
    if (skip_whitespace() >= 0) return peek_error(Syntax::trailing_characters);
    return {};
}

Decoded<void> TextReader::skip_value() {
    // Open arrays and objects, innermost last.
    std::vector<char> frames;
    for (;;) {
        const int c = skip_whitespace();
        bool opened = false;
        switch (c) {
            case -1: return peek_error(Syntax::eof_value);
            case 'n':
            case 't':
            case 'f': {
                eat();
                const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
                if (auto e = literal(rest); !e) return e;
                break;
            }
            case '"':
                eat();
                if (auto e = skip_string(); !e) return e;
                break;
            case '[':
            case '{':
                if (auto e = enter(); !e) return e;
                eat();
                frames.push_back(static_cast<char>(c));
                opened = true;
                break;
            default:
                if (c != '-' && !is_digit(static_cast<char>(c))) return peek_error(Syntax::expected_value);
                if (auto n = number(true); !n) return std::unexpected(std::move(n.error()));
        }
        if (frames.empty()) return {};
        bool accept_comma = !opened;
        for (;;) {
            const char frame = frames.back();
            const int next = skip_whitespace();
            if (next == ',' && accept_comma) {
                eat();
                break;
            }
            if ((next == ']' && frame == '[') || (next == '}' && frame == '{')) {
                eat();
                leave();
                frames.pop_back();
                if (frames.empty()) return {};
                accept_comma = true;
                continue;
            }
            if (next < 0) return peek_error(frame == '[' ? Syntax::eof_list : Syntax::eof_object);
            if (accept_comma)
                return peek_error(frame == '[' ? Syntax::expected_list_comma_or_end
                                               : Syntax::expected_object_comma_or_end);
            break;
        }
        if (frames.back() == '{') {
            const int quote = skip_whitespace();
            if (quote != '"') return peek_error(quote < 0 ? Syntax::eof_object : Syntax::key_must_be_string);
            eat();
            if (auto e = skip_string(); !e) return e;
            if (auto e = object_colon(); !e) return e;
        }
    }
}

Decoded<Value> TextReader::value() {
    const int c = skip_whitespace();
    if (c < 0) return peek_error(Syntax::eof_value);
    return value_at(c);
}

// Nesting is bounded by `max_depth`, so this recursion is too.
Decoded<Value> TextReader::value_at(int c) {
    switch (c) {
        case 'n':
            eat();
            if (auto e = literal("ull"); !e) return std::unexpected(std::move(e.error()));
            return Value(nullptr);
        case 't':
            eat();
            if (auto e = literal("rue"); !e) return std::unexpected(std::move(e.error()));
            return Value(true);
        case 'f':
            eat();
            if (auto e = literal("alse"); !e) return std::unexpected(std::move(e.error()));
            return Value(false);
        case '"': {
            eat();
            std::string text;
            if (auto e = string_into(text); !e) return std::unexpected(std::move(e.error()));
            return Value(std::move(text));
        }
        case '[': {
            if (auto e = enter(); !e) return std::unexpected(std::move(e.error()));
            eat();
            Array array;
            bool first = true;
            Decoded<void> body;
            for (;;) {
                auto more = next_element(first);
                if (!more) {
                    body = std::unexpected(std::move(more.error()));
                    break;
                }
                if (!*more) break;
                auto element = value_at(skip_whitespace());
                if (!element) {
                    body = std::unexpected(std::move(element.error()));
                    break;
                }
                array.push_back(std::move(*element));
            }
            auto closed = end_array();
            leave();
            if (!body) return std::unexpected(std::move(body.error()));
            if (!closed) return std::unexpected(std::move(closed.error()));
            return Value(std::move(array));
        }
        case '{': {
            if (auto e = enter(); !e) return std::unexpected(std::move(e.error()));
            eat();
            std::vector<Member> members;
            bool first = true;
            std::string scratch;
            Decoded<void> body;
            for (;;) {
                auto key = next_key(first, scratch);
                if (!key) {
                    body = std::unexpected(std::move(key.error()));
                    break;
                }
                if (!*key) break;
                std::string name(**key);
                if (auto e = object_colon(); !e) {
                    body = e;
                    break;
                }
                auto member = value();
                if (!member) {
                    body = std::unexpected(std::move(member.error()));
                    break;
                }
                members.push_back(Member{std::move(name), std::move(*member)});
            }
            auto closed = end_object();
            leave();
            if (!body) return std::unexpected(std::move(body.error()));
            if (!closed) return std::unexpected(std::move(closed.error()));
            return Value(Object::from_members(std::move(members)));
        }
        default: {
            if (c != '-' && !is_digit(static_cast<char>(c))) return peek_error(Syntax::expected_value);
            auto text = number();
            if (!text) return std::unexpected(std::move(text.error()));
            return Value(Number{number_text(*text)});
        }
    }
}

Decoded<std::string> TextReader::found() {
    const int c = skip_whitespace();
    switch (c) {
        case 'n':
            eat();
            if (auto e = literal("ull"); !e) return std::unexpected(std::move(e.error()));
            return std::string("null");
        case 't':
            eat();
            if (auto e = literal("rue"); !e) return std::unexpected(std::move(e.error()));
            return std::string("boolean `true`");
        case 'f':
            eat();
            if (auto e = literal("alse"); !e) return std::unexpected(std::move(e.error()));
            return std::string("boolean `false`");
        case '"': {
            eat();
            std::string scratch;
            auto text = string(scratch);
            if (!text) return std::unexpected(std::move(text.error()));
            return unexpected_string(*text);
        }
        case '[': return std::string("sequence");
        case '{': return std::string("map");
        default: break;
    }
    if (c != '-' && (c < 0 || !is_digit(static_cast<char>(c)))) return peek_error(Syntax::expected_value);
    auto text = number();
    if (!text) return std::unexpected(std::move(text.error()));
    // An integer that fits 64 bits is named with its value; any other number only as a number.
    const std::string_view digits = *text;
    if (digits.find_first_of(".eE") == std::string_view::npos) {
        const char* first = digits.data();
        const char* last = first + digits.size();
        if (digits.front() == '-') {
            std::int64_t v = 0;
            if (std::from_chars(first, last, v).ec == std::errc{}) return unexpected_integer(std::to_string(v));
        } else {
            std::uint64_t v = 0;
            if (std::from_chars(first, last, v).ec == std::errc{}) return unexpected_integer(digits);
        }
    }
    return std::string("number");
}

std::unexpected<DecodeError> TextReader::invalid_type(std::string_view expected) {
    auto what = found();
    if (!what) return std::unexpected(std::move(what.error()));
    return fail("invalid type: " + *what + ", expected " + std::string(expected), offset());
}

Decoded<Value> parse(std::string_view text) {
    TextReader reader(text);
    auto value = reader.value();
    if (!value) return value;
    if (auto e = reader.end(); !e) return std::unexpected(std::move(e.error()));
    return value;
}

}  // namespace corvane_bo_json
