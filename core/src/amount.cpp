#include "corvane_bo/core/amount.hpp"

#include <cstdint>
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
// Those are read here in one pass, to the same value `read_amount` gives; every other text goes there.
std::optional<Decimal> plain_amount(std::string_view text) {
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
    if (whole == 0) return std::nullopt;
    std::size_t scale = 0;
    if (p != end) {
        if (*p++ != '.') return std::nullopt;
        scale = digits_into();
        if (scale == 0 || p != end) return std::nullopt;
    }
    if (whole + scale > 19) return std::nullopt;
    return Decimal::from_parts(mantissa, static_cast<std::uint32_t>(scale), negative);
}

template <class S>
json::Decoded<void> read_amount_into(S& s, std::string_view text, Decimal& out) {
    if (auto plain = plain_amount(text)) {
        out = *plain;
        return {};
    }
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
        if (auto plain = plain_amount(number->text)) return *plain;
        return read_amount(number->text);
    }
    if (const auto* text = value.get<std::string>()) {
        const std::string_view trimmed = trim(*text);
        if (auto plain = plain_amount(trimmed)) return *plain;
        return read_amount(trimmed);
    }
    return std::unexpected("expected a number, got " + json::to_text(value));
}

namespace {

// Room for a normalized amount whose mantissa fits 64 bits: a minus, 20 digits or up to 29 with the
// zeros before the first significant one, and a point.
constexpr std::size_t plain_room = 32;

// The normalized amount in plain notation, exactly as `normalized().append_to` writes it, for a
// mantissa that fits 64 bits (all real ones), without 128-bit arithmetic. Returns the end.
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
    char digits[plain_room];
    std::uint32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + mantissa % 10);
        mantissa /= 10;
    } while (mantissa != 0);
    while (count <= scale) digits[count++] = '0';
    if (amount.is_negative()) *w++ = '-';
    for (std::uint32_t i = count; i > 0; --i) {
        if (i == scale) *w++ = '.';
        *w++ = digits[i - 1];
    }
    return w;
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
    out.put('"');
    append_normalized(amount, out);
    out.put('"');
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
