#include "corvane_bo/core/amount.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "corvane_bo/core/unicode.hpp"
#include "corvane_bo/json/write.hpp"

namespace corvane_bo_core::amount {

namespace json = corvane_bo_json;

namespace {

template <class S>
json::Decoded<void> fail_with(S& s, std::expected<Decimal, std::string> read, Decimal& out) {
    if (!read) return json::Source<S>::fail(s, std::move(read.error()));
    out = *read;
    return {};
}

// The amounts nearly every payload carries ("150.50", "20", "-3.5"): digits with at most one point
// inside them, nineteen digits at most, so that the mantissa fits 64 bits and nothing is rounded.
// Those are read here in one pass, to the same value `read_amount` gives; every other text goes there
// (false, `out` untouched).
inline bool plain_amount(std::string_view text, Decimal& out) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    // Digits past the nineteenth may wrap the mantissa; such texts are refused below.
    std::uint64_t mantissa = 0;
    const auto digits_into = [&] {
        const char* const from = p;
        for (unsigned digit; p != end && (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
            mantissa = mantissa * 10 + digit;
        return static_cast<std::size_t>(p - from);
    };
    const std::size_t whole = digits_into();
    if (whole == 0) return false;
    std::size_t scale = 0;
    if (p != end) {
        if (*p++ != '.') return false;
        scale = digits_into();
        if (scale == 0 || p != end) return false;
    }
    if (whole + scale > 19) return false;
    out = *Decimal::from_parts(mantissa, static_cast<std::uint32_t>(scale), negative);
    return true;
}

template <class S>
json::Decoded<void> read_amount_into(S& s, std::string_view text, Decimal& out) {
    if (plain_amount(text, out)) return {};
    return fail_with(s, read_amount(text), out);
}

// Reads the amount at the source's place. Strings and numbers are read in place; anything else is
// read whole so that the message can show it.
template <class S>
json::Decoded<void> read_at(S& s, Decimal& out) {
    using source = json::Source<S>;
    const auto at = source::peek(s);
    if (source::is_string(at)) {
        std::string scratch;
        std::string_view text;
        if (auto e = source::name(s, scratch, text); !e) return e;
        return read_amount_into(s, trim(text), out);
    }
    if (source::is_number(at)) {
        // As the value reader keeps a number.
        auto text = source::number(s);
        if (!text) return std::unexpected(std::move(text.error()));
        return read_amount_into(s, json::kept_number_text(*text), out);
    }
    json::Value value;
    if (auto e = source::value_into(s, value); !e) return e;
    return fail_with(s, from_value(value), out);
}

}  // namespace

std::expected<Decimal, std::string> from_value(const json::Value& value) {
    if (const auto* number = value.get<json::Number>()) {
        if (Decimal plain; plain_amount(number->text, plain)) return plain;
        return read_amount(number->text);
    }
    if (const auto* text = value.get<std::string>()) {
        const std::string_view trimmed = trim(*text);
        if (Decimal plain; plain_amount(trimmed, plain)) return plain;
        return read_amount(trimmed);
    }
    return std::unexpected("expected a number, got " + json::to_text(value));
}

namespace {

// Room for a normalized amount whose mantissa fits 64 bits: a minus, 20 digits or up to 29 with the
// zeros before the first significant one, and a point.
constexpr std::size_t plain_room = 32;

// "00" to "99".
constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// 10^0 to 10^19.
constexpr auto powers_of_ten = [] {
    std::array<std::uint64_t, 20> powers{};
    powers[0] = 1;
    for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
    return powers;
}();

// How many digits a nonzero 64-bit number has.
constexpr std::uint32_t digit_count(std::uint64_t n) {
    // 1233 / 4096 is just above log10(2): a guess that is right or one short, and at most 19.
    const auto guess = static_cast<std::uint32_t>(std::bit_width(n)) * 1233 >> 12;
    return guess + (n >= powers_of_ten[guess] ? 1 : 0);
}

// Writes the digits of `n` so that the last one lands just before `w`; returns where the first is.
inline char* put_digits_before(std::uint64_t n, char* w) {
    while (n >= 100) {
        w -= 2;
        std::memcpy(w, &digit_pairs[2 * (n % 100)], 2);
        n /= 100;
    }
    if (n >= 10) {
        w -= 2;
        std::memcpy(w, &digit_pairs[2 * n], 2);
    } else {
        *--w = static_cast<char>('0' + n);
    }
    return w;
}

// The normalized amount in plain notation, exactly as `normalized().append_to` writes it, for a
// mantissa that fits 64 bits (all real ones), without 128-bit arithmetic. Written back to front,
// once its length is known. Returns the end.
char* put_normalized(const Decimal& amount, char* w) {
    auto mantissa = static_cast<std::uint64_t>(amount.mantissa());
    std::uint32_t scale = amount.scale();
    if (mantissa == 0) {
        *w++ = '0';
        return w;
    }
    while (scale > 0 && mantissa % 10 == 0) {
        mantissa /= 10;
        --scale;
    }
    if (amount.is_negative()) *w++ = '-';
    const std::uint32_t digits = digit_count(mantissa);
    if (scale == 0) {
        char* const end = w + digits;
        put_digits_before(mantissa, end);
        return end;
    }
    // The integer part, "0" when every digit is in the fraction, the point, and the fraction with
    // the zeros before its first significant digit.
    const std::uint32_t integer_digits = digits > scale ? digits - scale : 1;
    char* const end = w + integer_digits + 1 + scale;
    char* p = end;
    std::uint32_t fraction = scale;
    for (; fraction >= 2; fraction -= 2) {
        p -= 2;
        std::memcpy(p, &digit_pairs[2 * (mantissa % 100)], 2);
        mantissa /= 100;
    }
    if (fraction != 0) {
        *--p = static_cast<char>('0' + mantissa % 10);
        mantissa /= 10;
    }
    *--p = '.';
    put_digits_before(mantissa, p);
    return end;
}

bool fits_64_bits(const Decimal& amount) { return amount.mantissa() <= std::numeric_limits<std::uint64_t>::max(); }

void append_normalized(const Decimal& amount, json::Writer& out) {
    if (!fits_64_bits(amount)) {
        out.append(amount.normalized().to_string());
        return;
    }
    out.advance(put_normalized(amount, out.room(plain_room)));
}

}  // namespace

void serialize(const Decimal& amount, json::Writer& out) {
    if (!fits_64_bits(amount)) {
        out.put('"');
        append_normalized(amount, out);
        out.put('"');
        return;
    }
    // Both quotes in the same claim of room.
    char* w = out.room(plain_room + 2);
    *w++ = '"';
    w = put_normalized(amount, w);
    *w++ = '"';
    out.advance(w);
}

Result<json::Number> to_json_number(const Decimal& amount) {
    // Digits with at most one point inside them, and no zero leading the integer part unless it is
    // the whole of it: always a JSON number.
    if (fits_64_bits(amount)) {
        char text[plain_room];
        return json::Number{std::string(text, put_normalized(amount, text))};
    }
    std::string text;
    json::Writer::append_to(text, 0, [&amount](json::Writer& writer) { append_normalized(amount, writer); });
    // Plain decimal text is a JSON number; the reader's number scan confirms it without building a
    // value, and anything it refuses goes the long way for its message.
    json::TextReader reader(text);
    if (!text.empty() && reader.number() && reader.offset() == text.size())
        return json::Number{std::string(json::kept_number_text(text))};
    auto number = json::parse(text);
    if (!number || !number->get<json::Number>())
        return std::unexpected(Error::validation(
            "amount", "not representable as JSON: " + (number ? std::string("not a number") : number.error().describe(text))));
    return std::move(*number->get<json::Number>());
}

template <json::source S>
json::Decoded<void> Required::read(S& s, Decimal& out) {
    return read_at(s, out);
}

template <json::source S>
json::Decoded<void> Optional::read(S& s, std::optional<Decimal>& out) {
    auto null = json::Source<S>::null(s);
    if (!null) return std::unexpected(std::move(null.error()));
    if (*null) {
        out.reset();
        return {};
    }
    return read_at(s, out.emplace());
}

template json::Decoded<void> Required::read(json::TextReader&, Decimal&);
template json::Decoded<void> Required::read(json::ValueReader&, Decimal&);
template json::Decoded<void> Optional::read(json::TextReader&, std::optional<Decimal>&);
template json::Decoded<void> Optional::read(json::ValueReader&, std::optional<Decimal>&);

void Optional::write(const std::optional<Decimal>& amount, json::Writer& out) {
    if (amount)
        serialize(*amount, out);
    else
        out.append("null");
}

}  // namespace corvane_bo_core::amount
