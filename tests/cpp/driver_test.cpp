// The two-stage driver and the handler driver, seen through whole answers: stage routing, payload
// decoding in both record forms, and how the token reaches the header builder.
#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/core/webhook.hpp"
#include "corvane_bo/json/record.hpp"

namespace {

struct Note {
    std::string text;
};

// What the parse stage saw, so that an answer shows what reached the operation.
struct Noted {
    std::string text;
    std::uint16_t status = 0;
    std::string body;
};

}  // namespace

template <>
struct corvane_bo_json::Fields<Note> {
    static constexpr std::string_view name = "Note";
    static constexpr auto list = std::tuple{field("text", &Note::text)};
};

template <>
struct corvane_bo_json::Fields<Noted> {
    static constexpr std::string_view name = "Noted";
    static constexpr auto list =
        std::tuple{field("text", &Noted::text), field("status", &Noted::status), field("body", &Noted::body)};
};

namespace {

namespace core = corvane_bo_core;
namespace json = corvane_bo_json;

struct PostNote {
    static constexpr std::string_view name = "t.note";
    using Input = Note;
    using Output = Noted;

    static core::Result<core::HttpRequest> request(const core::Ctx& ctx, const Note& note) {
        auto headers = ctx.api_headers();
        if (!headers) return std::unexpected(std::move(headers.error()));
        return core::HttpRequest{core::Method::POST, ctx.config.url("notes"), std::move(*headers), json::to_json_text(note)};
    }
    static core::Result<Noted> parse(const Note& note, const core::HttpResponse& response) {
        return Noted{note.text, response.status, response.body};
    }
};
static_assert(core::Operation<PostNote>);

// Authenticates the call, then answers its body.
struct ReadHook {
    static constexpr std::string_view name = "t.hook";
    using Input = core::WebhookCall;
    using Output = Note;

    static core::Result<Note> handle(const core::WebhookCall& call) {
        if (auto auth = call.authenticate(); !auth) return std::unexpected(std::move(auth.error()));
        return Note{call.body};
    }
};
static_assert(core::Handler<ReadHook>);

struct TestOps {
    static constexpr core::OpInfo table[] = {core::OpInfo::operation("t.note", false), core::OpInfo::handler("t.hook")};

