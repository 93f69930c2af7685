// The building blocks every operation runs through: string scanning, record decoding, the compact
// writer and the amount reader and writer. Targets: scanning a long plain string at 2 GB/s or more,
// decoding a generate build payload into its record in under 1 µs.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "corvane_bo/core/amount.hpp"
#include "corvane_bo/core/decimal.hpp"
#include "corvane_bo/core/operation.hpp"
#include "corvane_bo/json/record.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/json/text_reader.hpp"
#include "corvane_bo/json/write.hpp"
#include "corvane_bo/qr/model.hpp"

namespace corvane_bench {
std::string qr_image(std::size_t size, std::uint64_t seed);
std::string generate_build();
}  // namespace corvane_bench

namespace {

namespace json = corvane_bo_json;
namespace core = corvane_bo_core;
namespace qr = corvane_bo_qr;

// A Base64 QR image as a JSON string with its closing quote: what the bank sends under `qr`.
std::string quoted_image(std::size_t size) { return corvane_bench::qr_image(size, 7) + "\""; }

void scan_plain_string(benchmark::State& state) {
    const std::string text = quoted_image(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const char* p = text.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(json::scan::to_string_special(p, p + text.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(scan_plain_string)->Arg(200)->Arg(12288);

// The reader's string token: a view into the text, no copy, for a string without escapes.
void read_plain_string(benchmark::State& state) {
    const std::string text = quoted_image(static_cast<std::size_t>(state.range(0)));
    std::string scratch;
    for (auto _ : state) {
        json::TextReader reader(text);
        std::string_view view;
        auto done = reader.string(scratch, view);
        benchmark::DoNotOptimize(done);
        benchmark::DoNotOptimize(view);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(read_plain_string)->Arg(200)->Arg(12288);

// A long string that is kept: the reader's copy into a record member.
void read_plain_string_into(benchmark::State& state) {
    const std::string text = quoted_image(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        json::TextReader reader(text);
        std::string out;
        auto done = reader.string_into(out);
        benchmark::DoNotOptimize(done);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(read_plain_string_into)->Arg(12288);

// A response body as the host embeds it in a payload: every inner quote escaped.
void read_escaped_string(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += R"(\"numeroReferencia\": \"104820017\", )";
    text += '"';
    std::string scratch;
    for (auto _ : state) {
        json::TextReader reader(text);
        std::string_view view;
        auto done = reader.string(scratch, view);
        benchmark::DoNotOptimize(done);
        benchmark::DoNotOptimize(view);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(read_escaped_string);

void decode_generate_build(benchmark::State& state) {
    const std::string payload = corvane_bench::generate_build();
    for (auto _ : state) {
        json::TextStore store;
        auto build = json::from_text<core::Build<qr::GenerateQr>>(payload, store);
        benchmark::DoNotOptimize(build);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
    state.SetLabel(std::to_string(payload.size()) + " B");
}
BENCHMARK(decode_generate_build);

void skip_value(benchmark::State& state) {
    const std::string payload = corvane_bench::generate_build();
    for (auto _ : state) {
        json::TextReader reader(payload);
        auto done = reader.skip_value();
        benchmark::DoNotOptimize(done);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(skip_value);

void parse_value(benchmark::State& state) {
    const std::string payload = corvane_bench::generate_build();
    for (auto _ : state) {
        auto value = json::parse(payload);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(parse_value);

// ---- writer ----------------------------------------------------------------------------------------

void write_plain_string(benchmark::State& state) {
    const std::string text = corvane_bench::qr_image(static_cast<std::size_t>(state.range(0)), 7);
    std::string out;
    out.reserve(text.size() + 16);
    for (auto _ : state) {
        out.clear();
        json::write_string(text, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(write_plain_string)->Arg(200)->Arg(12288);

void write_generated_qr(benchmark::State& state) {
    const qr::GeneratedQr result{
        .kind = qr::QrKind::simple,
        .reference = "104820017",
        .merchant_reference = "TE-10482",
        .status = corvane_bo_qr::PaymentStatus::pending,
        .raw_status = "PENDIENTE",
        .expires_at = "2025-03-14 10:57:00",
        .currency = "BOB",
        .amount = *core::Decimal::parse("150.5"),
        .qr_image_base64 = corvane_bench::qr_image(static_cast<std::size_t>(state.range(0)), 7),
    };
    std::string out;
    for (auto _ : state) {
        out.clear();
        json::write_json(result, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(write_generated_qr)->Arg(200)->Arg(12288);

void write_value(benchmark::State& state) {
    const auto value = json::parse(corvane_bench::generate_build());
    std::string out;
    for (auto _ : state) {
        out.clear();
        json::write(*value, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(write_value);

// ---- amounts ---------------------------------------------------------------------------------------

void read_amount(benchmark::State& state) {
    const std::string_view texts[] = {"150.50", "0.5", "1e3", "79228162514264337593543950335"};
    const std::string_view text = texts[state.range(0)];
    for (auto _ : state) {
        auto amount = core::read_amount(text);
        benchmark::DoNotOptimize(amount);
    }
    state.SetLabel(std::string(text));
}
BENCHMARK(read_amount)->DenseRange(0, 3);

void append_amount(benchmark::State& state) {
    const std::string_view texts[] = {"150.5", "0.05", "79228162514264337593543950335"};
    const core::Decimal amount = *core::Decimal::parse(texts[state.range(0)]);
    std::string out;
    out.reserve(64);
    for (auto _ : state) {
        out.clear();
        amount.append_to(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(std::string(texts[state.range(0)]));
}
BENCHMARK(append_amount)->DenseRange(0, 2);

// The amount codec the records use: the plain amounts every payload carries take its short path,
// anything else the decimal reader above.
void read_amount_field(benchmark::State& state) {
    const std::string_view texts[] = {R"("150.50")", "150.50", "1.5e2"};
    const std::string_view text = texts[state.range(0)];
    for (auto _ : state) {
        json::TextReader reader(text);
        core::Decimal amount;
        auto done = core::amount::Required::read(reader, amount);
        benchmark::DoNotOptimize(done);
        benchmark::DoNotOptimize(amount);
    }
    state.SetLabel(std::string(text));
}
BENCHMARK(read_amount_field)->DenseRange(0, 2);

void serialize_amount(benchmark::State& state) {
    const std::string_view texts[] = {"150.50", "0.05", "79228162514264337593543950335"};
    const core::Decimal amount = *core::Decimal::parse(texts[state.range(0)]);
    std::string out;
    out.reserve(64);
    for (auto _ : state) {
        out.clear();
        json::Writer::append_to(out, 0, [&amount](json::Writer& writer) { core::amount::serialize(amount, writer); });
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(std::string(texts[state.range(0)]));
}
BENCHMARK(serialize_amount)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
