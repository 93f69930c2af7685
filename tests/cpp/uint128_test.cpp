// The portable 128-bit words against the compiler's own 128-bit integer, where there is one.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "corvane_bo/core/uint128.hpp"

namespace {

using corvane_bo_core::Words128;

#if defined(__SIZEOF_INT128__)
__extension__ using Native = unsigned __int128;

Words128 words(Native v) { return (Words128{static_cast<std::uint64_t>(v >> 64)} << 64) + Words128{static_cast<std::uint64_t>(v)}; }
bool same(Words128 w, Native v) { return w == words(v); }

// Values of every size, and the edges where carries and borrows cross the words.
Native sample(std::mt19937_64& random) {
    const Native full = (Native{random()} << 64) | random();
    switch (random() % 6) {
        case 0: return full;
        case 1: return full >> (random() % 128);
        case 2: return random() % 1000;
        case 3: return (Native{1} << (random() % 128)) - (random() % 3);
        case 4: return Native{random()};
        default: return ~Native{0} - random() % 4;
    }
}

TEST(Words128, AgreesWithTheNativeInteger) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 200000; ++i) {
        const Native a = sample(random);
        const Native b = sample(random);
        const int n = static_cast<int>(random() % 128);
        SCOPED_TRACE(i);
        ASSERT_TRUE(same(words(a) + words(b), a + b));
        ASSERT_TRUE(same(words(a) - words(b), a - b));
        ASSERT_TRUE(same(words(a) * words(b), a * b));
        ASSERT_TRUE(same(words(a) << n, a << n));
        ASSERT_TRUE(same(words(a) >> n, a >> n));
        ASSERT_EQ(words(a) <=> words(b), a <=> b);
        if (b != 0) {
            ASSERT_TRUE(same(words(a) / words(b), a / b));
            ASSERT_TRUE(same(words(a) % words(b), a % b));
        }
        ASSERT_EQ(static_cast<std::uint64_t>(words(a)), static_cast<std::uint64_t>(a));
    }
}
#endif

TEST(Words128, HoldsTheLargestMantissa) {
    constexpr Words128 max = (Words128{1} << 96) - 1;
    static_assert(max / 10 * 10 + max % 10 == max);
    Words128 v = max;
    std::string digits;
    while (v != 0) {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    EXPECT_EQ(digits, "79228162514264337593543950335");
}

}  // namespace
