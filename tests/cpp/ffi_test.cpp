// The call frame: the fault guard, the error objects in answers, the compact writer's escaping, and
// answers for inputs no Python host would send.
#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/json/write.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;
namespace errors = corvane_bo_core::errors;
using core::Error;
using core::OpInfo;

// What a registry answers for a name it routes; the test registries speak the real one's type.
using Routed = std::optional<core::Outcome>;

// ---- fault guard ----------------------------------------------------------------------------------

// A registry whose every entry point faults, so both "describe" and routed names hit the guard.
struct FaultyRegistry {
    void (*raise)();
    Routed dispatch(std::string_view, std::string_view) const {
        raise();
        return std::nullopt;
    }
    std::span<const OpInfo> operations() const {
        raise();
        return {};
    }
};
static_assert(core::Registry<FaultyRegistry>);

TEST(FaultGuard, FaultBecomesFfiErrorAndVersionNeverTouchesTheRegistry) {
    for (const FaultyRegistry registry : {FaultyRegistry{[] { throw std::runtime_error("boom"); }},
                                          FaultyRegistry{[] { throw std::bad_alloc(); }}, FaultyRegistry{[] { throw 42; }}}) {
        for (std::string_view op : {"qr.generate.build", "describe", "", "a`b"}) {
            EXPECT_EQ(core::ffi::call(registry, op, "{}"),
                      R"({"error":{"kind":"ffi","message":"core panicked while handling `)" + std::string(op) +
                          R"(`","retryable":false},"ok":false})");
        }
        EXPECT_EQ(core::ffi::call(registry, "version", ""), R"({"ok":true,"value":{"core":"0.1.0","protocol":2}})");
    }
}

// ---- error objects --------------------------------------------------------------------------------

// Routes every name to one fixed error, so the answer shows exactly how `call` encodes it.
struct FailingRegistry {
    Error error;
    Routed dispatch(std::string_view, std::string_view) const { return std::unexpected(error); }
    std::span<const OpInfo> operations() const { return {}; }
};
static_assert(core::Registry<FailingRegistry>);

// Every kind with its exact key set; "retryable" comes from the api error's flag, never its status.
TEST(ErrorObjects, AnswerHasExactKeysAndRetryable) {
    const core::ApiFieldError full{"monto", "must be positive", "E01"}, bare{std::nullopt, "bad", std::nullopt};
    const std::pair<Error, std::string_view> cases[] = {
        {Error::validation("token", "required"),
         R"({"field":"token","kind":"validation","message":"required","retryable":false})"},
        {Error::validation("", ""), R"({"field":"","kind":"validation","message":"","retryable":false})"},
        {Error{errors::Authentication{401, "unauthorized"}},
         R"({"kind":"authentication","message":"unauthorized","retryable":false,"status":401})"},
        {Error{errors::Api{503, "busy", {}, true}},
         R"({"errors":[],"kind":"api","message":"busy","retryable":true,"status":503})"},
        {Error{errors::Api{500, "rejected", {full, bare}, false}},
         R"({"errors":[{"code":"E01","field":"monto","message":"must be positive"},{"code":null,"field":null,"message":"bad"}],)"
         R"("kind":"api","message":"rejected","retryable":false,"status":500})"},
        {Error{errors::Ambiguous{"unclear", {full}}},
         R"({"errors":[{"code":"E01","field":"monto","message":"must be positive"}],"kind":"ambiguous","message":"unclear","retryable":false})"},
        {Error::decode("no data"), R"({"kind":"decode","message":"no data","retryable":false})"},
        {Error::webhook_auth("bad"), R"({"kind":"webhook_auth","message":"bad","retryable":false})"},
        {Error::ffi(""), R"({"kind":"ffi","message":"","retryable":false})"},
    };
    for (const auto& [error, object] : cases) {
        EXPECT_EQ(core::ffi::call(FailingRegistry{error}, "op", ""),
                  R"({"error":)" + std::string(object) + R"(,"ok":false})");
    }
}

// ---- compact writer -------------------------------------------------------------------------------

std::string written(std::string_view text) {
    std::string out;
    json::write_string(text, out);
    return out;
}

std::string json_string(std::string_view inner) { return '"' + std::string(inner) + '"'; }

std::string escape_of(unsigned char c) {
    switch (c) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\b': return "\\b";
        case '\f': return "\\f";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        default: {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            return buffer;
        }
    }
}

// Answers are also held to json.dumps' escaping over random texts by the Python tests.
TEST(Writer, EscapesOnlyQuoteBackslashAndControls) {
    for (unsigned c = 0; c < 0x20; ++c) EXPECT_EQ(written(std::string(1, static_cast<char>(c))), json_string(escape_of(c))) << c;
    EXPECT_EQ(written("a/b</script>\x7f ñ € 😀 \u2028 \xc2\x85"), "\"a/b</script>\x7f ñ € 😀 \u2028 \xc2\x85\"");
}

