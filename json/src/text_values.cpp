// Values of any kind: skipped, or read into a `Value`.
#include "corvane_bo/json/text_reader.hpp"

#include <vector>

namespace corvane_bo_json {

Decoded<void> TextReader::skip_value() {
    if (check_skipped_) {
        Value discarded;
        return value_into(discarded);
    }
    // Open arrays and objects, innermost last.
    std::vector<char> frames;
    for (;;) {
        const int c = skip_whitespace();
        bool opened = false;
        switch (c) {
            case -1: return peek_error(Syntax::eof_value);
            case 'n':
            case 't':
            case 'f':
                if (auto e = literal(c); !e) return e;
                break;
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
                if (auto n = number(true); !n) return std::unexpected(n.error());
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
    Value out;
    if (auto e = value_into(out); !e) return std::unexpected(e.error());
    return out;
}

Decoded<void> TextReader::value_into(Value& out) {
    const int c = skip_whitespace();
    if (c < 0) return peek_error(Syntax::eof_value);
    return value_at(c, out);
}

// Nesting is bounded by `max_depth`, so this recursion is too. Values are built where they will
// live, so no tree is moved after it is read.
Decoded<void> TextReader::value_at(int c, Value& out) {
    switch (c) {
        case 'n':
        case 't':
        case 'f':
            if (auto e = literal(c); !e) return e;
            if (c == 'n')
                out.data.emplace<std::nullptr_t>();
            else
                out.data.emplace<bool>(c == 't');
            return {};
        case '"':
            eat();
            return string_into(out.data.emplace<std::string>());
        case '[': {
            Array& array = out.data.emplace<Array>();
            return in_array([&]() -> Decoded<void> {
                bool first = true;
                for (;;) {
                    auto more = next_element(first);
                    if (!more) return std::unexpected(more.error());
                    if (!*more) return {};
                    if (auto e = value_at(skip_whitespace(), array.emplace_back()); !e) return e;
                }
            });
        }
        case '{': {
            std::vector<Member> members;
            auto read = in_object([&]() -> Decoded<void> {
                bool first = true;
                std::string scratch;
                std::string_view key;
                for (;;) {
                    auto more = next_key(first, scratch, key);
                    if (!more) return std::unexpected(more.error());
                    if (!*more) return {};
                    // Bank records have about ten keys: one allocation for the common object.
                    if (members.empty()) members.reserve(12);
                    Member& member = members.emplace_back();
                    member.key.assign(key);
                    if (auto e = object_colon(); !e) return e;
                    if (auto e = value_into(member.value); !e) return e;
                }
            });
            if (!read) return read;
            out.data.emplace<Object>(Object::from_members(std::move(members)));
            return {};
        }
        default: {
            if (c != '-' && !is_digit(static_cast<char>(c))) return peek_error(Syntax::expected_value);
            auto text = number();
            if (!text) return std::unexpected(text.error());
            out.data.emplace<Number>(Number{std::string(kept_number_text(*text))});
            return {};
        }
    }
}

DecodeResult<Value> parse(std::string_view text) {
    TextReader reader(text);
    DecodeResult<Value> out{std::in_place};
    if (auto e = reader.value_into(*out); !e)
        out = std::unexpected(reader.decode_error(e.error()));
    else if (auto end = reader.end(); !end)
        out = std::unexpected(reader.decode_error(end.error()));
    return out;
}

}  // namespace corvane_bo_json
