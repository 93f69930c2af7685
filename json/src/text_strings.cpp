// Reading strings: the plain scan, unescaping into a string or the store, and skipping.
#include "corvane_bo/json/text_reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>

#include "code_escapes.hpp"
#include "corvane_bo/json/scan.hpp"

namespace corvane_bo_json {

namespace {

using code_escapes::hex_digits;
using code_escapes::not_hex;
using code_escapes::put_utf8;

// What each one-letter escape stands for; 0 for the letters that are not one (and for u).
constexpr std::array<char, 256> simple_escapes = [] {
    std::array<char, 256> table{};
    table['"'] = '"';
    table['\\'] = '\\';
    table['/'] = '/';
    table['b'] = '\b';
    table['f'] = '\f';
    table['n'] = '\n';
    table['r'] = '\r';
    table['t'] = '\t';
    return table;
}();

// The most one step of unescaping writes: a surrogate pair's four bytes.
constexpr std::size_t max_step = 4;
// A string longer than this is unescaped into a buffer claimed in doubling steps rather than sized
// by the rest of the input at once.
constexpr std::size_t first_claim = std::size_t{64} << 10;
// A kept string whose buffer was claimed this much too large gives the excess back.
constexpr std::size_t kept_slack = 256;

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

}  // namespace

bool TextReader::hex_escape(unsigned& n, Syntax& failure) noexcept {
    if (end_ - p_ < 4) {
        p_ = end_;
        failure = Syntax::eof_string;
        return false;
    }
    n = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned digit = hex_digits[static_cast<unsigned char>(*p_++)];
        if (digit == not_hex) {
            failure = Syntax::invalid_escape;
            return false;
        }
        n = (n << 4) | digit;
    }
    return true;
}

// After a backslash, in a string that is kept: where the writing goes on, or null on a failure.
char* TextReader::escape(char* w, Syntax& failure) noexcept {
    if (p_ == end_) {
        failure = Syntax::eof_string;
        return nullptr;
    }
    const char c = *p_++;
    if (const char simple = simple_escapes[static_cast<unsigned char>(c)]; simple != 0) {
        *w++ = simple;
        return w;
    }
    if (c != 'u') {
        failure = Syntax::invalid_escape;
        return nullptr;
    }
    unsigned n1 = 0;
    if (!hex_escape(n1, failure)) return nullptr;
    if (n1 >= 0xDC00 && n1 <= 0xDFFF) {
        failure = Syntax::lone_leading_surrogate;
        return nullptr;
    }
    if (n1 < 0xD800 || n1 > 0xDBFF) return put_utf8(static_cast<char32_t>(n1), w);
    for (char expected : {'\\', 'u'}) {
        if (p_ == end_) {
            failure = Syntax::eof_string;
            return nullptr;
        }
        if (*p_++ != expected) {
            failure = Syntax::unexpected_end_of_hex_escape;
            return nullptr;
        }
    }
    unsigned n2 = 0;
    if (!hex_escape(n2, failure)) return nullptr;
    if (n2 < 0xDC00 || n2 > 0xDFFF) {
        failure = Syntax::lone_leading_surrogate;
        return nullptr;
    }
    return put_utf8(static_cast<char32_t>(0x10000 + ((n1 - 0xD800) << 10) + (n2 - 0xDC00)), w);
}

// After a backslash, in a string being skipped: a \u escape is only checked for four hex digits, as
// whether it pairs up matters only to a string that is kept.
bool TextReader::skip_escape(Syntax& failure) noexcept {
    if (p_ == end_) {
        failure = Syntax::eof_string;
        return false;
    }
    const char c = *p_++;
    if (simple_escapes[static_cast<unsigned char>(c)] != 0) return true;
    if (c != 'u') {
        failure = Syntax::invalid_escape;
        return false;
    }
    unsigned n = 0;
    return hex_escape(n, failure);
}

// Unescapes from the reader's place into [w, w_end) until the closing quote, a failure, or fewer than
// `max_step` bytes of room. A control character is consumed before it is reported.
TextReader::Step TextReader::unescape_some(char*& out, char* const w_end, Syntax& failure) noexcept {
    // Locals, not members: the bytes written could alias the reader's own pointers, which would
    // otherwise be reloaded after every store.
    const char* p = p_;
    const char* const end = end_;
    char* w = out;
    Step step = Step::needs_room;
    for (;;) {
        const scan::Copied copied = scan::copy_unescaping(p, end, w, w_end);
        p = copied.p;
        w = copied.w;
        if (p == end) {
            failure = Syntax::eof_string;
            step = Step::failed;
            break;
        }
        if (static_cast<std::size_t>(w_end - w) < max_step) break;
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"') {
            ++p;
            step = Step::closed;
            break;
        }
        if (c == '\\') {
            // The copy takes the one-letter escapes but where the room cut it short; the others (\u
            // and bad ones) go to `escape`.
            if (end - p >= 2) {
                if (const char simple = simple_escapes[static_cast<unsigned char>(p[1])]) {
                    *w++ = simple;
                    p += 2;
                    continue;
                }
            }
            p_ = p + 1;
            char* const after = escape(w, failure);
            p = p_;
            if (after == nullptr) {
                step = Step::failed;
                break;
            }
            w = after;
        } else if (c < 0x20) {
            ++p;
            failure = Syntax::control_character;
            step = Step::failed;
            break;
        } else if (c >= 0x80) {
            const std::size_t length = utf8_sequence(p, end);
            if (length == 0) {
                failure = Syntax::invalid_utf8;
                step = Step::failed;
                break;
            }
            for (std::size_t i = 0; i < length; ++i) *w++ = *p++;
        } else {
            *w++ = *p++;  // where the room cut the copy short
        }
    }
    p_ = p;
    out = w;
    return step;
}