// The scanner reads sixteen bytes at a time: a byte to escape must be found at every offset, before,
// inside and after a full block, and bytes above 0x7F must never be mistaken for controls.
TEST(Writer, FindsEscapesAtEveryOffset) {
    const std::string filler = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xff\x80 az/~";
    for (char special : {'"', '\\', '\x00', '\x1f', '\n'}) {
        for (std::size_t at = 0; at < 40; ++at) {
            std::string text;
            while (text.size() < 40) text += filler;
            text.resize(40);
            text[at] = special;
            const std::string expected = text.substr(0, at) + escape_of(static_cast<unsigned char>(special)) + text.substr(at + 1);
            EXPECT_EQ(written(text), json_string(expected)) << "byte " << int(special) << " at " << at;
        }
    }
}

// Texts dense with escapes (JSON carried inside JSON) against a byte-by-byte escaper, written after
// text already in the buffer so that room runs out at every point, and read back.
TEST(Writer, DenseEscapesMatchAByteByByteEscaper) {
    constexpr std::string_view alphabet[] = {"a", "\"", "\\", "\n", "\x01", "\xc3\xa9", " ", "{", "\x1f"};
    std::uint32_t state = 12345;
    const auto next = [&state] { return (state = state * 1103515245 + 12345) >> 8; };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        std::string expected = "\"";
        for (std::size_t n = next() % 160; n > 0; --n) {
            const std::string_view piece = alphabet[next() % std::size(alphabet)];
            text += piece;
            const auto c = static_cast<unsigned char>(piece[0]);
            expected += c == '"' || c == '\\' || c < 0x20 ? escape_of(c) : std::string(piece);
        }
        expected += '"';
        std::string out(next() % 40, '.');
        const std::string before = out;
        json::write_string(text, out);
        ASSERT_EQ(out, before + expected) << round;
        // ... and read back: the reader drops the backslashes of \" in blocks of 32 and 16 bytes.
        const auto read = json::from_text<std::string>(expected);
        ASSERT_TRUE(read) << round;
        ASSERT_EQ(*read, text) << round;
    }
}

// ---- answers for unusual input --------------------------------------------------------------------

// Descriptors keep the registry's order; a timeout shows only when an operation has one.
struct TableRegistry {
    static constexpr OpInfo table[] = {
        OpInfo{OpInfo::Kind::operation, "x.slow", true, 30},
        OpInfo::operation("x.fast", false),
        OpInfo::handler("x.hook"),
    };
    Routed dispatch(std::string_view, std::string_view) const { return std::nullopt; }
    std::span<const OpInfo> operations() const { return table; }
};

TEST(Call, DescribeWritesDescriptorsInRegistryOrder) {
    EXPECT_EQ(core::ffi::call(TableRegistry{}, "describe", ""),
              R"({"ok":true,"value":[{"idempotent":true,"kind":"operation","name":"x.slow","timeout_secs":30},)"
              R"({"idempotent":false,"kind":"operation","name":"x.fast"},{"kind":"handler","name":"x.hook"}]})");
}

std::string unknown_answer(std::string_view op) {
    return R"({"error":{"kind":"ffi","message":"unknown operation `)" + std::string(op) + R"(`","retryable":false},"ok":false})";
}

// Bytes that are not UTF-8 pass through untouched (the writer only escapes below 0x20, `"` and `\`),
// and megabyte names and messages are answered in full, on one line.
TEST(Call, InvalidUtf8AndMegabyteTextsStillAnswer) {
    const std::string bad = "\xc3\x28 \xff \xed\xa0\x80 \xf8\x88\x80\x80\x80";
    // The echoed name stays valid UTF-8: each stray byte becomes U+FFFD.
    EXPECT_EQ(core::ffi::call(TableRegistry{}, bad, bad),
              unknown_answer("\uFFFD( \uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"));
    EXPECT_EQ(core::ffi::call(FailingRegistry{Error::decode(bad)}, "op", bad),
              R"({"error":{"kind":"decode","message":")" + bad + R"(","retryable":false},"ok":false})");

    const std::string name(1 << 20, 'x');
    EXPECT_EQ(core::ffi::call(TableRegistry{}, name, name), unknown_answer(name));
    const std::string lines(1 << 20, '\n');
    std::string escaped;
    for (std::size_t i = 0; i < lines.size(); ++i) escaped += "\\n";
    EXPECT_EQ(core::ffi::call(FailingRegistry{Error::ffi(lines)}, "op", lines),
              R"({"error":{"kind":"ffi","message":")" + escaped + R"(","retryable":false},"ok":false})");
}

}  // namespace
