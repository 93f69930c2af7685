// The bank's Spanish status words, read into payment statuses and shown by name.
#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

#include "corvane_bo/qr/status.hpp"

namespace {

using corvane_bo_qr::PaymentStatus;
using corvane_bo_qr::SpanishQr;

TEST(Status, SpanishQrWords) {
    // word, as a QR's estado, as a notification's response code
    constexpr std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
        {"PAGADO", "paid", "paid"},
        {"Pagado", "paid", "paid"},
        {" \tPAGADO\r\n", "paid", "paid"},
        {"\xC2\xA0pagado\xE3\x80\x80", "paid", "paid"},
        {"PENDIENTE", "pending", "pending"},
        {"cancelado", "cancelled", "cancelled"},
        {"Expirado", "expired", "expired"},
        {"error", "error", "error"},
        {"SUCCESS", "unknown", "paid"},
        {"success", "unknown", "paid"},
        {"SUCCES", "unknown", "unknown"},
        {"   ", "unknown", "unknown"},
        {"PAGAD", "unknown", "unknown"},
        {"PAGADOS", "unknown", "unknown"},
        {"PAGADO.", "unknown", "unknown"},
        {"PA GADO", "unknown", "unknown"},
        {"CANCELAD\xC3\x93", "unknown", "unknown"},  // accented letters are not upper-cased
        {"PAID", "unknown", "unknown"},
        {std::string_view("PAGADO\0", 7), "unknown", "unknown"},
    };
    for (const auto& [text, estado, code] : cases) {
        EXPECT_EQ(corvane_bo_qr::name(SpanishQr::map(text)), estado) << testing::PrintToString(text);
        EXPECT_EQ(corvane_bo_qr::name(SpanishQr::map_notification(text)), code) << testing::PrintToString(text);
    }
    // The statuses no word maps to yet keep the names the Python client's enumeration reads.
    EXPECT_EQ(corvane_bo_qr::name(PaymentStatus::processing), "processing");
    EXPECT_EQ(corvane_bo_qr::name(PaymentStatus::rejected), "rejected");
    EXPECT_EQ(corvane_bo_qr::name(PaymentStatus::reversed), "reversed");
}

}  // namespace
