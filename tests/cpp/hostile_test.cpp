// Input no Python host can send, and the fuzzers' findings kept as regressions.
//
// Python only hands the core valid UTF-8, so malformed UTF-8 is tried from here: it must be refused
// wherever it sits (kept strings, skipped strings, keys, header maps, webhook bodies, bank bodies),
// with a placed error, and never copied into an answer, which must stay valid UTF-8 JSON.
#include <gtest/gtest.h>

#include "corvane_bo/json/record.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../../fuzz/answer_check.hpp"
#include "../../fuzz/call_input.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace {

namespace json = corvane_bo_json;

// Malformed sequences, each with a well-formed one of the same length for the control case.
struct Sequence {
    std::string_view name;
    std::string bad;
};

const std::vector<Sequence>& malformed() {
    static const std::vector<Sequence> list = {
        {"lone continuation byte", "\x80"},
        {"continuation run", "\xBF\xBF"},
        {"overlong slash (2 bytes)", "\xC0\xAF"},
        {"overlong C1 lead", "\xC1\xBF"},
        {"overlong 3 bytes", "\xE0\x80\xAF"},
        {"overlong 4 bytes", "\xF0\x80\x80\xAF"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"FF byte", "\xFF"},
        {"FE byte", "\xFE"},
        {"two-byte lead before ASCII", "\xC3("},
        {"three-byte lead cut short", "\xE2\x82("},
        {"four-byte lead cut short", "\xF0\x9F\x98("},
        {"Latin-1 text", "Ni\xF1o"},
    };
    return list;
}

constexpr std::string_view config = R"("config":{"client_id":"m","base_url":"https://bank.test"})";
constexpr std::string_view token = R"("token":{"access_token":"t","token_type":"Bearer","expires_at":1})";

// Places `x` in one spot of an otherwise valid payload. Every payload with "é" in place of `x` is
// accepted past decoding, which the control test checks.
struct Placement {
    std::string_view name;
    std::string_view op;
    std::string (*payload)(std::string_view x);
};

const std::vector<Placement>& placements() {
    static const std::vector<Placement> list = {
        {"kept string", "qr.verify.build",
         [](std::string_view x) {
             return "{" + std::string(config) + "," + std::string(token) + R"(,"input":{"reference":"1)" +
                    std::string(x) + "\"}}";
         }},
        {"skipped string", "qr.verify.build",
         [](std::string_view x) {
             return "{" + std::string(config) + "," + std::string(token) + R"(,"note":[{"a":"x)" + std::string(x) +
                    R"("}],"input":{"reference":"1"}})";
         }},
        {"object key", "qr.cancel.build",
         [](std::string_view x) {
             return "{" + std::string(config) + "," + std::string(token) + R"(,"k)" + std::string(x) +
                    R"(":1,"input":{"reference":"1"}})";
         }},
        {"header name", "qr.webhook.parse",
         [](std::string_view x) {
             return R"({"headers":{"K":"v","h)" + std::string(x) +
                    R"(":"1"},"body":"{\"numeroReferencia\":\"1\",\"monto\":1,\"estado\":\"x\"}","key":"K","value":"v"})";
         }},
        {"header value", "qr.webhook.parse",
         [](std::string_view x) {
             return R"({"headers":{"K":"v)" + std::string(x) +
                    R"("},"body":"{\"numeroReferencia\":\"1\",\"monto\":1,\"estado\":\"x\"}","key":"K","value":"v"})";
         }},
        {"webhook body", "qr.webhook.parse",
         [](std::string_view x) {
             return R"({"headers":{"K":"v"},"body":"{\"numeroReferencia\":\"1)" + std::string(x) +
                    R"(\",\"monto\":1,\"estado\":\"x\"}","key":"K","value":"v"})";
         }},
        {"bank body", "qr.verify.parse",
         [](std::string_view x) {
             return R"({"input":{"reference":"1"},"response":{"status":500,"body":"<html>)" + std::string(x) +
                    R"(</html>"}})";
         }},
    };
    return list;
}

