// The bank API's response envelope: every answer wraps its payload under `data`, with a success
// flag, a message and field errors. Opening a response judges the HTTP status first, then the envelope,
// and yields the operation's data record or one error that says whether a retry makes sense.
#pragma once

#include <concepts>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_bo/core/error.hpp"
#include "corvane_bo/core/http.hpp"
#include "corvane_bo/json/record.hpp"

namespace corvane_bo_core {

struct SuccessWire {
    std::optional<bool> success;
    std::optional<std::string> message;
    std::optional<corvane_bo_json::Value> data;
    std::vector<ApiFieldError> errors;

    // The api error of an envelope that reports failure: never retryable, whatever the status.
    Error into_error(const HttpResponse& response) &&;
};

// At most 200 characters of the trimmed body, or "empty response body".
std::string preview(std::string_view body);
// "request failed with HTTP <status>".
std::string failed(const HttpResponse& response);
// The first of `keys` holding a string that is not blank once trimmed, trimmed.
std::optional<std::string> text_field(const corvane_bo_json::Value& value, std::initializer_list<std::string_view> keys);
// The bank's own words from a JSON body, or else its preview.
std::string message_from_body(std::string_view body);

// The response body read as the envelope record `W`: 401 and 403 are authentication failures; an
// undecodable body is a decode error on 2xx and an api error otherwise.
template <class W>
Result<W> json_body(const HttpResponse& response);

template <>
Result<SuccessWire> json_body<SuccessWire>(const HttpResponse& response);

template <class E>
concept Envelope = requires(const HttpResponse& response, corvane_bo_json::TextStore& store) {
    { E::template open<corvane_bo_json::Value>(response, store) } -> std::same_as<Result<corvane_bo_json::Value>>;
};

// Where the `data` of an envelope read in one pass goes: straight into the caller's record.
template <class T>
struct DataTarget {
    T* record = nullptr;
    bool present = false;
};

// The codec of that target: as an optional record, null meaning absent.
template <class T>
struct DataInto {
    template <corvane_bo_json::source S>
    static corvane_bo_json::Decoded<void> read(S& s, DataTarget<T>& target) {
        auto null = corvane_bo_json::Source<S>::null(s);
        target.present = null && !*null;
        if (!null) return std::unexpected(std::move(null.error()));
        if (!target.present) return {};
        return corvane_bo_json::read(s, *target.record);
    }
};

// A text that must be read (and be valid) but is not kept: a successful envelope's message.
struct UnkeptText {};

// Its codec: a string or null, as an optional text would accept.
struct ReadUnkept {
    template <corvane_bo_json::source S>
    static corvane_bo_json::Decoded<void> read(S& s, UnkeptText&) {
        using source = corvane_bo_json::Source<S>;
        auto null = source::null(s);
        if (!null) return std::unexpected(std::move(null.error()));
        if (*null) return {};
        if (!source::is_string(source::peek(s))) return source::fail(s, "not a string");
        std::string scratch;
        std::string_view text;
        return source::name(s, scratch, text);
    }
};

// The envelope with its `data` read straight into a record T, in the same pass as the rest.
template <class T>
struct DataWire {
    std::optional<bool> success;
    UnkeptText message;
    DataTarget<T> data;
    std::vector<ApiFieldError> errors;
};

struct SuccessData {
    // The data record T of a successful response, read in one pass when all is well; any failure is
    // worded by the general path, which reads `data` from the decoded envelope.
    // The record may view the body and `store`.
    template <class T>
    static Result<T> open(const HttpResponse& response, corvane_bo_json::TextStore& store) {
        // One return of one object, so that the record is built where the caller receives it.
        Result<T> out{std::in_place};
        if (!read_well_formed(response, *out, store)) out = open_from_value<T>(response, store);
        return out;
    }

    template <class T>
    static Result<T> open_from_value(const HttpResponse& response, corvane_bo_json::TextStore& store) {
        auto wire = opened_data(response);
        if (!wire) return std::unexpected(std::move(wire.error()));
        auto record = corvane_bo_json::from_value<T>(std::move(*wire), store);
        if (!record) return std::unexpected(Error::decode("unexpected payload shape: " + record.error().message));
        return std::move(*record);
    }

    // Every step of opening but the reading of the record: the `data` value itself.
    static Result<corvane_bo_json::Value> opened_data(const HttpResponse& response);

    // Reads into `record` the data of a response that succeeds in every respect, without building the
    // `data` value first: nearly every response. False when anything at all is off; `open` then goes
    // the long way, which alone words the failure. The reader checks skipped values as strictly as the value
    // reader would, so this succeeds exactly when the long way does, with the same record.
    template <class T>
    static bool read_well_formed(const HttpResponse& response, T& record, corvane_bo_json::TextStore& store) {
        if (!response.is_success()) return false;
        corvane_bo_json::TextReader reader(response.body, &store);
        reader.check_skipped_values();
        DataWire<T> wire;
        wire.data.record = &record;
        if (!corvane_bo_json::read(reader, wire) || !reader.end()) return false;
        return wire.success != false && wire.data.present;
    }
};

static_assert(Envelope<SuccessData>);

}  // namespace corvane_bo_core

template <>
struct corvane_bo_json::Fields<corvane_bo_core::ApiFieldError> {
    using ApiFieldError = corvane_bo_core::ApiFieldError;
    static constexpr std::string_view name = "ApiFieldError";
    static constexpr auto list = std::tuple{
        field("field", &ApiFieldError::field),
        field("message", &ApiFieldError::message),
        field("code", &ApiFieldError::code),
    };
};

template <class T>
struct corvane_bo_json::Fields<corvane_bo_core::DataWire<T>> {
    using DataWire = corvane_bo_core::DataWire<T>;
    static constexpr std::string_view name = "SuccessWire";
    // `message` and `data` are read by codecs, so they must be marked defaulted to be missable from an
    // object; an array that leaves them off has no data and goes the general way, which refuses it.
    static constexpr auto list = std::tuple{
        field("success", &DataWire::success),
        field<corvane_bo_core::ReadUnkept>("message", &DataWire::message, defaulted),
        field<corvane_bo_core::DataInto<T>>("data", &DataWire::data, defaulted),
        field("errors", &DataWire::errors, defaulted),
    };
};

template <>
struct corvane_bo_json::Fields<corvane_bo_core::SuccessWire> {
    using SuccessWire = corvane_bo_core::SuccessWire;
    static constexpr std::string_view name = "SuccessWire";
    static constexpr auto list = std::tuple{
        field("success", &SuccessWire::success),
        field("message", &SuccessWire::message),
        field("data", &SuccessWire::data),
        field("errors", &SuccessWire::errors, defaulted),
    };
};
