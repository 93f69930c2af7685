// Literals, numbers, the punctuation of arrays and objects, and the failures for a wrong type.
#include "corvane_bo/json/text_reader.hpp"

#include <charconv>
#include <cstdint>

namespace corvane_bo_json {

std::unexpected<Failed> TextReader::peek_error(Syntax code) const {
    const std::size_t at = p_ < end_ ? offset() + 1 : offset();
    return std::unexpected(Failed(code, at));
}

Decoded<void> TextReader::literal(int c) {
    eat();
    const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
    for (char expected : rest) {
        if (p_ == end_) return error(Syntax::eof_value);
        if (*p_++ != expected) return error(Syntax::expected_ident);
    }
    return {};
}

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

Decoded<bool> TextReader::first_key_or_end(bool& first) {
    const int c = skip_whitespace();
    if (c == '}') return false;
    if (c < 0) return peek_error(Syntax::eof_object);
    if (!first) return peek_error(Syntax::expected_object_comma_or_end);
    first = false;
    return key_expected(c);
}

std::unexpected<Failed> TextReader::key_expected(int c) const {
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

std::unexpected<Failed> TextReader::object_not_closed() const {
    const int c = p_ < end_ ? static_cast<unsigned char>(*p_) : -1;
    if (c == ',') return peek_error(Syntax::trailing_comma);
    return peek_error(c < 0 ? Syntax::eof_object : Syntax::trailing_characters);
}

Decoded<void> TextReader::end() {
    if (skip_whitespace() >= 0) return peek_error(Syntax::trailing_characters);
    return {};
}

Decoded<std::string> TextReader::found() {
    const int c = skip_whitespace();
    switch (c) {
        case 'n':
        case 't':
        case 'f':
            if (auto e = literal(c); !e) return std::unexpected(e.error());
            return std::string(c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`");
        case '"': {
            eat();
            std::string scratch;
            std::string_view text;
            if (auto e = string(scratch, text); !e) return std::unexpected(e.error());
            return unexpected_string(text);
        }
        case '[': return std::string("sequence");
        case '{': return std::string("map");
        default: break;
    }
    if (c != '-' && (c < 0 || !is_digit(static_cast<char>(c)))) return peek_error(Syntax::expected_value);
    auto text = number();
    if (!text) return std::unexpected(text.error());
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

std::unexpected<Failed> TextReader::invalid_type(std::string_view expected) {
    auto what = found();
    if (!what) return std::unexpected(what.error());
    return fail("invalid type: " + *what + ", expected " + std::string(expected), offset());
}

}  // namespace corvane_bo_json
