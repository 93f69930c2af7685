// What the host passes as the input of the QR operations, and the results it gets back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/core/webhook.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/qr/status.hpp"

namespace corvane_bo_qr {

using corvane_bo_core::Decimal;

// The bank API's two QR products.
enum class QrKind { simple, mld };

// The product's base path, without leading or trailing slash.
constexpr std::string_view base_path(QrKind kind) { return kind == QrKind::simple ? "qr/simple/v2" : "qr/mld/v2"; }

// Inputs view the payload they were read from; results view the bank's answer (or the call's store).
struct GenerateQr {
    QrKind kind = QrKind::simple;
    std::string_view description;
    Decimal amount;
    std::string_view reference;
    std::uint64_t expires_in = 0;
    std::uint64_t establishment_id = 0;
    std::string_view establishment_name;
    std::optional<corvane_bo_core::WebhookTarget> webhook;
};

struct VerifyQr {
    QrKind kind = QrKind::simple;
    std::string_view reference;
};

// A cancellation always goes to the simple product.
struct CancelQr {
    std::string_view reference;
};

struct Payer {
    std::optional<std::string_view> name;
    std::optional<std::string_view> account_number;
    std::optional<std::string_view> document_id;
};

struct PayerBank {
    std::optional<std::string_view> bank_code;
    std::optional<std::string_view> bank_name;
    std::optional<std::string_view> ach_order_number;
    std::optional<std::string_view> transaction_date;
};

struct GeneratedQr {
    QrKind kind = QrKind::simple;
    std::string_view reference;
    std::optional<std::string_view> merchant_reference;
    PaymentStatus status = PaymentStatus::unknown;
    std::string_view raw_status;
    std::optional<std::string_view> expires_at;
    std::string_view currency;
    Decimal amount;
    corvane_bo_json::RelayedString qr_image_base64;
};

struct QrStatusInfo {
    QrKind kind = QrKind::simple;
    std::string_view reference;
    std::optional<std::string_view> merchant_reference;
    PaymentStatus status = PaymentStatus::unknown;
    std::string_view raw_status;
    std::optional<std::string_view> message;
    std::optional<Decimal> amount;
    std::optional<std::string_view> currency;
    std::optional<Payer> payer;
    std::optional<PayerBank> payer_bank;
};

}  // namespace corvane_bo_qr

template <>
struct corvane_bo_json::Variants<corvane_bo_qr::QrKind> {
    static constexpr std::array<std::string_view, 2> names = {"simple", "mld"};
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::GenerateQr> {
    using T = corvane_bo_qr::GenerateQr;
    static constexpr std::string_view name = "GenerateQr";
    static constexpr auto list = std::tuple{
        field("kind", &T::kind, defaulted),
        field("description", &T::description),
        field<corvane_bo_core::amount::Required>("amount", &T::amount),
        field("reference", &T::reference),
        field("expires_in", &T::expires_in),
        field("establishment_id", &T::establishment_id),
        field("establishment_name", &T::establishment_name),
        field("webhook", &T::webhook, defaulted),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::VerifyQr> {
    using T = corvane_bo_qr::VerifyQr;
    static constexpr std::string_view name = "VerifyQr";
    static constexpr auto list = std::tuple{
        field("kind", &T::kind, defaulted),
        field("reference", &T::reference),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::CancelQr> {
    using T = corvane_bo_qr::CancelQr;
    static constexpr std::string_view name = "CancelQr";
    static constexpr auto list = std::tuple{field("reference", &T::reference)};
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::Payer> {
    using T = corvane_bo_qr::Payer;
    static constexpr std::string_view name = "Payer";
    static constexpr auto list = std::tuple{
        field("name", &T::name),
        field("account_number", &T::account_number),
        field("document_id", &T::document_id),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::PayerBank> {
    using T = corvane_bo_qr::PayerBank;
    static constexpr std::string_view name = "PayerBank";
    static constexpr auto list = std::tuple{
        field("bank_code", &T::bank_code),
        field("bank_name", &T::bank_name),
        field("ach_order_number", &T::ach_order_number),
        field("transaction_date", &T::transaction_date),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::GeneratedQr> {
    using T = corvane_bo_qr::GeneratedQr;
    static constexpr std::string_view name = "GeneratedQr";
    static constexpr auto list = std::tuple{
        field("kind", &T::kind),
        field("reference", &T::reference),
        field("merchant_reference", &T::merchant_reference),
        field("status", &T::status),
        field("raw_status", &T::raw_status),
        field("expires_at", &T::expires_at),
        field("currency", &T::currency),
        field<corvane_bo_core::amount::Required>("amount", &T::amount),
        field("qr_image_base64", &T::qr_image_base64),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_qr::QrStatusInfo> {
    using T = corvane_bo_qr::QrStatusInfo;
    static constexpr std::string_view name = "QrStatusInfo";
    static constexpr auto list = std::tuple{
        field("kind", &T::kind),
        field("reference", &T::reference),
        field("merchant_reference", &T::merchant_reference),
        field("status", &T::status),
        field("raw_status", &T::raw_status),
        field("message", &T::message),
        field<corvane_bo_core::amount::Optional>("amount", &T::amount),
        field("currency", &T::currency),
        field("payer", &T::payer),
        field("payer_bank", &T::payer_bank),
    };
};
