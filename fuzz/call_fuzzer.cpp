// The whole call path, as the host drives it: the first byte picks the operation name, the rest is
// the payload (call_input.hpp). Any answer that is not a well-formed envelope aborts the run
// (answer_check.hpp).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "answer_check.hpp"
#include "call_input.hpp"
#include "corvane_bo/qr/registry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = corvane_fuzz::split_call_input(data, size);
    if (!input) return 0;
    const std::string answer = corvane_bo_qr::call(input->op, input->payload);
    if (auto fault = corvane_fuzz::answer_fault(answer)) {
        std::fprintf(stderr, "op `%.*s`: %s\nanswer: %.*s\n", static_cast<int>(input->op.size()), input->op.data(),
                     fault->c_str(), static_cast<int>(answer.size() > 4000 ? 4000 : answer.size()), answer.data());
        std::abort();
    }
    return 0;
}
