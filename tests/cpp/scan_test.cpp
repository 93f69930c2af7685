// Every implementation of the string kernels against a byte-at-a-time model of what it promises: on
// every length from 0 to 300 at every alignment, on random and adversarial texts, and with every byte
// value at every position of a plain text. The input always ends where its allocation ends, so that
// a sanitizer build catches any read past it; the output has guard bytes past its room.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_bo/json/scan.hpp"

namespace scan = corvane_bo_json::scan;

namespace corvane_bo_json::scan {
// Failures name the implementation, not the bytes of its table.
void PrintTo(const Kernels& kernels, std::ostream* out) { *out << kernels.name; }
}  // namespace corvane_bo_json::scan

namespace {

bool reader_stop(unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c >= 0x80; }
bool writer_stop(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }
unsigned char at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

std::size_t first(std::string_view s, bool (*stop)(unsigned char)) {
    std::size_t i = 0;
    while (i < s.size() && !stop(at(s, i))) ++i;
    return i;
}

bool two_byte_at(std::string_view s, std::size_t i) {
    return i + 1 < s.size() && at(s, i) >= 0xC2 && at(s, i) <= 0xDF && (at(s, i + 1) & 0xC0) == 0x80;
}

// The byte a one-letter escape's letter stands for, or 0.
char one_letter(unsigned char c) {
    switch (c) {
        case '"': return '"';
        case '\\': return '\\';
        case '/': return '/';
        case 'b': return '\b';
        case 'f': return '\f';
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        default: return 0;
    }
}

// The UTF-8 of the \u escape at s[i] when it names one character outside the surrogates, else
// nothing. The unescaping may take such an escape or stop at its backslash.
std::optional<std::string> code_escape_at(std::string_view s, std::size_t i) {
    if (i + 6 > s.size() || s[i] != '\\' || s[i + 1] != 'u') return std::nullopt;
    for (std::size_t k = i + 2; k < i + 6; ++k)
        if (!std::isxdigit(at(s, k))) return std::nullopt;
    const auto code = std::stoul(std::string(s.substr(i + 2, 4)), nullptr, 16);
    if (code >= 0xD800 && code <= 0xDFFF) return std::nullopt;
    std::string utf8;
    if (code < 0x80) {
        utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
        utf8 += static_cast<char>(0xC0 | (code >> 6));
        utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        utf8 += static_cast<char>(0xE0 | (code >> 12));
        utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
    return utf8;
}

// The unescaping as `copy_unescaping` promises it, a step at a time: s's unescaped text up to `limit`
// input bytes (nothing when a step straddles that limit), and where the steps stop.
struct Unescaping {
    std::optional<std::string> text;
    std::size_t stop;
};
Unescaping unescaping(std::string_view s, std::size_t limit) {
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = at(s, i);
        std::size_t step = 1;
        const auto code = code_escape_at(s, i);
        if (c == '\\' && i + 1 < s.size() && one_letter(at(s, i + 1)) != 0) {
            step = 2;
        } else if (code) {
            step = 6;
        } else if (two_byte_at(s, i)) {
            step = 2;
        } else if (reader_stop(c)) {
            break;
        }
        if (i < limit && i + step > limit) return {std::nullopt, i};
        if (i < limit) {
            if (code)
                out += *code;
            else if (c == '\\')
                out += one_letter(at(s, i + 1));
            else
                out.append(s.substr(i, step));
        }
        i += step;
    }
    if (limit > i) return {std::nullopt, i};
    return {out, i};
}

std::string escaped(std::string_view s) {
    std::string out;
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// An input that ends where its allocation does, placed `offset` bytes into it.
struct Input {
    std::vector<char> storage;
    std::size_t offset;
    Input(std::string_view text, std::size_t offset) : storage(offset + text.size()), offset(offset) {
        std::copy(text.begin(), text.end(), storage.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    const char* begin() const { return storage.data() + offset; }
    const char* end() const { return storage.data() + storage.size(); }
};

constexpr char guard = 0x5A;

class Kernels : public testing::TestWithParam<scan::Kernels> {
protected:
    // Checks every kernel on one text; `room` bytes of output are lent to the copying ones.
    void check(std::string_view text, std::size_t offset, std::size_t room) {
        const scan::Kernels& k = GetParam();
        const Input in(text, offset);
        const auto where = [&](const char* p) { return static_cast<std::size_t>(p - in.begin()); };
        SCOPED_TRACE(testing::Message() << "length " << text.size() << " offset " << offset << " room " << room);

        ASSERT_EQ(where(k.to_string_special(in.begin(), in.end())), first(text, reader_stop));
        ASSERT_EQ(where(k.to_escape(in.begin(), in.end())), first(text, writer_stop));
        {
            // At the first stop outside a well-formed two-byte character, or earlier at the lead of one.
            std::size_t stop = 0;
            while (stop < text.size() && (two_byte_at(text, stop) || !reader_stop(at(text, stop))))
                stop += two_byte_at(text, stop) ? 2 : 1;
            const std::size_t found = where(k.to_text_special(in.begin(), in.end()));
            ASSERT_LE(found, stop);
            if (found < stop) {
                ASSERT_TRUE(two_byte_at(text, found)) << "stopped at " << found;
            }
        }
        ASSERT_EQ(where(k.to_non_ascii(in.begin(), in.end())),
                  first(text, [](unsigned char c) { return c >= 0x80; }));
        if (text.size() >= 16) {
            // A well-formed pair inside the block is plain, but only when the first stop is not ASCII.
            std::uint32_t all = 0;
            std::uint32_t pairs = 0;
            for (std::size_t i = 0; i < 16; ++i) {
                all |= std::uint32_t{reader_stop(at(text, i))} << i;
                if (i < 15 && two_byte_at(text, i)) pairs |= 3u << i;
            }
            const bool ascii_first = all == 0 || at(text, static_cast<std::size_t>(std::countr_zero(all))) < 0x80;
            ASSERT_EQ(k.string_stops16(in.begin()), ascii_first ? all : all & ~pairs);
        }

        std::vector<char> out(room + 64, guard);
        char* const w = out.data();
        const auto copy = [&](auto kernel) {
            std::fill(out.begin(), out.end(), guard);
            const scan::Copied c = kernel(in.begin(), in.end(), w, w + room);
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(room), out.end(),
                                    [](char b) { return b == guard; }))
                << "written past the room";
            EXPECT_LE(c.w, w + room);
            EXPECT_GE(c.p, in.begin());
            EXPECT_LE(c.p, in.end());
            return std::pair{where(c.p), std::string(w, c.w)};
        };
        for (const auto& [kernel, stop] : {std::pair{k.copy_plain, &reader_stop}, std::pair{k.copy_unescaped, &writer_stop}}) {
            const auto [read, written] = copy(kernel);
            ASSERT_LE(read, first(text, stop));
            ASSERT_EQ(written, text.substr(0, read));
        }
        if (text.size() < 64) {
            std::vector<char> exact(text.size() + 64, guard);
            const bool plain = k.copy_short_unescaped(in.begin(), text.size(), exact.data());
            ASSERT_EQ(plain, first(text, writer_stop) == text.size());
            ASSERT_EQ(std::string_view(exact.data(), text.size()), text);
            ASSERT_TRUE(std::all_of(exact.begin() + static_cast<std::ptrdiff_t>(text.size()), exact.end(),
                                    [](char b) { return b == guard; }))
                << "written past the text's size";
        }
        {
            // The whole run, with room for the whole text and not a byte more.
            std::vector<char> whole(text.size() + 64, guard);
            const scan::Copied c = k.copy_to_escape(in.begin(), in.end(), whole.data());
            const std::size_t run = first(text, writer_stop);
            ASSERT_EQ(where(c.p), run);
            ASSERT_EQ(c.w, whole.data() + run);
            ASSERT_EQ(std::string_view(whole.data(), run), text.substr(0, run));
            ASSERT_TRUE(std::all_of(whole.begin() + static_cast<std::ptrdiff_t>(text.size()), whole.end(),
                                    [](char b) { return b == guard; }))
                << "written past the text's size";
        }
        {
            // Exactly at the first byte the caller must look at, or as far as the room lets it read.
            const auto [read, written] = copy(k.copy_unescaping);
            const auto expected = unescaping(text, read);
            ASSERT_TRUE(expected.text) << "stopped inside a step, after " << read << " bytes";
            ASSERT_EQ(written, *expected.text) << "read " << read;
            if (code_escape_at(text, read)) {
                // Stopping at a \u escape that the kernel could have taken is allowed.
            } else if (room >= text.size()) {
                ASSERT_EQ(read, expected.stop);
            } else {
                ASSERT_GE(read + 1, std::min(expected.stop + 1, room)) << "stopped early";
            }
        }
        {
            const auto [read, written] = copy(k.copy_escaping_quotes);
            const std::size_t control = first(text, [](unsigned char c) { return c < 0x20; });
            ASSERT_LE(read, control);
            ASSERT_EQ(written, escaped(text.substr(0, read)));
            // It stops short of the first control only when the room runs out.
            if (read < control) {
                ASSERT_LT(room - written.size(), scan::escape_room) << "stopped after " << read << " bytes";
            }
        }
    }
};

// Bytes that matter to some kernel, and plain ones, often enough to meet in every combination.
std::string adversarial(std::mt19937& random, std::size_t length) {
    static constexpr std::string_view pieces[] = {
        "a", "\"", "\\", "\\\"", "\\\\\"", "\\\\", "\\\\\\", "\\n", "\\t", "\\/", "\\b", "\\f", "\\r",
        "\\u00e9", "\\u20ac", "\\u0041", "\\uD83D\\uDE00", "\\uDE00", "\\u00G9", "\\x", "\\\x01", "\\\xC3\xA9",
        "\xC3\xA9", "\xC3", "\xA9", "\xE2\x82\xAC", "\x1F", "\x7F", "\x80", " ", "\xDF\xBF", "\xC1\x81",
        "\xF0\x9F\x98\x80", "zzzzzzzz", "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"};
    std::string s;
    while (s.size() < length) s += pieces[random() % std::size(pieces)];
    s.resize(length);
    return s;
}

TEST_P(Kernels, AgreeWithTheModelOnEveryLengthAndAlignment) {
    std::mt19937 random(7);
    for (std::size_t length = 0; length <= 300; ++length) {
        for (std::size_t offset = 0; offset < 32; ++offset) {
            std::string text(length, 'a');
            for (char& c : text) c = static_cast<char>(random());
            check(text, offset, length + 32);
            check(adversarial(random, length), offset, length + 32);
            // Room to spare (enough for any escaping but of controls), or barely any.
            check(adversarial(random, length), offset, 2 * length + scan::escape_room);
            check(adversarial(random, length), offset, random() % (length + 1));
            if (HasFatalFailure()) return;
        }
    }
}

// Stopping at every \u escape would be allowed but slow: those wholly inside a round are taken.
TEST_P(Kernels, TakeCodeEscapesInsideARound) {
    const scan::Kernels& k = GetParam();
    const std::string plain(80, 'b');
    const std::string text = "aaaaaaaaaa" + std::string(R"(\u00e9\u20AC\u0041\n\u0000)") + plain + '"';
    std::string out(text.size(), guard);
    const char* const end = text.data() + text.size();
    const scan::Copied c = k.copy_unescaping(text.data(), end, out.data(), out.data() + out.size());
    ASSERT_EQ(c.p, end - 1);
    EXPECT_EQ(std::string(out.data(), c.w), "aaaaaaaaaa\xC3\xA9\xE2\x82\xAC" + std::string("A\n") + '\0' + plain);
}

TEST_P(Kernels, AgreeWithTheModelOnEveryByteAtEveryPosition) {
    for (const std::size_t length : {15, 16, 33, 65, 300}) {
        const std::size_t room = 2 * length + scan::escape_room;
        for (std::size_t position = 0; position < length; ++position) {
            for (int value = 0; value < 256; ++value) {
                std::string text(length, 'a');
                text[position] = static_cast<char>(value);
                check(text, position % 32, room);
                // The same byte after a backslash, and as the continuation of an accented letter.
                if (position > 0) {
                    text[position - 1] = '\\';
                    check(text, 0, room);
                    text[position - 1] = '\xC3';
                    check(text, 0, room);
                }
                if (HasFatalFailure()) return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scan, Kernels, testing::ValuesIn(scan::implementations().begin(), scan::implementations().end()),
                         [](const testing::TestParamInfo<scan::Kernels>& info) {
                             std::string name;
                             for (const char c : info.param.name)
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name + std::to_string(info.index);
                         });

TEST(Kernels, TheActiveOneIsListed) {
    EXPECT_FALSE(scan::active_implementation().empty());
    EXPECT_EQ(scan::implementations().front().name, "portable");
}

// The benchmarks report this name: a build that lost its vector kernels must not pass for one that has them.
TEST(Kernels, TheActiveOneIsTheMachines) {
    const std::string_view active = scan::active_implementation();
#if defined(CORVANE_PORTABLE)
    EXPECT_EQ(active, "portable");
#elif defined(__aarch64__)
    EXPECT_EQ(active, "aarch64 NEON");
#elif defined(__x86_64__)
    EXPECT_TRUE(active == "x86-64 AVX2 with AVX-512 VBMI2" || active == "x86-64 AVX2" || active == "x86-64 SSE2")
        << active;
#else
    EXPECT_EQ(active, "portable");
#endif
}

}  // namespace
