#include "corvane_bo/qr/webhook.hpp"

#include "corvane_bo/qr/status.hpp"

namespace corvane_bo_qr {

namespace core = corvane_bo_core;
using core::Error;
using wire::non_empty;

core::Result<PaymentNotification> ParseWebhook::handle(const core::WebhookCall& call, corvane_bo_json::TextStore& store) {
    if (auto e = call.authenticate(); !e) return std::unexpected(std::move(e.error()));
    auto decoded = corvane_bo_json::from_text<Wire>(call.body, store);
    if (!decoded) return std::unexpected(Error::decode("invalid webhook payload: " + decoded.error().describe(call.body)));
    const Wire& body = *decoded;

    // A notification names its amount `monto`, `importe` only as a fallback: the opposite of a status
    // answer (wire.cpp), each record preferring the key it lists first.
    const auto amount = body.monto ? body.monto : body.importe;
    if (!amount) return std::unexpected(Error::decode("webhook payload has no `monto`/`importe`"));
    auto code = non_empty(body.codigoRespuesta);
    if (!code) code = non_empty(body.estado);
    if (!code) return std::unexpected(Error::decode("webhook payload has no `codigoRespuesta`/`estado`"));

    const PaymentStatus status = SpanishQr::map_notification(*code);
    auto payer_bank = body.bancoOrigen ? wire::into_bank(*body.bancoOrigen) : std::nullopt;
    auto transaction_at = non_empty(body.fechaHoraTransaccion);
    if (!transaction_at && payer_bank) transaction_at = payer_bank->transaction_date;

    return PaymentNotification{
        .reference = body.numeroReferencia,
        .amount = *amount,
        .currency = non_empty(body.moneda),
        .status = status,
        .response_code = *code,
        .response_detail = non_empty(body.detalleRespuesta),
        .transaction_at = transaction_at,
        .payer = body.clienteOrigen ? wire::into_payer(*body.clienteOrigen) : std::nullopt,
        .payer_bank = payer_bank,
        .success = status == PaymentStatus::paid,
    };
}

}  // namespace corvane_bo_qr
