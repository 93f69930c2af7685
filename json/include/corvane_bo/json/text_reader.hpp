// A strict streaming reader over UTF-8 JSON text. It offers the tokens the record mapping walks
// with, and places every failure at the byte where a streaming reader finds it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/json/decode_error.hpp"
#include "corvane_bo/json/inlining.hpp"
#include "corvane_bo/json/relayed.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/text_store.hpp"
#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

// Arrays and objects may nest this deep counting the outermost; one more level fails.
inline constexpr int max_depth = 128;

class TextReader {
public:
    // Strings read as views (`string_kept`) that hold escapes are unescaped into `store`.
    explicit TextReader(std::string_view text, TextStore* store = nullptr) noexcept
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), store_(store) {}

    std::string_view text() const { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
    std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

    // Skips whitespace and returns the next byte without consuming it, or -1 at the end.
    CORVANE_HOT_INLINE int skip_whitespace() noexcept {
        // Every whitespace byte is at most a space, so the common cases cost a test or two: no
        // whitespace, or the one space of `, ` and `: ` between tokens.
        if (end_ - p_ >= 2) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c > ' ') return c;
            const auto next = static_cast<unsigned char>(p_[1]);
            if (c == ' ' && next > ' ') {
                ++p_;
                return next;
            }
        }
        while (p_ < end_) {
            const char c = *p_;
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
            ++p_;
        }
        return -1;
    }
    void eat() noexcept { ++p_; }

    // A failure placed where the reader stands, or on the byte ahead (which its column counts).
    std::unexpected<Failed> error(Syntax code) const { return std::unexpected(Failed(code, offset())); }
    std::unexpected<Failed> peek_error(Syntax code) const;
    // A failure worded at run time, its text kept by the reader until `decode_error` takes it.
    std::unexpected<Failed> fail(std::string message, std::size_t offset = DecodeError::unplaced) {
        worded_ = std::move(message);
        return std::unexpected(Failed::worded(offset));
    }
    // Gives an unplaced record failure the reader's current place.
    Failed place(Failed failure) const { return failure.placed_at(offset()); }
    // The failure of a read by this reader, as it is reported.
    DecodeError decode_error(Failed failure) { return corvane_bo_json::decode_error(failure, worded_); }

    // A plain unsigned integer of at most 18 digits, not above `max`, that no fraction or exponent
    // follows: consumed into `value`. Otherwise nothing is consumed and the caller reads the number
    // the general way, which also words any failure.
    bool plain_unsigned(std::uint64_t& value, std::uint64_t max) noexcept {
        const char* p = p_;
        const char* const stop = end_ - p_ > 19 ? p_ + 19 : end_;
        std::uint64_t v = 0;
        for (unsigned digit; p < stop && (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
            v = v * 10 + digit;
        const auto digits = p - p_;
        if (digits == 0 || digits > 18 || (digits > 1 && *p_ == '0') || v > max) return false;
        if (p < end_ && (*p == '.' || *p == 'e' || *p == 'E')) return false;
        value = v;
        p_ = p;
        return true;
    }

    // Nesting: call before consuming `[` or `{`, and `leave` after the matching close.
    Decoded<void> enter() {
        if (remaining_depth_ == 0) [[unlikely]]
            return peek_error(Syntax::recursion_limit);
        --remaining_depth_;
        return {};
    }
    void leave() noexcept { ++remaining_depth_; }

    // The literal null, true or false at the reader, `c` being its first byte (n, t or f), already
    // peeked: consumed whole, or the failure of a broken one.
    Decoded<void> literal(int c);
    // A null at the reader, consumed: true when the next value is null, false (nothing consumed) when
    // it is something else.
    CORVANE_HOT_INLINE Decoded<bool> null() {
        if (skip_whitespace() != 'n') return false;
        if (auto e = literal('n'); !e) return std::unexpected(e.error());
        return true;
    }
    // A string whose opening quote has been consumed, in `out`: a view of the text when the string
    // holds no escape, otherwise of `scratch`. (An out-parameter, so that the common path returns in
    // a register.)
    Decoded<void> string(std::string& scratch, std::string_view& out) {
        const char* resume = p_;
        if (const std::size_t length = short_plain_string(resume); length != no_short_string) {
            out = std::string_view(p_, length);
            p_ += length + 1;
            return {};
        }
        return string_at_length(scratch, resume, out);
    }
    // The same string kept: copied once, or unescaped once, straight into `out`.
    Decoded<void> string_into(std::string& out) {
        const char* resume = p_;
        if (const std::size_t length = short_plain_string(resume); length != no_short_string) {
            // Written straight into the string's room: the whole string is among the 64 bytes the
            // scan just read, so the copy needs no call.
            const char* from = p_;
            out.resize_and_overwrite(length, [from, length](char* to, std::size_t) noexcept {
                scan::copy_short(to, from, length);
                return length;
            });
            p_ += length + 1;
            return {};
        }
        return string_into_at_length(out, resume);
    }
    // The same string as a view: of the text itself when it holds no escape, otherwise of its
    // unescaped copy in the reader's store (which must then have been given).
    CORVANE_HOT_INLINE Decoded<void> string_kept(std::string_view& out) {
        const char* resume = p_;
        if (const std::size_t length = short_plain_string(resume); length != no_short_string) {
            out = std::string_view(p_, length);
            p_ += length + 1;
            return {};
        }
        return string_kept_at_length(out, resume);
    }
    // The same string kept, and whether it stood in the text with no escape: only then is the view
    // one of the text, starting where the string does.
    CORVANE_HOT_INLINE Decoded<void> string_relayed(RelayedString& out) {
        const char* const start = p_;
        auto kept = string_kept(out.text);
        out.escape_free = out.text.data() == start;
        return kept;
    }
    Decoded<void> skip_string();
    // The text of a number starting at the next byte (a digit or `-`). While skipping a value, an
    // input ending inside the number is reported as an invalid number.
    Decoded<std::string_view> number(bool skipping = false);

    Decoded<void> object_colon() {
        const int c = skip_whitespace();
        if (c == ':') {
            eat();
            return {};
        }
        return peek_error(c < 0 ? Syntax::eof_object : Syntax::expected_colon);
    }
    // Walking an array: true while an element follows (the reader then stands on it).
    Decoded<bool> next_element(bool& first);
    // Walking an object: true when a key follows (the reader then stands on its opening quote), false
    // at the closing brace.
    CORVANE_HOT_INLINE Decoded<bool> next_key_start(bool& first) {
        int c = skip_whitespace();
        if (c == '}') return false;
        if (c == ',' && !first) {
            eat();
            c = skip_whitespace();
        } else if (c == '"' && first) {
            first = false;
        } else {
            return first_key_or_end(first);
        }
        if (c != '"') return key_expected(c);
        return true;
    }
    // The key at the reader, its colon not yet read.
    Decoded<void> key(std::string& scratch, std::string_view& out) {
        eat();
        return string(scratch, out);
    }
    // Both: true with the next key in `out`, false at the closing brace.
    Decoded<bool> next_key(bool& first, std::string& scratch, std::string_view& out) {
        auto more = next_key_start(first);
        if (!more || !*more) return more;
        if (auto e = key(scratch, out); !e) return std::unexpected(e.error());
        return true;
    }
    // The reader's place when at least `n` bytes follow it, for comparing them a word at a time;
    // otherwise null.
    const char* ahead(std::size_t n) const noexcept {
        return static_cast<std::size_t>(end_ - p_) >= n ? p_ : nullptr;
    }
    void skip(std::size_t n) noexcept { p_ += n; }
    // Closing an array or object, also run after a failure inside it (it may consume the close).
    Decoded<void> end_array();
    CORVANE_HOT_INLINE Decoded<void> end_object() {
        if (skip_whitespace() == '}') {
            eat();
            return {};
        }
        return object_not_closed();
    }
    // An array or object whose opening byte was peeked: entered, walked by `body`, then closed and
    // left. A failure of `body` comes first, given the reader's place where it has none.
    template <class Body>
    Decoded<void> in_array(Body&& body) { return in_container<false>(body); }
    template <class Body>
    Decoded<void> in_object(Body&& body) { return in_container<true>(body); }
    // Only whitespace may follow the top-level value.
    Decoded<void> end();

    // Reads and discards one value of any kind, iteratively.
    Decoded<void> skip_value();
    // From now on, skipped values are read as strictly as kept ones (a skipped string's \u escapes
    // must pair up too), so that reading a record succeeds exactly when reading the same text into a
    // `Value` and taking the record from that would.
    void check_skipped_values() noexcept { check_skipped_ = true; }
    // Reads one value of any kind into a `Value`.
    Decoded<Value> value();
    // The same, built in place.
    Decoded<void> value_into(Value& out);
    // The failure for a value of the wrong type at the next byte: "invalid type: <found>, expected
    // <expected>", read far enough to name what was found.
    std::unexpected<Failed> invalid_type(std::string_view expected);
    // How the scalar or container at the next byte is named in a type failure, consuming scalars.
    Decoded<std::string> found();

private:
    // The walk's failure (placed), else the closing one's.
    template <bool object, class Body>
    Decoded<void> in_container(Body& body) {
        if (remaining_depth_ == 0) [[unlikely]]
            return peek_error(Syntax::recursion_limit);
        --remaining_depth_;
        eat();
        const Decoded<void> walked = body();
        if (!walked) [[unlikely]] {
            (void)(object ? end_object() : end_array());
            ++remaining_depth_;
            return std::unexpected(place(walked.error()));
        }
        ++remaining_depth_;
        if constexpr (object)
            return end_object();
        else
            return end_array();
    }

    enum class Step : std::uint8_t { closed, needs_room, failed };

    static bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

    static constexpr std::size_t no_short_string = static_cast<std::size_t>(-1);
    // The length of a plain string whose closing quote is among the next 64 bytes (nearly all of
    // them), told by a few block tests; otherwise `no_short_string`, and the out-of-line scan with
    // its wider steps takes over.
    CORVANE_HOT_INLINE std::size_t short_plain_string(const char*& resume) const noexcept {
        const char* p = p_;
        for (int block = 0; block < 4 && end_ - p >= 16; ++block, p += 16) {
            // Accented letters are plain too; longer characters go to the general scan, which checks them.
            const std::uint32_t mask = scan::string_stops16(p);
            if (mask == 0) continue;
            const char* q = p + std::countr_zero(mask);
            if (*q == '"') return static_cast<std::size_t>(q - p_);
            resume = q;
            return no_short_string;
        }
        resume = p;
        return no_short_string;
    }
    // The general reading of a string, its bytes before `resume` known to be plain.
    Decoded<void> string_at_length(std::string& scratch, const char* resume, std::string_view& out);
    Decoded<void> string_into_at_length(std::string& out, const char* resume);
    Decoded<void> string_kept_at_length(std::string_view& out, const char* resume);
    // The rest of `next_key` off its common path: the closing brace, the first key, or a failure.
    Decoded<bool> first_key_or_end(bool& first);
    // What `end_object` reports when the next byte is not the closing brace.
    std::unexpected<Failed> object_not_closed() const;
    std::unexpected<Failed> key_expected(int c) const;

    // Where the plain scan of a string stopped: the closing quote, or the byte the slow path takes up.
    const char* plain_run(const char* q) const noexcept;
    Decoded<void> unescape(const char* start, const char* q, std::string& out);
    // These write into a buffer that a std::string lends out, so they report failures by code and
    // never allocate (nothing may throw there).
    Step unescape_some(char*& w, char* w_end, Syntax& failure) noexcept;
    char* escape(char* w, Syntax& failure) noexcept;
    bool skip_escape(Syntax& failure) noexcept;
    bool hex_escape(unsigned& n, Syntax& failure) noexcept;
    Decoded<void> skip_string_body();
    Decoded<void> value_at(int c, Value& out);

    const char* begin_;
    const char* p_;
    const char* end_;
    TextStore* store_;
    int remaining_depth_ = max_depth;
    bool check_skipped_ = false;
    // The text of the last worded failure.
    std::string worded_;
};

// Parses a whole text as one value of any kind.
DecodeResult<Value> parse(std::string_view text);

}  // namespace corvane_bo_json
