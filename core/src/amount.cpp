#include "corvane_bo/core/amount.hpp"

#include "corvane_bo/core/unicode.hpp"
#include "corvane_bo/core/validate.hpp"
#include "corvane_bo/json/write.hpp"

namespace corvane_bo_core::amount {

namespace json = corvane_bo_json;

namespace {

json::Decoded<void> fail_with(std::expected<Decimal, std::string> read, Decimal& out) {
    if (!read) return json::fail(std::move(read.error()));
    out = *read;
    return {};
}

// Reads the amount at the reader's place. Strings and numbers are read in place; anything else is
// read whole so that the message can show it.
json::Decoded<void> read_text(json::TextReader& r, Decimal& out) {
    const int c = r.skip_whitespace();
    if (c == '"') {
        r.eat();
        std::string scratch;
        auto text = r.string(scratch);
        if (!text) return std::unexpected(std::move(text.error()));
        return fail_with(read_amount(trim(*text)), out);
    }
    auto value = r.value();
    if (!value) return std::unexpected(std::move(value.error()));
    return fail_with(from_value(*value), out);
}

}  // namespace

std::expected<Decimal, std::string> from_value(const json::Value& value) {
    if (const auto* number = value.get<json::Number>()) return read_amount(number->text);
    if (const auto* text = value.get<std::string>()) return read_amount(trim(*text));
    return std::unexpected("expected a number, got " + json::to_text(value));
}

void serialize(const Decimal& amount, std::string& out) {
    out += '"';
    amount.normalized().append_to(out);
    out += '"';
}

Result<Decimal> validate(std::string_view field, const Decimal& amount) { return validate_amount(field, amount); }

Result<json::Number> to_json_number(const Decimal& amount) {
    std::string text;
    amount.normalized().append_to(text);
    auto number = json::parse(text);
    if (!number || !number->get<json::Number>())
        return std::unexpected(Error::validation(
            "amount", "not representable as JSON: " + (number ? std::string("not a number") : number.error().describe(text))));
    return std::move(*number->get<json::Number>());
}

json::Decoded<void> Required::read(json::TextReader& r, Decimal& out) { return read_text(r, out); }

json::Decoded<void> Required::read(json::Value& v, Decimal& out) { return fail_with(from_value(v), out); }

json::Decoded<void> Optional::read(json::TextReader& r, std::optional<Decimal>& out) {
    if (r.skip_whitespace() == 'n') {
        r.eat();
        if (auto e = r.literal("ull"); !e) return e;
        out.reset();
        return {};
    }
    return read_text(r, out.emplace());
}

json::Decoded<void> Optional::read(json::Value& v, std::optional<Decimal>& out) {
    if (v.is_null()) {
        out.reset();
        return {};
    }
    return fail_with(from_value(v), out.emplace());
}

void Optional::write(const std::optional<Decimal>& amount, std::string& out) {
    if (amount)
        serialize(*amount, out);
    else
        out += "null";
}

}  // namespace corvane_bo_core::amount
