// Every operation end to end through `corvane_bo_qr::call`, as the binding runs it: payload text in,
// answer text out. The payloads are those of bench/payloads.py.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace corvane_bench {
std::string generate_build();
std::string generate_parse(std::size_t qr_size);
std::string verify_parse();
std::string webhook_parse();
}  // namespace corvane_bench

namespace {

void run(benchmark::State& state, std::string_view op, const std::string& payload) {
    // A wrong answer would time the failure path: insist on success first.
    const std::string answer = corvane_bo_qr::call(op, payload);
    if (!answer.starts_with(R"({"ok":true)")) {
        state.SkipWithError(("not a success: " + answer.substr(0, 200)).c_str());
        return;
    }
    for (auto _ : state) {
        auto text = corvane_bo_qr::call(op, payload);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (payload.size() + answer.size())));
    state.SetLabel(std::to_string(payload.size()) + " B in, " + std::to_string(answer.size()) + " B out");
}

void version(benchmark::State& state) { run(state, "version", ""); }
void generate_build(benchmark::State& state) { run(state, "qr.generate.build", corvane_bench::generate_build()); }
void generate_parse_200_b_qr(benchmark::State& state) {
    run(state, "qr.generate.parse", corvane_bench::generate_parse(200));
}
void generate_parse_12_kb_qr(benchmark::State& state) {
    run(state, "qr.generate.parse", corvane_bench::generate_parse(12288));
}
void verify_parse(benchmark::State& state) { run(state, "qr.verify.parse", corvane_bench::verify_parse()); }
void webhook_parse(benchmark::State& state) { run(state, "qr.webhook.parse", corvane_bench::webhook_parse()); }

BENCHMARK(version);
BENCHMARK(generate_build);
BENCHMARK(generate_parse_200_b_qr);
BENCHMARK(generate_parse_12_kb_qr);
BENCHMARK(verify_parse);
BENCHMARK(webhook_parse);

}  // namespace

// BENCHMARK_MAIN's body, with the string kernels in the report's header: they differ per machine.
int main(int argc, char** argv) {
    benchmark::AddCustomContext("kernels", std::string(corvane_bo_json::scan::active_implementation()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
