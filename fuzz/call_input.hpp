// How a call fuzz input is laid out: the first byte picks the operation name from `operation_names`
// (the real names, as "describe" lists them, then near misses that must be refused), the rest is the
// payload. Shared by the fuzz target, the hostile tests that replay its regressions, and make_seeds.py
// (which asks "describe" the same way and reads the near misses from here).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace corvane_fuzz {

// Keep one name per line: make_seeds.py reads the block between the markers.
// near-misses-begin
inline constexpr std::array<std::string_view, 11> near_misses = {
    "qr.generate.",
    "qr.verify.BUILD",
    "qr.cancel.parse.x",
    "qr.generate",
    "qr.generatex.build",
    "qr.webhook.parse.build",
    "qr.webhook.parsE",
    "Describe",
    "version ",
    "",
    "qr.verify.build\n",
};
// near-misses-end

// "describe", "version", each operation with each of its stages and each handler, in the order
// "describe" gives them, then the near misses. Read from "describe" once, at start-up.
inline const std::vector<std::string>& operation_names() {
    static const std::vector<std::string> names = [] {
        namespace json = corvane_bo_json;
        std::vector<std::string> out = {"describe", "version"};
        auto answer = json::parse(corvane_bo_qr::call("describe", ""));
        const json::Value* list = answer ? answer->get<json::Object>()->find("value") : nullptr;
        for (const json::Value& entry : *list->get<json::Array>()) {
            const json::Object& info = *entry.get<json::Object>();
            const std::string& name = *info.find("name")->get<std::string>();
            if (*info.find("kind")->get<std::string>() == "handler") {
                out.push_back(name);
            } else {
                out.push_back(name + ".build");
                out.push_back(name + ".parse");
            }
        }
        out.insert(out.end(), near_misses.begin(), near_misses.end());
        return out;
    }();
    return names;
}

struct CallInput {
    std::string_view op;
    std::string_view payload;
};

inline std::optional<CallInput> split_call_input(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return std::nullopt;
    const auto& names = operation_names();
    return CallInput{names[data[0] % names.size()],
                     std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)};
}

}  // namespace corvane_fuzz