    std::optional<core::Outcome> dispatch(std::string_view op, std::string_view payload) const {
        if (op == ReadHook::name) return core::ffi::run_handler<ReadHook>(payload);
        if (op.starts_with("t.note.")) return core::ffi::run<PostNote>(op.substr(7), payload);
        return std::nullopt;
    }
    std::span<const core::OpInfo> operations() const { return table; }
};
static_assert(core::Registry<TestOps>);

std::string ffi_error(std::string_view message) {
    return R"({"error":{"kind":"ffi","message":")" + std::string(message) + R"(","retryable":false},"ok":false})";
}

constexpr std::string_view config = R"({"client_id":"c","base_url":"https://h/"})";
constexpr std::string_view token = R"({"access_token":"T","token_type":"Bearer","expires_at":-1})";
constexpr std::string_view built =
    R"({"ok":true,"value":{"body":"{\"text\":\"hi\"}","headers":{"Accept":"application/json","Authorization":"Bearer T",)"
    R"("Content-Type":"application/json","access_token":"T","client_id":"c"},"method":"POST","url":"https://h/notes"}})";
constexpr std::string_view no_token =
    R"({"error":{"field":"token","kind":"validation","message":"an access token is required for this operation","retryable":false},"ok":false})";

std::string text(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (auto part : parts) out += part;
    return out;
}

struct AnswerCase {
    std::string op;
    std::string payload;
    std::string answer;
};

void expect_answers(std::span<const AnswerCase> cases) {
    for (const auto& c : cases)
        EXPECT_EQ(core::ffi::call(TestOps{}, c.op, c.payload), c.answer) << c.op << " " << c.payload;
}

TEST(Driver, StageIsCheckedBeforeThePayload) {
    const AnswerCase cases[] = {
        {"t.note.", "not json", ffi_error("unknown stage `` for `t.note`")},
        {"t.note.BUILD", "{", ffi_error("unknown stage `BUILD` for `t.note`")},
        {"t.note.build.x", "", ffi_error("unknown stage `build.x` for `t.note`")},
        {"t.note. parse", "{}", ffi_error("unknown stage ` parse` for `t.note`")},
        {"t.note", "{}", ffi_error("unknown operation `t.note`")},
    };
    expect_answers(cases);
}

TEST(Driver, PayloadFailuresArePlacedInTheText) {
    const AnswerCase cases[] = {
        {"t.note.parse", "{}", ffi_error("invalid payload: missing field `input` at line 1 column 2")},
        {"t.note.build", "{}", ffi_error("invalid payload: missing field `config` at line 1 column 2")},
        {"t.note.parse", R"({"input":{"text":"a"}})", ffi_error("invalid payload: missing field `response` at line 1 column 22")},
        {"t.note.build", "", ffi_error("invalid payload: EOF while parsing a value at line 1 column 0")},
        {"t.note.parse", " \n ", ffi_error("invalid payload: EOF while parsing a value at line 2 column 1")},
        {"t.note.build", text({R"({"config":)", config, R"(,"input":{"text":"hi"}})", "\n x"}),
         ffi_error("invalid payload: trailing characters at line 2 column 2")},
        {"t.note.build", R"({"config":null,"input":{"text":"hi"}})",
         ffi_error("invalid payload: invalid type: null, expected struct Config at line 1 column 14")},
        {"t.note.build", R"("build")", ffi_error(R"(invalid payload: invalid type: string \"build\", expected struct Build at line 1 column 7)")},
        {"t.note.parse", R"({"input":{"text":"a"},"input")", ffi_error("invalid payload: duplicate field `input` at line 1 column 29")},
        // A token that is there must be a whole token.
        {"t.note.build", text({R"({"config":)", config, R"(,"token":{"token_type":"Bearer","expires_at":0},"input":{"text":"hi"}})"}),
         ffi_error("invalid payload: missing field `access_token` at line 1 column 98")},
        // Array forms: too few elements, or one too many.
        {"t.note.build", R"([{"client_id":"c"},null])",
         ffi_error("invalid payload: invalid length 2, expected struct Build with 3 elements at line 1 column 24")},
        {"t.note.build", R"([{"client_id":"c"},null,{"text":"hi"},1])",
         ffi_error("invalid payload: trailing characters at line 1 column 39")},
        {"t.note.parse", R"([{"text":"hi"}])",
         ffi_error("invalid payload: invalid length 1, expected struct Parse with 2 elements at line 1 column 15")},
    };
    expect_answers(cases);
}

TEST(Driver, TokenAbsentOrNullReachesTheHeaderBuilder) {
    const std::string shared = text({R"({"response":{"status":503,"body":"busy"},"config":)", config, R"(,"token":)", token,
                                     R"(,"input":{"text":"hi"},"extra":[{}]})"});
    const AnswerCase cases[] = {
        {"t.note.build", text({R"({"config":)", config, R"(,"input":{"text":"hi"}})"}), std::string(no_token)},
        {"t.note.build", text({R"({"config":)", config, R"(,"token":null,"input":{"text":"hi"}} )", "\t\r\n"}),
         std::string(no_token)},
        {"t.note.build", text({R"({"input":{"text":"hi"},"token":)", token, R"(,"config":)", config, "}"}), std::string(built)},
        // One object serves both stages; the status is the operation's to judge, not the driver's.
        {"t.note.build", shared, std::string(built)},
        {"t.note.parse", shared, R"({"ok":true,"value":{"body":"busy","status":503,"text":"hi"}})"},
        {"t.note.build", text({"[", config, R"(,null,{"text":"hi"}])"}), std::string(no_token)},
        {"t.note.build", text({"[", config, ",", token, R"(,{"text":"hi"}])"}), std::string(built)},
        {"t.note.parse", R"([{"text":"hi"},{"status":200,"body":""}])", R"({"ok":true,"value":{"body":"","status":200,"text":"hi"}})"},
    };
    expect_answers(cases);
}

TEST(Driver, HandlerDecodesItsInputAndPassesErrorsThrough) {
    const std::string call = R"({"headers":{"x-key":"s"},"body":"paid","key":"X-Key","value":"s"})";
    const AnswerCase cases[] = {
        {"t.hook", call, R"({"ok":true,"value":{"text":"paid"}})"},
        {"t.hook", "", ffi_error("invalid payload: EOF while parsing a value at line 1 column 0")},
        {"t.hook", call + " {}", ffi_error("invalid payload: trailing characters at line 1 column 67")},
        {"t.hook", R"({"headers":{"x-key":5},"body":"","key":"k","value":"v"})",
         ffi_error("invalid payload: invalid type: integer `5`, expected a string at line 1 column 21")},
        {"t.hook", R"({"headers":{"X-Key":"bad","x-key":"s"},"body":"paid","key":"X-Key","value":"s"})",
         R"({"error":{"kind":"webhook_auth","message":"`X-Key` header does not match","retryable":false},"ok":false})"},
    };
    expect_answers(cases);
}

}  // namespace
