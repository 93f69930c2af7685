# Shared by run.sh and ci.sh (sourced): choosing a clang and building the fuzz targets.

# libstdc++ 12's <expected> is only there when __cpp_concepts >= 202002L, which clang reports from
# version 19 on; clang-14 compiles none of this code. Prints the first clang++ that qualifies.
corvane_pick_clang() {
    local cxx
    for cxx in ${FUZZ_CXX:-} clang++-22 clang++-21 clang++-20 clang++-19 clang++; do
        command -v "$cxx" >/dev/null 2>&1 || continue
        if printf '#include <expected>\nint main() { std::expected<int, int> e = 1; return *e - 1; }\n' |
            "$cxx" -std=c++23 -x c++ - -fsyntax-only 2>/dev/null; then
            echo "$cxx"
            return 0
        fi
    done
    return 1
}

# Installs Debian's clang-19 with its libFuzzer runtime when no usable clang is there (CI machines
# start without one). Needs root and apt.
corvane_ensure_clang() {
    local cxx
    # A clang may be there without its sanitizer and libFuzzer runtime (the platform builds install
    # clang-19 alone): it only counts when a fuzz target links.
    if cxx=$(corvane_pick_clang) && printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' |
        "$cxx" -x c++ - -fsanitize=fuzzer,address -o /dev/null 2>/dev/null; then
        echo "$cxx"
        return 0
    fi
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "installing clang-19, libclang-rt-19-dev and llvm-19 (the symbolizer)" >&2
        apt-get update -qq >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            clang-19 libclang-rt-19-dev llvm-19 >&2 && corvane_pick_clang && return 0
    fi
    echo "no clang with libstdc++'s std::expected; install one: apt-get install clang-19 libclang-rt-19-dev" >&2
    return 1
}

# corvane_build_fuzzers ROOT BUILD_DIR CXX: configures and builds both fuzz targets.
corvane_build_fuzzers() {
    cmake -S "$1" -B "$2" -DCORVANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$3" >/dev/null
    cmake --build "$2" -j"$(nproc)" --target call_fuzzer reader_fuzzer >/dev/null
}
