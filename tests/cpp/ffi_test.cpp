// The call frame: the fault guard, the error objects in answers, the compact writer's escaping, and
// answers for inputs no Python host would send.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <ostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/json/value.hpp"
#include "corvane_bo/json/write.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;
namespace errors = corvane_bo_core::errors;
using core::Error;
using core::OpInfo;

// What a registry answers for a name it routes; the test registries speak the real one's type.
using Routed = decltype(std::declval<const corvane_bo_qr::QrOps&>().dispatch({}, {}));

// ---- fault guard ----------------------------------------------------------------------------------

struct RuntimeFault {
    [[noreturn]] static void raise() { throw std::runtime_error("boom"); }
};
struct OutOfMemory {
    [[noreturn]] static void raise() { throw std::bad_alloc(); }
};
struct NotAnException {
    [[noreturn]] static void raise() { throw 42; }
};

// A registry whose every entry point faults, so both "describe" and routed names hit the guard.
template <class Fault>
struct FaultyRegistry {
    Routed dispatch(std::string_view, std::string_view) const {
        Fault::raise();
        return std::nullopt;
    }
    std::span<const OpInfo> operations() const {
        Fault::raise();
        return {};
    }
};

template <class Fault>
class FaultGuard : public testing::Test {};
using Faults = testing::Types<RuntimeFault, OutOfMemory, NotAnException>;
TYPED_TEST_SUITE(FaultGuard, Faults);

TYPED_TEST(FaultGuard, FaultBecomesFfiError) {
    static_assert(core::Registry<FaultyRegistry<TypeParam>>);
    for (std::string_view op : {"qr.generate.build", "describe", "", "a`b"}) {
        EXPECT_EQ(core::ffi::call(FaultyRegistry<TypeParam>{}, op, "{}"),
                  R"({"error":{"kind":"ffi","message":"core panicked while handling `)" + std::string(op) +
                      R"(`","retryable":false},"ok":false})");
    }
}

TYPED_TEST(FaultGuard, VersionNeverTouchesTheRegistry) {
    EXPECT_EQ(core::ffi::call(FaultyRegistry<TypeParam>{}, "version", ""),
              R"({"ok":true,"value":{"core":"0.1.0","protocol":2}})");
}

// ---- error objects --------------------------------------------------------------------------------

struct ErrorCase {
    const char* label;
    Error error;
    std::string_view answer;
};

void PrintTo(const ErrorCase& error_case, std::ostream* out) { *out << error_case.label; }

core::ApiFieldError field_error(std::optional<std::string> field, std::string message,
                                std::optional<std::string> code) {
    return core::ApiFieldError{std::move(field), std::move(message), std::move(code)};
}

// Routes every name to one fixed error, so the answer shows exactly how `call` encodes it.
struct FailingRegistry {
    Error error;
    Routed dispatch(std::string_view, std::string_view) const { return std::unexpected(error); }
    std::span<const OpInfo> operations() const { return {}; }
};
static_assert(core::Registry<FailingRegistry>);