std::string answer_of(std::string_view op, std::string_view payload) { return corvane_bo_qr::call(op, payload); }

void expect_well_formed(std::string_view answer, const std::string& context) {
    const auto fault = corvane_fuzz::answer_fault(answer);
    EXPECT_FALSE(fault.has_value()) << context << ": " << fault.value_or("") << "\n" << answer;
}

TEST(InvalidUtf8, RefusedWhereverItSits) {
    for (const auto& where : placements()) {
        {
            const std::string answer = answer_of(where.op, where.payload("\xC3\xA9"));
            expect_well_formed(answer, std::string(where.name) + " with valid UTF-8");
            EXPECT_EQ(answer.find("invalid payload"), std::string::npos) << where.name << ": " << answer;
        }
        for (const auto& sequence : malformed()) {
            const std::string context = std::string(where.name) + ", " + std::string(sequence.name);
            const std::string payload = where.payload(sequence.bad);
            const std::string answer = answer_of(where.op, payload);
            expect_well_formed(answer, context);
            EXPECT_TRUE(answer.starts_with(R"({"error":{"kind":"ffi","message":"invalid payload: )"))
                << context << ": " << answer;
            EXPECT_NE(answer.find(" at line 1 column "), std::string::npos) << context << ": " << answer;
        }
    }
}

TEST(InvalidUtf8, CutAtTheEndOfTheInput) {
    // The text ends inside a multi-byte sequence, inside a string that never closes.
    for (std::string_view cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
        const std::string payload = R"({"headers":{"K":")" + std::string(cut);
        const std::string answer = answer_of("qr.webhook.parse", payload);
        expect_well_formed(answer, "cut sequence");
        EXPECT_TRUE(answer.starts_with(R"({"error":{"kind":"ffi","message":"invalid payload: )")) << answer;
    }
}

TEST(InvalidUtf8, OutsideStringsIsNotAValue) {
    for (const auto& sequence : malformed()) {
        const std::string answer = answer_of("qr.cancel.build", "{" + std::string(config) + "," + sequence.bad + "}");
        expect_well_formed(answer, std::string(sequence.name));
        EXPECT_TRUE(answer.starts_with(R"({"error":{"kind":"ffi","message":"invalid payload: )")) << answer;
    }
}

TEST(InvalidUtf8, MetaOperationsIgnoreThePayload) {
    for (const auto& sequence : malformed()) {
        expect_well_formed(answer_of("version", sequence.bad), "version");
        expect_well_formed(answer_of("describe", sequence.bad), "describe");
    }
}

TEST(InvalidUtf8, ReaderPlacesTheFailureOnTheBadByte) {
    // The reader stands on the first byte of the bad sequence, so the column counts the bytes before it.
    for (const auto& sequence : malformed()) {
        const std::string text = "[\"ab" + sequence.bad + "\"]";
        const auto parsed = json::parse(text);
        ASSERT_FALSE(parsed.has_value()) << sequence.name;
        const std::size_t first_bad = sequence.bad.starts_with("Ni") ? 6 : 4;
        EXPECT_EQ(parsed.error().describe(text), "invalid UTF-8 in string at line 1 column " + std::to_string(first_bad))
            << sequence.name;
    }
}

TEST(Nesting, DeepInputFailsWithoutExhaustingTheStack) {
    // Far deeper than any stack would survive if nesting were followed by recursion.
    const std::string deep_arrays(1 << 20, '[');
    std::string deep_objects;
    for (int i = 0; i < 200000; ++i) deep_objects += "{\"a\":";
    for (const std::string* text : std::vector<const std::string*>{&deep_arrays, &deep_objects}) {
        const auto parsed = json::parse(*text);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error().message, "recursion limit exceeded");
        for (std::string_view op : {"qr.generate.build", "qr.verify.parse", "qr.webhook.parse"})
            expect_well_formed(answer_of(op, *text), std::string(op));
    }
}

// The op name is echoed into "unknown operation" and "unknown stage" messages; a C++ caller that
// passes broken UTF-8 must still get a UTF-8 JSON answer (Python's str is always valid UTF-8).
TEST(InvalidUtf8, InTheOperationNameIsNotEchoed) {
    expect_well_formed(answer_of("qr.verify.\xFF", "{}"), "bad stage");
    expect_well_formed(answer_of("\xC3(", "{}"), "bad operation name");
}

// Network texts reach messages only bounded: a megabyte body or amount is quoted up to 200 characters.
TEST(Messages, QuoteAtMostTwoHundredCharactersOfTheInput) {
    const std::string body = "\"" + std::string(1 << 20, 'a') + "\"";
    const std::string parse = R"({"input":{"reference":"1"},"response":{"status":200,"body":)" +
                              corvane_bo_json::to_json_text(body) + "}}";
    const std::string quoted = std::string(200, 'a') + "…";
    EXPECT_EQ(answer_of("qr.verify.parse", parse),
              R"({"error":{"kind":"decode","message":"invalid JSON body: invalid type: string \")" + quoted +
                  R"(\", expected struct SuccessWire at line 1 column 1048578","retryable":false},"ok":false})");
    const std::string notice = R"({"numeroReferencia":"1","monto":")" + std::string(1 << 20, '9') + "x\"}";
    const std::string call = R"({"headers":{"K":"v"},"key":"K","value":"v","body":)" +
                             corvane_bo_json::to_json_text(notice) + "}";
    const std::string answer = answer_of("qr.webhook.parse", call);
    EXPECT_LT(answer.size(), 400u);
    EXPECT_NE(answer.find("invalid amount `" + std::string(200, '9') + "…`: Failed to parse"), std::string::npos);
}

