#include "corvane_bo/qr/registry.hpp"

#include <array>

#include "corvane_bo/qr/ops.hpp"
#include "corvane_bo/qr/webhook.hpp"

namespace corvane_bo_qr {

using corvane_bo_core::OpInfo;
using corvane_bo_core::Outcome;
namespace ffi = corvane_bo_core::ffi;

namespace {

constexpr std::array<OpInfo, 4> entries = {
    OpInfo::operation(Generate::name, false),
    OpInfo::operation(Verify::name, true),
    OpInfo::operation(Cancel::name, false),
    OpInfo::handler(ParseWebhook::name),
};

// The stage after "<name>." when `op` starts so, uninspected.
std::optional<std::string_view> stage_of(std::string_view op, std::string_view name) {
    if (op.size() <= name.size() || !op.starts_with(name) || op[name.size()] != '.') return std::nullopt;
    return op.substr(name.size() + 1);
}

}  // namespace

std::optional<Outcome> QrOps::dispatch(std::string_view op, std::string_view payload) const {
    if (auto stage = stage_of(op, Generate::name)) return ffi::run<Generate>(*stage, payload);
    if (auto stage = stage_of(op, Verify::name)) return ffi::run<Verify>(*stage, payload);
    if (auto stage = stage_of(op, Cancel::name)) return ffi::run<Cancel>(*stage, payload);
    if (op == ParseWebhook::name) return ffi::run_handler<ParseWebhook>(payload);
    return std::nullopt;
}

std::span<const OpInfo> QrOps::operations() const { return entries; }

std::string call(std::string_view op, std::string_view payload) {
    return corvane_bo_core::ffi::call(QrOps{}, op, payload);
}

}  // namespace corvane_bo_qr
