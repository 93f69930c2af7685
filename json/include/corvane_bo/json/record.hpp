// Declarative record mapping. A record declares its JSON form once, as a field table:
//
//     template <> struct corvane_bo_json::Fields<VerifyQr> {
//         static constexpr std::string_view name = "VerifyQr";
//         static constexpr auto list = std::tuple{
//             field("kind", &VerifyQr::kind, defaulted),
//             field("reference", &VerifyQr::reference),
//         };
//     };
//
// and generic code reads it from JSON text (failures placed in the text) or from an already decoded
// `Value` (failures without place), one reader over either source (record_read.hpp), and writes it as
// compact JSON with its keys in byte order (record_write.hpp).
//
// Reading, for every record alike: an object's unknown keys are skipped (their values must still be
// valid JSON); a key seen twice fails "duplicate field" (an alias counts as its field); at the
// closing brace the first missing required field in declaration order fails "missing field"; a
// std::optional member accepts null as absent and is absent when missing. An array holds the fields
// in declaration order; only `defaulted` fields may be left off its end.
#pragma once

#include "corvane_bo/json/fields.hpp"
#include "corvane_bo/json/record_read.hpp"
#include "corvane_bo/json/record_write.hpp"
#include "corvane_bo/json/text_map.hpp"
