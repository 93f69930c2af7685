// Each built implementation of the string kernels on the texts they meet: a 12 KB Base64 image, a
// 2 KB body full of \" (a JSON text carried in a JSON string), and 200 bytes of Spanish text. Needs
// no benchmark library, so that it also runs on a cross build (under an emulator, where the figures
// are only a sanity check). `kernels_bench [--rounds N]`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corvane_bo/json/scan.hpp"

namespace scan = corvane_bo_json::scan;

namespace {

volatile std::size_t sink;

template <class F>
double nanoseconds_per_call(int rounds, F f) {
    // The best of several batches: interruptions only ever add time.
    double best = 1e30;
    for (int batch = 0; batch < 7; ++batch) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) f();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / rounds);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2000;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) rounds = std::atoi(argv[2]);
    std::string image(12288, 'A');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7) % 64];
    std::string body;
    while (body.size() < 2048) body += "\\\"qrId\\\":\\\"QR-7F3A-2024\\\",\\\"amount\\\":\\\"150.50\\\",";
    std::string spanish;
    while (spanish.size() < 200) spanish += "Pago de la cuota de junio, señora Muñoz: ¡gracias! ";
    spanish.resize(200);
    std::vector<char> out(16384 + 64);

    std::printf("%-22s %14s %14s %14s %14s\n", "ns per call", "scan 12 KB", "unescape 2 KB", "escape 2 KB", "scan 200 B es");
    for (const scan::Kernels& k : scan::implementations()) {
        const auto drain = [&](scan::Copied (*kernel)(const char*, const char*, char*, char*) noexcept,
                               const std::string& text) {
            // The callers' loop: a kernel, then a byte the slow way where it stopped.
            const char* p = text.data();
            const char* end = p + text.size();
            char* w = out.data();
            while (p < end) {
                const scan::Copied c = kernel(p, end, w, out.data() + out.size() - 8);
                if (c.p == p) {
                    if (*p == '\\' && kernel == k.copy_unescaping) ++p;
                    *c.w = *p++;
                    w = c.w + 1;
                } else {
                    p = c.p;
                    w = c.w;
                }
            }
            sink = static_cast<std::size_t>(w - out.data());
        };
        const double scan_image = nanoseconds_per_call(rounds, [&] {
            sink = static_cast<std::size_t>(k.to_string_special(image.data(), image.data() + image.size()) - image.data());
        });
        const double unescape = nanoseconds_per_call(rounds, [&] { drain(k.copy_unescaping, body); });
        const double escape = nanoseconds_per_call(rounds, [&] { drain(k.copy_escaping_quotes, body); });
        const double accents = nanoseconds_per_call(rounds * 10, [&] {
            const char* p = spanish.data();
            const char* end = p + spanish.size();
            while ((p = k.to_string_special(p, end)) != end) ++p;
            sink = static_cast<std::size_t>(p - spanish.data());
        });
        std::printf("%-22.22s %14.1f %14.1f %14.1f %14.1f\n", std::string(k.name).c_str(), scan_image, unescape, escape, accents);
    }
    std::printf("active: %s\n", std::string(scan::active_implementation()).c_str());
}
