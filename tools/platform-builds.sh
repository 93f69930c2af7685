#!/usr/bin/env bash
# Builds and runs the C++ suites on the configurations beside the everyday one, each set up with plain
# CMake toolchain variables as a user's own toolchain would be:
#   aarch64  cross-compiled with Debian's aarch64-linux-gnu-g++, run under qemu-user;
#   clang    Clang 19 with libc++;
#   portable -DCORVANE_PORTABLE=ON on this machine, whose libraries must then hold no AVX2 or SSSE3
#            instruction.
# Only the test targets are built. `tools/platform-builds.sh [aarch64|clang|portable ...]` runs some.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        g++-aarch64-linux-gnu qemu-user googletest clang-19 libc++-19-dev libc++abi-19-dev binutils >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
configurations=("$@")
[ ${#configurations[@]} -gt 0 ] || configurations=(aarch64 clang portable)

for configuration in "${configurations[@]}"; do
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TESTS=ON -DCORVANE_WERROR=ON)
    case "$configuration" in
        aarch64) flags+=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64
                         -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++
                         "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64;-L;/usr/aarch64-linux-gnu") ;;
        # (GoogleTest built from source is a C and C++ project: its C compiler must take the flags too.)
        clang) flags+=(-DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_CXX_FLAGS=-stdlib=libc++
                       -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++) ;;
        portable) flags+=(-DCORVANE_PORTABLE=ON) ;;
        *) echo "unknown configuration: $configuration" >&2; exit 2 ;;
    esac
    dir="build/platform-$configuration"
    echo "== $configuration"
    cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs" --target corvane_tests decimal_probe unicode_probe
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure
    if [ "$configuration" = aarch64 ]; then
        # The binding against the interpreter's limited-API headers, linked as the module would be.
        include=$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
        cmake --build "$dir" -j "$jobs" --target corvane_qr
        bash tools/link-module.sh "$dir" aarch64-linux-gnu-g++ "$include"
        aarch64-linux-gnu-objdump -f "$dir/_native.abi3.so" | grep architecture
        # Its header comparison keeps no branch on the compared bytes.
        python3 bench/timing_webhook.py "$dir/_native.abi3.so"
    fi
    if [ "$configuration" = portable ]; then
        # Any ymm register is AVX; these mnemonics are SSSE3's.
        if objdump -d "$dir"/libcorvane_*.a | grep -E '%ymm|\b(v?pshufb|v?palignr|v?phaddw|v?phaddd|v?pabs[bwd]|v?psign[bwd]|v?pmaddubsw|v?pmulhrsw)\b' | head -5 | grep .; then
            echo "the portable libraries hold vector instructions beyond SSE2" >&2
            exit 1
        fi
        echo "portable libraries: no AVX2 or SSSE3 instruction"
    fi
done
