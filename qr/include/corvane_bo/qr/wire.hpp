// The bank's own records, with its Spanish keys, and their conversion into the results the host gets.
#pragma once

#include <optional>
#include <string>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/qr/model.hpp"

namespace corvane_bo_qr::wire {

struct WirePayer {
    std::optional<std::string_view> nombreCliente;
    std::optional<std::string_view> numeroCuenta;
    std::optional<std::string_view> ciNitCliente;
};

struct WireBank {
    std::optional<std::string_view> codigoBanco;
    std::optional<std::string_view> nombreBanco;
    std::optional<std::string_view> numeroOrdenAch;
    std::optional<std::string_view> fechaTransaccion;
};

// The `data` of a generate response.
struct Generated {
    std::string_view numeroReferencia;
    std::string_view estado;
    std::optional<std::string_view> fechaExpiracion;
    std::optional<std::string_view> moneda;
    Decimal monto;
    std::optional<std::string_view> numeroReferenciaOriginante;
    corvane_bo_json::RelayedString qr;
};

// The `data` of a verify or cancel response.
struct Status {
    std::string_view numeroReferencia;
    std::string_view estado;
    std::optional<std::string_view> mensaje;
    std::optional<Decimal> importe;
    std::optional<Decimal> monto;
    std::optional<std::string_view> moneda;
    std::optional<std::string_view> numeroReferenciaOriginante;
    std::optional<WirePayer> clienteOrigen;
    std::optional<WireBank> bancoOrigen;
};

// A bank text trimmed, and absent when blank.
std::optional<std::string_view> non_empty(std::optional<std::string_view> text);
std::optional<Payer> into_payer(const WirePayer& payer);
std::optional<PayerBank> into_bank(const WireBank& bank);
GeneratedQr into_qr(const Generated& generated, QrKind kind);
QrStatusInfo into_info(const Status& status, QrKind kind);

}  // namespace corvane_bo_qr::wire

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::wire::WirePayer> {
    using T = corvane_bo_qr::wire::WirePayer;
    static constexpr std::string_view name = "WirePayer";
    static constexpr auto list = std::tuple{
        field("nombreCliente", &T::nombreCliente, defaulted),
        field("numeroCuenta", &T::numeroCuenta, defaulted),
        field("ciNitCliente", &T::ciNitCliente, defaulted).also("ciCliente"),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::wire::WireBank> {
    using T = corvane_bo_qr::wire::WireBank;
    static constexpr std::string_view name = "WireBank";
    static constexpr auto list = std::tuple{
        field("codigoBanco", &T::codigoBanco, defaulted),
        field("nombreBanco", &T::nombreBanco, defaulted),
        field("numeroOrdenAch", &T::numeroOrdenAch, defaulted),
        field("fechaTransaccion", &T::fechaTransaccion, defaulted),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::wire::Generated> {
    using T = corvane_bo_qr::wire::Generated;
    static constexpr std::string_view name = "Generated";
    static constexpr auto list = std::tuple{
        field("numeroReferencia", &T::numeroReferencia),
        field("estado", &T::estado),
        field("fechaExpiracion", &T::fechaExpiracion, defaulted),
        field("moneda", &T::moneda, defaulted),
        field<corvane_bo_core::amount::Required>("monto", &T::monto),
        field("numeroReferenciaOriginante", &T::numeroReferenciaOriginante, defaulted),
        field("qr", &T::qr),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::wire::Status> {
    using T = corvane_bo_qr::wire::Status;
    static constexpr std::string_view name = "Status";
    static constexpr auto list = std::tuple{
        field("numeroReferencia", &T::numeroReferencia),
        field("estado", &T::estado),
        field("mensaje", &T::mensaje, defaulted),
        field<corvane_bo_core::amount::Optional>("importe", &T::importe, defaulted),
        field<corvane_bo_core::amount::Optional>("monto", &T::monto, defaulted),
        field("moneda", &T::moneda, defaulted),
        field("numeroReferenciaOriginante", &T::numeroReferenciaOriginante, defaulted),
        field("clienteOrigen", &T::clienteOrigen, defaulted),
        field("bancoOrigen", &T::bancoOrigen, defaulted),
    };
};