// The string from `start`, whose bytes up to `q` are plain, unescaped into `out` in one pass.
Decoded<void> TextReader::unescape(const char* start, const char* q, std::string& out) {
    const auto prefix = static_cast<std::size_t>(q - start);
    // Unescaping never lengthens a text, so the rest of the input bounds the string (plus the room
    // one last step asks for).
    const std::size_t bound = prefix + static_cast<std::size_t>(end_ - q) + max_step;
    std::size_t room = std::min(bound, std::max(first_claim, 2 * prefix));
    std::size_t size = 0;
    p_ = q;
    out.clear();
    Step step = Step::needs_room;
    Syntax failure = Syntax::eof_string;
    while (step == Step::needs_room) {
        out.resize_and_overwrite(room, [&](char* buffer, std::size_t n) noexcept {
            if (size == 0 && prefix != 0) {
                std::memcpy(buffer, start, prefix);
                size = prefix;
            }
            char* w = buffer + size;
            step = unescape_some(w, buffer + n, failure);
            size = static_cast<std::size_t>(w - buffer);
            return size;
        });
        room = std::min(bound, 2 * room);
    }
    if (step == Step::failed) return error(failure);
    return {};
}

// The body of a string being skipped, up to and including its closing quote. A control character
// is reported without being consumed.
Decoded<void> TextReader::skip_string_body() {
    Syntax failure = Syntax::eof_string;
    for (;;) {
        p_ = scan::to_string_special(p_, end_);
        if (p_ == end_) return error(Syntax::eof_string);
        const auto c = static_cast<unsigned char>(*p_);
        if (c == '"') {
            ++p_;
            return {};
        }
        if (c == '\\') {
            if (end_ - p_ >= 2 && simple_escapes[static_cast<unsigned char>(p_[1])] != 0) {
                p_ += 2;
                continue;
            }
            ++p_;
            if (!skip_escape(failure)) return error(failure);
            continue;
        }
        if (c < 0x20) return error(Syntax::control_character);
        const std::size_t length = utf8_sequence(p_, end_);
        if (length == 0) return error(Syntax::invalid_utf8);
        p_ += length;
    }
}

const char* TextReader::plain_run(const char* q) const noexcept {
    for (;;) {
        q = scan::to_text_special(q, end_);
        if (q == end_) return q;
        const auto c = static_cast<unsigned char>(*q);
        if (c < 0x80) return q;
        // Two-byte characters (the accented letters of Spanish text) are checked inline.
        if (c >= 0xC2 && c <= 0xDF && end_ - q >= 2 && (static_cast<unsigned char>(q[1]) & 0xC0) == 0x80) {
            q += 2;
            continue;
        }
        const std::size_t length = utf8_sequence(q, end_);
        if (length == 0) return q;
        q += length;
    }
}

// Strings whose plain run goes past one block, or that hold escapes or non-ASCII text.
Decoded<void> TextReader::string_at_length(std::string& scratch, const char* resume, std::string_view& out) {
    const char* start = p_;
    const char* q = plain_run(resume);
    if (q != end_ && *q == '"') {
        p_ = q + 1;
        out = std::string_view(start, static_cast<std::size_t>(q - start));
        return {};
    }
    if (auto e = unescape(start, q, scratch); !e) return e;
    out = scratch;
    return {};
}

Decoded<void> TextReader::string_into_at_length(std::string& out, const char* resume) {
    const char* start = p_;
    const char* q = plain_run(resume);
    if (q != end_ && *q == '"') {
        out.assign(start, static_cast<std::size_t>(q - start));
        p_ = q + 1;
        return {};
    }
    if (auto e = unescape(start, q, out); !e) return e;
    if (out.capacity() > out.size() + kept_slack) out.shrink_to_fit();
    return {};
}

Decoded<void> TextReader::string_kept_at_length(std::string_view& out, const char* resume) {
    const char* start = p_;
    const char* q = plain_run(resume);
    if (q != end_ && *q == '"') {
        out = std::string_view(start, static_cast<std::size_t>(q - start));
        p_ = q + 1;
        return {};
    }
    if (store_ == nullptr) return fail("escaped text read as a view without a store", offset());
    // Unescaped into the store, in room for the whole rest of the input claimed at once: unescaping
    // never lengthens a text, so that room always suffices; room never written costs no page, and
    // nothing moves.
    const auto prefix = static_cast<std::size_t>(q - start);
    const std::size_t room = prefix + static_cast<std::size_t>(end_ - q) + max_step;
    char* const buffer = store_->room(room);
    std::memcpy(buffer, start, prefix);
    p_ = q;
    Syntax failure = Syntax::eof_string;
    char* w = buffer + prefix;
    // Out of room cannot happen; were it to, the string is refused rather than cut short.
    if (unescape_some(w, buffer + room, failure) != Step::closed) return error(failure);
    const auto size = static_cast<std::size_t>(w - buffer);
    store_->keep(size);
    out = std::string_view(buffer, size);
    return {};
}

Decoded<void> TextReader::skip_string() { return skip_string_body(); }

}  // namespace corvane_bo_json
