// The QR operations of the bank API, each a build stage and a parse stage over plain records.
#pragma once

#include <string_view>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/http.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/qr/model.hpp"

namespace corvane_bo_qr {

using corvane_bo_core::Ctx;
using corvane_bo_core::HttpRequest;
using corvane_bo_core::HttpResponse;
using corvane_bo_core::OpInfo;
using corvane_bo_core::Result;
using Store = corvane_bo_json::TextStore;

// Parse results view the response and the call's store.

// Asks the bank for a payment QR code for an amount in bolivianos.
struct Generate {
    static constexpr OpInfo info = OpInfo::operation("qr.generate", /*idempotent=*/false);
    using Input = GenerateQr;
    using Output = GeneratedQr;

    static Result<HttpRequest> request(const Ctx& ctx, const GenerateQr& input);
    static Result<GeneratedQr> parse(const GenerateQr& input, const HttpResponse& response, Store& store);
};

// Asks the bank for the current state of a QR payment.
struct Verify {
    static constexpr OpInfo info = OpInfo::operation("qr.verify", /*idempotent=*/true);
    using Input = VerifyQr;
    using Output = QrStatusInfo;

    static Result<HttpRequest> request(const Ctx& ctx, const VerifyQr& input);
    static Result<QrStatusInfo> parse(const VerifyQr& input, const HttpResponse& response, Store& store);
};

// Asks the bank to cancel a QR payment; always through the simple product.
struct Cancel {
    static constexpr OpInfo info = OpInfo::operation("qr.cancel", /*idempotent=*/false);
    using Input = CancelQr;
    using Output = QrStatusInfo;

    static Result<HttpRequest> request(const Ctx& ctx, const CancelQr& input);
    static Result<QrStatusInfo> parse(const CancelQr& input, const HttpResponse& response, Store& store);
};

static_assert(corvane_bo_core::Operation<Generate>);
static_assert(corvane_bo_core::Operation<Verify>);
static_assert(corvane_bo_core::Operation<Cancel>);

}  // namespace corvane_bo_qr