std::filesystem::path fuzz_directory() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";
}

std::vector<std::string> files_in(const std::filesystem::path& directory) {
    std::vector<std::string> out;
    if (!std::filesystem::is_directory(directory)) return out;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        out.emplace_back((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }
    return out;
}

// The core keeps no state, so calls running truly in parallel (no interpreter lock here) must each
// get the answer a lone call gets. The fuzz seeds are the traffic: every operation and outcome.
TEST(Concurrency, ParallelCallsAnswerAsALoneCallDoes) {
    struct Call {
        std::string op, payload, answer;
    };
    std::vector<Call> traffic;
    for (const std::string& bytes : files_in(fuzz_directory() / "seeds" / "call")) {
        const auto input = corvane_fuzz::split_call_input(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                          bytes.size());
        if (input) traffic.push_back({std::string(input->op), std::string(input->payload), {}});
    }
    if (traffic.empty()) GTEST_SKIP() << "no fuzz seeds";
    for (auto& c : traffic) c.answer = answer_of(c.op, c.payload);

    constexpr int threads = 8;
    constexpr int rounds = 20;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round)
                for (std::size_t i = 0; i < traffic.size(); ++i) {
                    const Call& c = traffic[(i + static_cast<std::size_t>(t) * 17) % traffic.size()];
                    if (answer_of(c.op, c.payload) != c.answer) ++mismatches[t];
                }
        });
    }
    for (auto& worker : workers) worker.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// Every input any fuzzer ever failed on stays here; a new finding is a file dropped into
// fuzz/regressions/<target>/ (fuzz/run.sh does that), and this test then fails until it is fixed.
TEST(FuzzRegressions, CallAnswersStayWellFormed) {
    for (const std::string& bytes : files_in(fuzz_directory() / "regressions" / "call")) {
        const auto input = corvane_fuzz::split_call_input(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                          bytes.size());
        if (input) expect_well_formed(answer_of(input->op, input->payload), std::string(input->op));
    }
}

}  // namespace
