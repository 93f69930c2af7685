// Does the webhook header comparison take the same time wherever the values differ?
//
// A dudect-style test (Reparaz, Balasch, Verbauwhede, "Dude, is my code constant time?", 2017):
// three classes of inputs of one length are timed, interleaved in random order so that drift in the
// machine hits all classes alike:
//   equal  - the received value equals the expected one;
//   first  - they differ in the first byte;
//   last   - they differ in the last byte.
// Each class's cycle counts are cropped at a few upper percentiles (interrupts and migrations only
// ever add time), and Welch's t-test is run on each pair of classes. |t| below 4.5 is no evidence
// of a difference; above 10 a difference is certain (dudect's own thresholds). The same harness is run
// over an early-exit comparison as a control, to show that it does see a leak when there is one.
//
//   timing_webhook [--samples N] [--strict]
//
// --strict exits 1 when the comparison under test shows |t| > 10 at some length. Timing on a shared
// machine is noisy; use it where the machine is quiet, not as a unit test.
#include <x86intrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_bo/core/webhook.hpp"

namespace {

// The comparison's own C signature, so that the one inside an installed module can be timed too.
using Compare = int (*)(const char*, std::size_t, const char*, std::size_t);

// The control: stops at the first differing byte.
int early_exit(const char* a, std::size_t a_size, const char* b, std::size_t b_size) {
    if (a_size != b_size) return 0;
    for (std::size_t i = 0; i < a_size; ++i)
        if (a[i] != b[i]) return 0;
    return 1;
}

// Called through volatile pointers so that the compiler can neither inline the comparison nor hoist
// it out of the measuring loop.
Compare volatile under_test = nullptr;
Compare volatile control = &early_exit;
volatile bool sink;

struct Welford {
    double n = 0, mean = 0, m2 = 0;
    void add(double x) {
        n += 1;
        const double d = x - mean;
        mean += d / n;
        m2 += d * (x - mean);
    }
    double variance() const { return n > 1 ? m2 / (n - 1) : 0; }
};

double welch_t(const Welford& a, const Welford& b) {
    const double se = std::sqrt(a.variance() / a.n + b.variance() / b.n);
    return se > 0 ? (a.mean - b.mean) / se : 0;
}

std::uint64_t next_random(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

constexpr int classes = 3;
constexpr std::array<const char*, classes> class_names = {"equal", "first", "last"};
constexpr std::array<double, 3> crops = {0.50, 0.90, 0.99};

struct Outcome {
    std::array<double, classes> median{};
    // Welch's t per crop, for the pairs equal/first, equal/last, first/last; the largest |t| wins.
    double worst_t = 0;
    const char* worst_pair = "";
    double worst_crop = 0;
};

Outcome measure(Compare volatile& compare, std::size_t length, std::size_t samples, std::uint64_t seed) {
    // The received value of each class is copied into one buffer before its measurement, so that
    // every class is read from the same addresses, just written (alignment and cache state alike).
    std::string expected(length, 'k');
    for (std::size_t i = 0; i < length; ++i) expected[i] = static_cast<char>('a' + (i * 7) % 26);
    std::array<std::string, classes> contents = {expected, expected, expected};
    contents[1].front() ^= 0x20;
    contents[2].back() ^= 0x20;
    std::string received = expected;

    std::vector<std::uint8_t> order(samples);
    std::uint64_t state = seed;
    for (auto& c : order) c = static_cast<std::uint8_t>(next_random(state) % classes);

    std::array<std::vector<std::uint64_t>, classes> cycles;
    for (auto& c : cycles) c.reserve(samples / classes + samples / 10);
    // Warm the caches and the branch predictor on every class first.
    for (std::size_t i = 0; i < 10000; ++i) {
        std::memcpy(received.data(), contents[i % classes].data(), length);
        sink = compare(received.data(), received.size(), expected.data(), expected.size()) != 0;
    }

    for (const std::uint8_t c : order) {
        std::memcpy(received.data(), contents[c].data(), length);
        const std::string_view a = received;
        const std::string_view b = expected;
        unsigned aux;
        _mm_lfence();
        const std::uint64_t start = __rdtscp(&aux);
        const bool same = compare(a.data(), a.size(), b.data(), b.size()) != 0;
        const std::uint64_t stop = __rdtscp(&aux);
        _mm_lfence();
        sink = same;
        cycles[c].push_back(stop - start);
    }

    Outcome out;
    std::array<std::vector<std::uint64_t>, classes> sorted = cycles;
    for (int c = 0; c < classes; ++c) {
        std::sort(sorted[c].begin(), sorted[c].end());
        out.median[c] = static_cast<double>(sorted[c][sorted[c].size() / 2]);
    }
    constexpr std::array<std::array<int, 2>, 3> pairs = {{{0, 1}, {0, 2}, {1, 2}}};
    constexpr std::array<const char*, 3> pair_names = {"equal/first", "equal/last", "first/last"};
    for (const double crop : crops) {
        std::array<Welford, classes> stats;
        for (int c = 0; c < classes; ++c) {
            const std::uint64_t limit = sorted[c][static_cast<std::size_t>(crop * (sorted[c].size() - 1))];
            for (const std::uint64_t x : cycles[c])
                if (x <= limit) stats[c].add(static_cast<double>(x));
        }
        for (std::size_t p = 0; p < pairs.size(); ++p) {
            const double t = welch_t(stats[pairs[p][0]], stats[pairs[p][1]]);
            if (std::fabs(t) > std::fabs(out.worst_t)) {
                out.worst_t = t;
                out.worst_pair = pair_names[p];
                out.worst_crop = crop;
            }
        }
    }
    return out;
}

void report(const char* label, std::size_t length, const Outcome& o) {
    const double t = std::fabs(o.worst_t);
    const char* verdict = t < 4.5 ? "no evidence of a difference" : t < 10 ? "suspicious" : "differs";
    std::printf("%-24s %6zu bytes  median cycles %s %.0f / %s %.0f / %s %.0f   max |t| %7.2f (%s, crop p%.0f)  %s\n",
                label, length, class_names[0], o.median[0], class_names[1], o.median[1], class_names[2], o.median[2],
                t, o.worst_pair, o.worst_crop * 100, verdict);
}

// The whole test on `tested`; nonzero when strict and it leaks.
int run(Compare tested, std::size_t samples, bool strict) {
    under_test = tested;
    std::printf("Welch's t over %zu interleaved samples per length; |t| < 4.5: no evidence, > 10: differs\n",
                samples);
    bool leak = false;
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (const std::size_t length : {16u, 64u, 1024u}) {
        const Outcome tested_outcome = measure(under_test, length, samples, seed++);
        report("equal_in_constant_time", length, tested_outcome);
        leak = leak || std::fabs(tested_outcome.worst_t) > 10;
        report("early-exit control", length, measure(control, length, samples, seed++));
    }
    std::fflush(stdout);
    return strict && leak ? 1 : 0;
}

}  // namespace

#ifdef CORVANE_TIMING_LIBRARY
// Loaded by bench/timing_webhook.py into the interpreter that imported the installed module, with
// the address of the module's own comparison.
extern "C" __attribute__((visibility("default"))) int corvane_timing_webhook(void* compare, long samples, int strict) {
    return run(reinterpret_cast<Compare>(compare), static_cast<std::size_t>(samples), strict != 0);
}
#else
int main(int argc, char** argv) {
    std::size_t samples = 1'000'000;
    bool strict = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
            samples = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--strict") == 0) {
            strict = true;
        } else {
            std::fprintf(stderr, "usage: %s [--samples N] [--strict]\n", argv[0]);
            return 2;
        }
    }
    return run(&corvane_bo_equal_in_constant_time, samples, strict);
}
#endif
