#include "corvane_bo/qr/ops.hpp"

#include <algorithm>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/envelope.hpp"
#include "corvane_bo/core/request_body.hpp"
#include "corvane_bo/core/unicode.hpp"
#include "corvane_bo/core/validate.hpp"
#include "corvane_bo/qr/wire.hpp"

namespace corvane_bo_qr {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;
using core::Error;

namespace {

// The bank stores references as signed 32-bit integers.
constexpr std::uint64_t largest_reference = 2147483647;

// The body of a generate request, in the bank's words.
struct GenerateBody {
    std::string_view glosa;
    std::uint64_t idEstablecimiento = 0;
    std::string_view moneda = "BOB";
    json::Number monto;
    std::string_view nombreEstablecimiento;
    std::string_view numeroReferencia;
    std::uint64_t vigencia = 0;
    core::WebhookTarget webhook;
};

constexpr bool ascii_letter_digit_or_space(unsigned char b) {
    return b == ' ' || (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
}

bool letter_digit_or_space(std::string_view name, std::size_t& at) {
    const auto byte = static_cast<unsigned char>(name[at]);
    // ASCII, most of every name, is judged without decoding or a table search.
    if (byte < 0x80) {
        ++at;
        return ascii_letter_digit_or_space(byte);
    }
    const auto decoded = core::decode_utf8(name, at);
    at += decoded.length;
    return core::is_alphanumeric(decoded.cp);
}

Result<void> establishment_name_characters(std::string_view name) {
    for (std::size_t at = 0; at < name.size();) {
        if (!letter_digit_or_space(name, at))
            return std::unexpected(Error::validation("establishment_name", "only letters, digits and spaces are allowed"));
    }
    return {};
}

// Called once the reference is known to be all ASCII digits.
Result<void> reference_fits_32_bits(std::string_view reference) {
    const std::string_view significant = reference.substr(std::min(reference.find_first_not_of('0'), reference.size()));
    std::uint64_t value = 0;
    bool fits = significant.size() <= 10;
    for (char digit : significant) {
        if (!fits) break;
        value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    if (!fits || value > largest_reference)
        return std::unexpected(
            Error::validation("reference", "must be at most 2147483647 (Corvane stores it as a 32-bit integer)"));
    return {};
}

}  // namespace

}  // namespace corvane_bo_qr

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::GenerateBody> {
    using T = corvane_bo_qr::GenerateBody;
    static constexpr std::string_view name = "GenerateBody";
    static constexpr auto list = std::tuple{
        field("glosa", &T::glosa),
        field("idEstablecimiento", &T::idEstablecimiento),
        field("moneda", &T::moneda),
        field("monto", &T::monto),
        field("nombreEstablecimiento", &T::nombreEstablecimiento),
        field("numeroReferencia", &T::numeroReferencia),
        field("vigencia", &T::vigencia),
        field("webhook", &T::webhook),
    };
};

namespace corvane_bo_qr {

Result<HttpRequest> Generate::request(const Ctx& ctx, const GenerateQr& input) {
    if (auto e = core::require_text("description", input.description); !e) return std::unexpected(e.error());
    if (auto e = core::require_text("establishment_name", input.establishment_name); !e)
        return std::unexpected(e.error());
    if (auto e = establishment_name_characters(input.establishment_name); !e) return std::unexpected(e.error());
    if (auto e = core::numeric_reference("reference", input.reference); !e) return std::unexpected(e.error());
    if (auto e = reference_fits_32_bits(input.reference); !e) return std::unexpected(e.error());
    auto amount = core::validate_amount("amount", input.amount);
    if (!amount) return std::unexpected(amount.error());
    if (auto e = core::positive("expires_in", input.expires_in); !e) return std::unexpected(e.error());
    if (auto e = core::positive("establishment_id", input.establishment_id); !e) return std::unexpected(e.error());
    if (!input.webhook) return std::unexpected(Error::validation("webhook", "is required by Corvane"));
    if (auto e = input.webhook->validate(); !e) return std::unexpected(e.error());
    auto monto = core::amount::to_json_number(*amount);
    if (!monto) return std::unexpected(monto.error());

    const GenerateBody body{
        .glosa = core::trim(input.description),
        .idEstablecimiento = input.establishment_id,
        .monto = std::move(*monto),
        .nombreEstablecimiento = core::trim(input.establishment_name),
        .numeroReferencia = input.reference,
        .vigencia = input.expires_in,
        .webhook = *input.webhook,
    };
    const std::string_view url = ctx.config.url(ctx.store, {base_path(input.kind), "/generate"});
    auto headers = ctx.api_headers();
    if (!headers) return std::unexpected(headers.error());
    return HttpRequest{core::Method::POST, url, *headers, core::write_body(body, ctx.store)};
}

Result<GeneratedQr> Generate::parse(const GenerateQr& input, const HttpResponse& response, Store& store) {
    auto generated = core::SuccessData::open<wire::Generated>(response, store);
    if (!generated) return std::unexpected(std::move(generated.error()));
    return wire::into_qr(*generated, input.kind);
}

namespace {

Result<HttpRequest> bodyless(const Ctx& ctx, core::Method method, QrKind kind, std::string_view suffix,
                             std::string_view reference) {
    if (auto e = core::numeric_reference("reference", reference); !e) return std::unexpected(e.error());
    const std::string_view url = ctx.config.url(ctx.store, {base_path(kind), suffix, reference});
    auto headers = ctx.api_headers();
    if (!headers) return std::unexpected(headers.error());
    return HttpRequest{method, url, std::move(*headers), std::nullopt};
}

Result<QrStatusInfo> status_info(const HttpResponse& response, QrKind kind, Store& store) {
    auto status = core::SuccessData::open<wire::Status>(response, store);
    if (!status) return std::unexpected(std::move(status.error()));
    return wire::into_info(*status, kind);
}

}  // namespace

Result<HttpRequest> Verify::request(const Ctx& ctx, const VerifyQr& input) {
    return bodyless(ctx, core::Method::GET, input.kind, "/verify/", input.reference);
}

Result<QrStatusInfo> Verify::parse(const VerifyQr& input, const HttpResponse& response, Store& store) {
    return status_info(response, input.kind, store);
}

Result<HttpRequest> Cancel::request(const Ctx& ctx, const CancelQr& input) {
    return bodyless(ctx, core::Method::POST, QrKind::simple, "/cancel/", input.reference);
}

Result<QrStatusInfo> Cancel::parse(const CancelQr&, const HttpResponse& response, Store& store) {
    return status_info(response, QrKind::simple, store);
}

}  // namespace corvane_bo_qr
