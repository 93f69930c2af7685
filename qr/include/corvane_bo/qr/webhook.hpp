// Payment notifications the bank posts to the merchant: authenticated first, then read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/core/webhook.hpp"
#include "corvane_bo/qr/model.hpp"
#include "corvane_bo/qr/wire.hpp"

namespace corvane_bo_qr {

// The notification body, in the bank's words.
struct Wire {
    std::string_view numeroReferencia;
    std::optional<Decimal> monto;
    std::optional<Decimal> importe;
    std::optional<std::string_view> moneda;
    std::optional<std::string_view> codigoRespuesta;
    std::optional<std::string_view> estado;
    std::optional<std::string_view> detalleRespuesta;
    std::optional<std::string_view> fechaHoraTransaccion;
    std::optional<wire::WirePayer> clienteOrigen;
    std::optional<wire::WireBank> bancoOrigen;
};

struct PaymentNotification {
    std::string_view reference;
    Decimal amount;
    std::optional<std::string_view> currency;
    PaymentStatus status = PaymentStatus::unknown;
    std::string_view response_code;
    std::optional<std::string_view> response_detail;
    std::optional<std::string_view> transaction_at;
    std::optional<Payer> payer;
    std::optional<PayerBank> payer_bank;
    bool success = false;
};

struct ParseWebhook {
    static constexpr corvane_bo_core::OpInfo info = corvane_bo_core::OpInfo::handler("qr.webhook.parse");
    using Input = corvane_bo_core::WebhookCall;
    using Output = PaymentNotification;

    // The notification views the call's payload and `store`.
    static corvane_bo_core::Result<PaymentNotification> handle(const corvane_bo_core::WebhookCall& call,
                                                               corvane_bo_json::TextStore& store);
};

static_assert(corvane_bo_core::Handler<ParseWebhook>);

}  // namespace corvane_bo_qr

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::Wire> {
    using T = corvane_bo_qr::Wire;
    using OptionalAmount = corvane_bo_core::amount::Optional;
    static constexpr std::string_view name = "Wire";
    static constexpr auto list = std::tuple{
        field("numeroReferencia", &T::numeroReferencia),
        field<OptionalAmount>("monto", &T::monto, defaulted),
        field<OptionalAmount>("importe", &T::importe, defaulted),
        field("moneda", &T::moneda, defaulted),
        field("codigoRespuesta", &T::codigoRespuesta, defaulted),
        field("estado", &T::estado, defaulted),
        field("detalleRespuesta", &T::detalleRespuesta, defaulted).also("mensaje"),
        field("fechaHoraTransaccion", &T::fechaHoraTransaccion, defaulted),
        field("clienteOrigen", &T::clienteOrigen, defaulted),
        field("bancoOrigen", &T::bancoOrigen, defaulted),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::PaymentNotification> {
    using T = corvane_bo_qr::PaymentNotification;
    static constexpr std::string_view name = "PaymentNotification";
    static constexpr auto list = std::tuple{
        field("reference", &T::reference),
        field<corvane_bo_core::amount::Required>("amount", &T::amount),
        field("currency", &T::currency),
        field("status", &T::status),
        field("response_code", &T::response_code),
        field("response_detail", &T::response_detail),
        field("transaction_at", &T::transaction_at),
        field("payer", &T::payer),
        field("payer_bank", &T::payer_bank),
        field("success", &T::success),
    };
};
