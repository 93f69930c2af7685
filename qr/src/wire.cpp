#include "corvane_bo/qr/wire.hpp"

#include "corvane_bo/core/status.hpp"
#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_qr::wire {

using corvane_bo_core::SpanishQr;

namespace {

// `non_empty` taking the text from where it lies, so that a text that needs no trimming moves once.
std::optional<std::string> take_non_empty(std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const std::string_view trimmed = corvane_bo_core::trim(*text);
    if (trimmed.empty()) return std::nullopt;
    if (trimmed.size() == text->size()) return std::move(text);
    return std::string(trimmed);
}

}  // namespace

std::optional<std::string> non_empty(std::optional<std::string> text) { return take_non_empty(text); }

std::optional<Payer> into_payer(WirePayer payer) {
    Payer out{take_non_empty(payer.nombreCliente), take_non_empty(payer.numeroCuenta),
              take_non_empty(payer.ciNitCliente)};
    if (!out.name && !out.account_number && !out.document_id) return std::nullopt;
    return out;
}

std::optional<PayerBank> into_bank(WireBank bank) {
    PayerBank out{take_non_empty(bank.codigoBanco), take_non_empty(bank.nombreBanco),
                  take_non_empty(bank.numeroOrdenAch), take_non_empty(bank.fechaTransaccion)};
    if (!out.bank_code && !out.bank_name && !out.ach_order_number && !out.transaction_date) return std::nullopt;
    return out;
}

GeneratedQr into_qr(Generated generated, QrKind kind) {
    const PaymentStatus status = SpanishQr::map(generated.estado);
    return GeneratedQr{
        .kind = kind,
        .reference = std::move(generated.numeroReferencia),
        .merchant_reference = take_non_empty(generated.numeroReferenciaOriginante),
        .status = status,
        .raw_status = std::move(generated.estado),
        .expires_at = take_non_empty(generated.fechaExpiracion),
        .currency = generated.moneda ? std::move(*generated.moneda) : std::string("BOB"),
        .amount = generated.monto,
        .qr_image_base64 = std::move(generated.qr),
    };
}

QrStatusInfo into_info(Status status, QrKind kind) {
    const PaymentStatus mapped = SpanishQr::map(status.estado);
    return QrStatusInfo{
        .kind = kind,
        .reference = std::move(status.numeroReferencia),
        .merchant_reference = take_non_empty(status.numeroReferenciaOriginante),
        .status = mapped,
        .raw_status = std::move(status.estado),
        .message = take_non_empty(status.mensaje),
        .amount = status.importe ? status.importe : status.monto,
        .currency = take_non_empty(status.moneda),
        .payer = status.clienteOrigen ? into_payer(std::move(*status.clienteOrigen)) : std::nullopt,
        .payer_bank = status.bancoOrigen ? into_bank(std::move(*status.bancoOrigen)) : std::nullopt,
    };
}

}  // namespace corvane_bo_qr::wire
