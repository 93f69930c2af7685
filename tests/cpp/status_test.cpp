#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include "corvane_bo/core/status.hpp"

namespace {

using corvane_bo_core::PaymentStatus;
using corvane_bo_core::SpanishQr;

TEST(Status, SpanishQrWords) {
    struct Case {
        std::string_view text;
        PaymentStatus status;
    };
    constexpr Case cases[] = {
        {"PAGADO", PaymentStatus::paid},
        {"pagado", PaymentStatus::paid},
        {"Pagado", PaymentStatus::paid},
        {" \tPAGADO\r\n", PaymentStatus::paid},
        {"\xC2\xA0pagado\xE3\x80\x80", PaymentStatus::paid},
        {"PENDIENTE", PaymentStatus::pending},
        {"cancelado", PaymentStatus::cancelled},
        {"Expirado", PaymentStatus::expired},
        {"error", PaymentStatus::error},
        {"", PaymentStatus::unknown},
        {"   ", PaymentStatus::unknown},
        {"PAGAD", PaymentStatus::unknown},
        {"PAGADOS", PaymentStatus::unknown},
        {"PAGADO.", PaymentStatus::unknown},
        {"PAGADO HOY", PaymentStatus::unknown},
        {"PA GADO", PaymentStatus::unknown},
        {"CANCELAD\xC3\x93", PaymentStatus::unknown},  // accented letters are not upper-cased
        {"cancelad\xC3\xB3", PaymentStatus::unknown},
        {"PAID", PaymentStatus::unknown},
        {std::string_view("PAGADO\0", 7), PaymentStatus::unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(SpanishQr::map(c.text), c.status) << testing::PrintToString(c.text);
}

TEST(Status, Names) {
    using enum PaymentStatus;
    constexpr std::pair<PaymentStatus, std::string_view> names[] = {
        {pending, "pending"},   {processing, "processing"}, {paid, "paid"},   {cancelled, "cancelled"},
        {expired, "expired"},   {rejected, "rejected"},     {reversed, "reversed"}, {error, "error"},
        {unknown, "unknown"},
    };
    for (const auto& [status, text] : names) EXPECT_EQ(corvane_bo_core::name(status), text);
}

}  // namespace
