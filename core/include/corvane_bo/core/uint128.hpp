// An unsigned 128-bit integer: the compiler's own where it has one, else two 64-bit words in
// standard C++ with the few operations the decimal needs. CORVANE_PORTABLE forces the words.
#pragma once

#include <bit>
#include <compare>
#include <concepts>
#include <cstdint>

namespace corvane_bo_core {

class Words128 {
public:
    constexpr Words128() = default;
    constexpr Words128(std::unsigned_integral auto v) : low_(v) {}
    constexpr Words128(std::signed_integral auto v)
        : high_(v < 0 ? ~std::uint64_t{0} : 0), low_(static_cast<std::uint64_t>(v)) {}

    template <std::integral T>
    constexpr explicit operator T() const {
        return static_cast<T>(low_);
    }

    friend constexpr bool operator==(const Words128&, const Words128&) = default;
    friend constexpr std::strong_ordering operator<=>(const Words128& a, const Words128& b) {
        if (a.high_ != b.high_) return a.high_ <=> b.high_;
        return a.low_ <=> b.low_;
    }

    friend constexpr Words128 operator+(Words128 a, Words128 b) {
        const std::uint64_t low = a.low_ + b.low_;
        return {a.high_ + b.high_ + (low < a.low_ ? 1 : 0), low};
    }
    friend constexpr Words128 operator-(Words128 a, Words128 b) {
        return {a.high_ - b.high_ - (a.low_ < b.low_ ? 1 : 0), a.low_ - b.low_};
    }
    friend constexpr Words128 operator*(Words128 a, Words128 b) {
        const Words128 low = multiply(a.low_, b.low_);
        return {low.high_ + a.high_ * b.low_ + a.low_ * b.high_, low.low_};
    }
    friend constexpr Words128 operator<<(Words128 a, int n) {
        if (n == 0) return a;
        if (n >= 64) return {a.low_ << (n - 64), 0};
        return {(a.high_ << n) | (a.low_ >> (64 - n)), a.low_ << n};
    }
    friend constexpr Words128 operator>>(Words128 a, int n) {
        if (n == 0) return a;
        if (n >= 64) return {0, a.high_ >> (n - 64)};
        return {a.high_ >> n, (a.low_ >> n) | (a.high_ << (64 - n))};
    }
    friend constexpr Words128 operator/(Words128 a, Words128 b) {
        Words128 quotient;
        divide(a, b, quotient);
        return quotient;
    }
    friend constexpr Words128 operator%(Words128 a, Words128 b) {
        Words128 quotient;
        return divide(a, b, quotient);
    }

    constexpr Words128& operator++() { return *this = *this + 1u; }
    constexpr Words128& operator+=(Words128 b) { return *this = *this + b; }
    constexpr Words128& operator-=(Words128 b) { return *this = *this - b; }
    constexpr Words128& operator*=(Words128 b) { return *this = *this * b; }
    constexpr Words128& operator/=(Words128 b) { return *this = *this / b; }
    constexpr Words128& operator%=(Words128 b) { return *this = *this % b; }

private:
    constexpr Words128(std::uint64_t high, std::uint64_t low) : high_(high), low_(low) {}

    static constexpr Words128 multiply(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t a0 = a & 0xFFFFFFFF, a1 = a >> 32, b0 = b & 0xFFFFFFFF, b1 = b >> 32;
        const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
        const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
        return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFF)};
    }

    // The remainder; the quotient in `quotient`.
    static constexpr Words128 divide(Words128 a, Words128 b, Words128& quotient);

    std::uint64_t high_ = 0;
    std::uint64_t low_ = 0;
};

// Long division a bit at a time, from the divisor's top bit aligned under the dividend's. (Only the
// portable build divides this way; the decimal divides by small powers of ten.)
constexpr Words128 Words128::divide(Words128 a, Words128 b, Words128& quotient) {
    quotient = Words128{};
    if (b.high_ == 0 && a.high_ == 0) {
        quotient = Words128{a.low_ / b.low_};
        return Words128{a.low_ % b.low_};
    }
    if (b > a) return a;
    const auto bits = [](Words128 v) { return v.high_ != 0 ? 128 - std::countl_zero(v.high_) : 64 - std::countl_zero(v.low_); };
    int shift = bits(a) - bits(b);
    Words128 divisor = b << shift;
    for (; shift >= 0; --shift) {
        quotient = quotient << 1;
        if (a >= divisor) {
            a -= divisor;
            quotient.low_ |= 1;
        }
        divisor = divisor >> 1;
    }
    return a;
}

#if defined(__SIZEOF_INT128__) && !defined(CORVANE_PORTABLE)
__extension__ using Uint128 = unsigned __int128;
#else
using Uint128 = Words128;
#endif

}  // namespace corvane_bo_core