class ErrorObjects : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorObjects, AnswerHasExactKeysAndRetryable) {
    EXPECT_EQ(core::ffi::call(FailingRegistry{GetParam().error}, "op", ""), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ErrorObjects,
    testing::Values(
        ErrorCase{"validation", Error::validation("token", "an access token is required for this operation"),
                  R"({"error":{"field":"token","kind":"validation","message":"an access token is required for this operation","retryable":false},"ok":false})"},
        ErrorCase{"authentication", Error{errors::Authentication{401, "unauthorized"}},
                  R"({"error":{"kind":"authentication","message":"unauthorized","retryable":false,"status":401},"ok":false})"},
        ErrorCase{"api_retryable", Error{errors::Api{503, "busy", {}, true}},
                  R"({"error":{"errors":[],"kind":"api","message":"busy","retryable":true,"status":503},"ok":false})"},
        ErrorCase{"api_final",
                  Error{errors::Api{400, "rejected", {field_error("monto", "must be positive", "E01"),
                                                      field_error(std::nullopt, "bad", std::nullopt)},
                                    false}},
                  R"({"error":{"errors":[{"code":"E01","field":"monto","message":"must be positive"},{"code":null,"field":null,"message":"bad"}],"kind":"api","message":"rejected","retryable":false,"status":400},"ok":false})"},
        // The flag decides, not the status.
        ErrorCase{"api_flag_decides", Error{errors::Api{500, "", {}, false}},
                  R"({"error":{"errors":[],"kind":"api","message":"","retryable":false,"status":500},"ok":false})"},
        ErrorCase{"ambiguous", Error{errors::Ambiguous{"unclear", {field_error("x", "y", "z")}}},
                  R"({"error":{"errors":[{"code":"z","field":"x","message":"y"}],"kind":"ambiguous","message":"unclear","retryable":false},"ok":false})"},
        ErrorCase{"ambiguous_empty", Error{errors::Ambiguous{"", {}}},
                  R"({"error":{"errors":[],"kind":"ambiguous","message":"","retryable":false},"ok":false})"},
        ErrorCase{"decode", Error::decode("response has no `data` field"),
                  R"({"error":{"kind":"decode","message":"response has no `data` field","retryable":false},"ok":false})"},
        ErrorCase{"webhook_auth", Error::webhook_auth("bad signature"),
                  R"({"error":{"kind":"webhook_auth","message":"bad signature","retryable":false},"ok":false})"},
        ErrorCase{"ffi", Error::ffi(""), R"({"error":{"kind":"ffi","message":"","retryable":false},"ok":false})"},
        ErrorCase{"validation_empty", Error::validation("", ""),
                  R"({"error":{"field":"","kind":"validation","message":"","retryable":false},"ok":false})"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.label); });

// ---- compact writer -------------------------------------------------------------------------------

std::string written(std::string_view text) {
    std::string out;
    json::write_string(text, out);
    return out;
}

// Built by appending: GCC 12 at -O3 misreports `"..." + std::string` under -Wrestrict.
std::string json_string(std::string_view inner) {
    std::string out;
    out += '"';
    out += inner;
    out += '"';
    return out;
}

std::string control_escape(unsigned char c) {
    switch (c) {
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

TEST(Writer, EveryControlCharacterIsEscaped) {
    for (unsigned c = 0; c < 0x20; ++c) {
        EXPECT_EQ(written(std::string(1, static_cast<char>(c))), json_string(control_escape(c))) << c;
    }
}

TEST(Writer, EscapesOnlyQuoteBackslashAndControls) {
    EXPECT_EQ(written(R"(say "hi" \ now)"), R"("say \"hi\" \\ now")");
    EXPECT_EQ(written("a/b</script>"), "\"a/b</script>\"");
    EXPECT_EQ(written("\x7f"), "\"\x7f\"");
    EXPECT_EQ(written("ñ € 😀 \u2028 \xc2\x85"), "\"ñ € 😀 \u2028 \xc2\x85\"");
    EXPECT_EQ(written(std::string_view("a\0b", 3)), R"("a\u0000b")");
}

// The scanner reads sixteen bytes at a time: a byte to escape must be found at every offset, before,
// inside and after a full block, and bytes above 0x7F must never be mistaken for controls.
TEST(Writer, FindsEscapesAtEveryOffset) {
    const std::string filler = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xff\x80 az/~";
    for (char special : {'"', '\\', '\x00', '\x1f', '\n'}) {
        const std::string escaped = special == '"' ? "\\\"" : special == '\\' ? "\\\\" : control_escape(special);
        for (std::size_t at = 0; at < 40; ++at) {
            std::string text;
            while (text.size() < 40) text += filler;
            text.resize(40);
            text[at] = special;
            std::string expected = text.substr(0, at);
            expected += escaped;
            expected += text.substr(at + 1);
            EXPECT_EQ(written(text), json_string(expected)) << "byte " << int(special) << " at " << at;
        }
    }
}

TEST(Writer, LongPlainTextPassesThrough) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "plain text ñ/€ ";
    EXPECT_EQ(written(text), json_string(text));
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

constexpr std::string_view version_answer = R"({"ok":true,"value":{"core":"0.1.0","protocol":2}})";

TEST(Call, MetaOperationsIgnoreAnyPayload) {
    const std::string megabyte(1 << 20, '{');
    for (std::string_view payload : {std::string_view("\xff\xfe\xc3"), std::string_view("\xed\xa0\x80"),
                                     std::string_view(megabyte), std::string_view("\0", 1)}) {
        EXPECT_EQ(core::ffi::call(corvane_bo_qr::QrOps{}, "version", payload), version_answer);
        EXPECT_TRUE(core::ffi::call(corvane_bo_qr::QrOps{}, "describe", payload).starts_with(R"({"ok":true,"value":[)"));
    }
}

std::string unknown_answer(std::string_view op) {
    std::string out = R"({"error":{"kind":"ffi","message":"unknown operation `)";
    out += op;
    out += R"(`","retryable":false},"ok":false})";
    return out;
}

// Bytes that are not UTF-8 pass through untouched: the writer only escapes below 0x20, `"` and `\`.
TEST(Call, InvalidUtf8StillAnswers) {
    const std::string bad = "\xc3\x28 \xff \xed\xa0\x80 \xf8\x88\x80\x80\x80";
    EXPECT_EQ(core::ffi::call(TableRegistry{}, bad, bad), unknown_answer(bad));
    EXPECT_EQ(core::ffi::call(FailingRegistry{Error::decode(bad)}, "op", bad),
              R"({"error":{"kind":"decode","message":")" + bad + R"(","retryable":false},"ok":false})");
}

TEST(Call, MegabyteTextsStillAnswer) {
    const std::string name(1 << 20, 'x');
    EXPECT_EQ(core::ffi::call(TableRegistry{}, name, name), unknown_answer(name));

    const std::string lines(1 << 20, '\n');
    const std::string answer = core::ffi::call(FailingRegistry{Error::ffi(lines)}, "op", lines);
    EXPECT_EQ(answer.size(), std::string_view(R"({"error":{"kind":"ffi","message":"","retryable":false},"ok":false})").size() +
                                 2 * lines.size());
    EXPECT_EQ(answer.find('\n'), std::string::npos);
}

}  // namespace
