#include "corvane_bo/qr/wire.hpp"

#include "corvane_bo/core/unicode.hpp"

namespace corvane_bo_qr::wire {

std::optional<std::string_view> non_empty(std::optional<std::string_view> text) {
    if (!text) return std::nullopt;
    const std::string_view trimmed = corvane_bo_core::trim(*text);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

std::optional<Payer> into_payer(const WirePayer& payer) {
    Payer out{non_empty(payer.nombreCliente), non_empty(payer.numeroCuenta), non_empty(payer.ciNitCliente)};
    if (!out.name && !out.account_number && !out.document_id) return std::nullopt;
    return out;
}

std::optional<PayerBank> into_bank(const WireBank& bank) {
    PayerBank out{non_empty(bank.codigoBanco), non_empty(bank.nombreBanco), non_empty(bank.numeroOrdenAch),
                  non_empty(bank.fechaTransaccion)};
    if (!out.bank_code && !out.bank_name && !out.ach_order_number && !out.transaction_date) return std::nullopt;
    return out;
}

GeneratedQr into_qr(const Generated& generated, QrKind kind) {
    return GeneratedQr{
        .kind = kind,
        .reference = generated.numeroReferencia,
        .merchant_reference = non_empty(generated.numeroReferenciaOriginante),
        .status = SpanishQr::map(generated.estado),
        .raw_status = generated.estado,
        .expires_at = non_empty(generated.fechaExpiracion),
        .currency = generated.moneda.value_or("BOB"),
        .amount = generated.monto,
        .qr_image_base64 = generated.qr,
    };
}

QrStatusInfo into_info(const Status& status, QrKind kind) {
    return QrStatusInfo{
        .kind = kind,
        .reference = status.numeroReferencia,
        .merchant_reference = non_empty(status.numeroReferenciaOriginante),
        .status = SpanishQr::map(status.estado),
        .raw_status = status.estado,
        .message = non_empty(status.mensaje),
        // A status names its amount `importe`, with `monto` the second name some answers still use; a
        // notification is the other way round (webhook.cpp). Each record prefers the key it lists first,
        // so a body holding both gives different amounts to the two, as answers always have.
        .amount = status.importe ? status.importe : status.monto,
        .currency = non_empty(status.moneda),
        .payer = status.clienteOrigen ? into_payer(*status.clienteOrigen) : std::nullopt,
        .payer_bank = status.bancoOrigen ? into_bank(*status.bancoOrigen) : std::nullopt,
    };
}

}  // namespace corvane_bo_qr::wire
