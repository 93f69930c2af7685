#include "corvane_bo/qr/wire.hpp"

#include "corvane_bo/core/status.hpp"
#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_qr::wire {

using corvane_bo_core::SpanishQr;

std::optional<std::string> non_empty(std::optional<std::string> text) {
    if (!text) return std::nullopt;
    const std::string_view trimmed = corvane_bo_core::trim(*text);
    if (trimmed.empty()) return std::nullopt;
    if (trimmed.size() == text->size()) return text;
    return std::string(trimmed);
}

std::optional<Payer> into_payer(WirePayer payer) {
    Payer out{non_empty(std::move(payer.nombreCliente)), non_empty(std::move(payer.numeroCuenta)),
              non_empty(std::move(payer.ciNitCliente))};
    if (!out.name && !out.account_number && !out.document_id) return std::nullopt;
    return out;
}

std::optional<PayerBank> into_bank(WireBank bank) {
    PayerBank out{non_empty(std::move(bank.codigoBanco)), non_empty(std::move(bank.nombreBanco)),
                  non_empty(std::move(bank.numeroOrdenAch)), non_empty(std::move(bank.fechaTransaccion))};
    if (!out.bank_code && !out.bank_name && !out.ach_order_number && !out.transaction_date) return std::nullopt;
    return out;
}

GeneratedQr into_qr(Generated generated, QrKind kind) {
    const PaymentStatus status = SpanishQr::map(generated.estado);
    return GeneratedQr{
        .kind = kind,
        .reference = std::move(generated.numeroReferencia),
        .merchant_reference = non_empty(std::move(generated.numeroReferenciaOriginante)),
        .status = status,
        .raw_status = std::move(generated.estado),
        .expires_at = non_empty(std::move(generated.fechaExpiracion)),
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
        .merchant_reference = non_empty(std::move(status.numeroReferenciaOriginante)),
        .status = mapped,
        .raw_status = std::move(status.estado),
        .message = non_empty(std::move(status.mensaje)),
        .amount = status.importe ? status.importe : status.monto,
        .currency = non_empty(std::move(status.moneda)),
        .payer = status.clienteOrigen ? into_payer(std::move(*status.clienteOrigen)) : std::nullopt,
        .payer_bank = status.bancoOrigen ? into_bank(std::move(*status.bancoOrigen)) : std::nullopt,
    };
}

}  // namespace corvane_bo_qr::wire
