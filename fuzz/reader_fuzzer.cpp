// The JSON foundation alone: the generic reader, and the record mapping over text and over decoded
// values for the records the protocol reads. Every input goes through every reader, so that their
// verdicts can be held against each other:
//   - a value that parses is written and read back to the same value, and its text is a fixed point;
//   - a record reader never accepts text that the generic reader refuses, except where a skipped
//     string holds a \u escape that would not pair up (only kept strings are held to pairing);
//   - a record that reads is written and read back to the same text;
//   - every failure is placed inside the text and can be described.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "corvane_bo/core/envelope.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/core/webhook.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/write.hpp"
#include "corvane_bo/qr/model.hpp"
#include "corvane_bo/qr/webhook.hpp"
#include "corvane_bo/qr/wire.hpp"

namespace {

namespace json = corvane_bo_json;
namespace core = corvane_bo_core;
namespace qr = corvane_bo_qr;

[[noreturn]] void fault(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "%.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size() > 4000 ? 4000 : detail.size()), detail.data());
    std::abort();
}

bool unpaired_escape(const json::DecodeError& error) {
    return error.message == json::message(json::Syntax::lone_leading_surrogate) ||
           error.message == json::message(json::Syntax::unexpected_end_of_hex_escape) ||
           error.message == json::message(json::Syntax::invalid_code_point);
}

void check_placed(const json::DecodeError& error, std::string_view text) {
    if (error.placed() && error.offset > text.size()) fault("failure placed past the end of the text", error.message);
    (void)error.describe(text);
}

template <class T>
void record_from_text(std::string_view text, const json::DecodeResult<json::Value>& generic) {
    json::TextStore store;
    auto record = json::from_text<T>(text, store);
    if (!record) {
        check_placed(record.error(), text);
        return;
    }
    if (!generic && !unpaired_escape(generic.error()))
        fault("a record reader accepted text that the generic reader refuses", generic.error().describe(text));
    const std::string written = json::to_json_text(*record);
    auto again = json::from_text<T>(written, store);
    if (!again) fault("a written record does not read back", again.error().describe(written) + "\n" + written);
    if (json::to_json_text(*again) != written) fault("a record changed on its way through text", written);
}

template <class T>
void record_from_value(const json::Value& value) {
    json::TextStore store;
    auto record = json::from_value<T>(json::Value(value), store);
    if (!record) {
        if (record.error().placed()) fault("a failure read from a value has a place", record.error().message);
        return;
    }
    (void)json::to_json_text(*record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto generic = json::parse(text);
    if (generic) {
        const std::string written = json::to_text(*generic);
        auto again = json::parse(written);
        if (!again) fault("written JSON does not parse", again.error().describe(written));
        if (!(*again == *generic)) fault("a value changed on its way through text", written);
        if (json::to_text(*again) != written) fault("writing is not a fixed point", written);
        record_from_value<qr::wire::Generated>(*generic);
        record_from_value<qr::wire::Status>(*generic);
        record_from_value<core::SuccessWire>(*generic);
        record_from_value<json::TextMap>(*generic);
    } else {
        check_placed(generic.error(), text);
    }

    record_from_text<core::Build<qr::GenerateQr>>(text, generic);
    record_from_text<core::Parse<qr::VerifyQr>>(text, generic);
    record_from_text<core::Parse<qr::CancelQr>>(text, generic);
    record_from_text<core::WebhookCall>(text, generic);
    record_from_text<qr::Wire>(text, generic);
    record_from_text<core::SuccessWire>(text, generic);
    record_from_text<json::TextMap>(text, generic);
    return 0;
}
