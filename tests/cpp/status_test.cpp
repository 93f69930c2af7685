// The bank's Spanish status words, read into payment statuses and shown by name.
#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include "corvane_bo/core/status.hpp"

namespace {

using corvane_bo_core::PaymentStatus;
using corvane_bo_core::SpanishQr;

TEST(Status, SpanishQrWords) {
    constexpr std::pair<std::string_view, std::string_view> cases[] = {
        {"PAGADO", "paid"},
        {"Pagado", "paid"},
        {" \tPAGADO\r\n", "paid"},
        {"\xC2\xA0pagado\xE3\x80\x80", "paid"},
        {"PENDIENTE", "pending"},
        {"cancelado", "cancelled"},
        {"Expirado", "expired"},
        {"error", "error"},
        {"   ", "unknown"},
        {"PAGAD", "unknown"},
        {"PAGADOS", "unknown"},
        {"PAGADO.", "unknown"},
        {"PA GADO", "unknown"},
        {"CANCELAD\xC3\x93", "unknown"},  // accented letters are not upper-cased
        {"PAID", "unknown"},
        {std::string_view("PAGADO\0", 7), "unknown"},
    };
    for (const auto& [text, status] : cases)
        EXPECT_EQ(corvane_bo_core::name(SpanishQr::map(text)), status) << testing::PrintToString(text);
    // The statuses no word maps to yet keep the names the Python client's enumeration reads.
    EXPECT_EQ(corvane_bo_core::name(PaymentStatus::processing), "processing");
    EXPECT_EQ(corvane_bo_core::name(PaymentStatus::rejected), "rejected");
    EXPECT_EQ(corvane_bo_core::name(PaymentStatus::reversed), "reversed");
}

}  // namespace
