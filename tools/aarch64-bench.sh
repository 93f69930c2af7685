#!/usr/bin/env bash
# Runs the speed benchmarks as built for aarch64, under qemu-user on this machine, and names the
# kernels the engine chose there: ops_bench and kernels_bench cross-compiled with Debian's
# aarch64-linux-gnu-g++, then bench/compare.py --quick on Debian's aarch64 CPython with the module
# cross-compiled against its headers. Emulated figures show the shape of the results (which kernels,
# which column wins), never an aarch64 machine's speed.
#
# Debian's aarch64 interpreter cannot be installed beside this machine's own (python3.11-minimal is not
# co-installable across architectures), so it and every library the benchmarks load are unpacked from
# Debian's arm64 packages into build/aarch64-bench/root, where qemu -L looks first. The only change to
# the system is arm64 in dpkg's architectures. msgspec and orjson come from PyPI's aarch64 wheels; the
# msgspec column is left out where they cannot be had.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/aarch64-bench
root="$PWD/$out/root"
python=python3.11  # Debian 12's
packages=(libc6 libgcc-s1 libstdc++6 libbenchmark1debian libbenchmark-dev
          "$python-minimal" "lib$python-minimal" "lib$python-stdlib" "lib$python-dev"
          libexpat1 zlib1g libssl3 libffi8 libbz2-1.0 liblzma5 libuuid1)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=300)
"${apt[@]}" install -y --no-install-recommends g++-aarch64-linux-gnu qemu-user >/dev/null
# Debian 12's CMake is older than the project needs.
python3 -m pip install -q "cmake>=3.26" ninja
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
    "${apt[@]}" update
fi

if [ ! -e "$root/.unpacked" ]; then
    echo "== unpacking Debian's arm64 interpreter and libraries into $out/root"
    rm -rf "$root" "$out/debs"
    mkdir -p "$root" "$out/debs"
    # (As root, apt's download sandbox user could not write here.)
    (cd "$out/debs" && apt-get download -qq -o APT::Sandbox::User="$(id -un)" "${packages[@]/%/:arm64}")
    for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
    touch "$root/.unpacked"
fi
if [ ! -e "$out/site/.installed" ]; then
    # The package's dependencies, then the benchmark's extra, as wheels for the emulated interpreter.
    rm -rf "$out/site"
    requirements() {
        python3 -c 'import sys, tomllib; p = tomllib.load(open("pyproject.toml", "rb"))["project"]
print("\n".join(p["optional-dependencies"][sys.argv[1]] if len(sys.argv) > 1 else p["dependencies"]))' "$@"
    }
    wheels=(python3 -m pip install -q --target "$out/site" --platform manylinux2014_aarch64
            --python-version "${python#python}" --implementation cp --only-binary=:all:)
    mapfile -t needed < <(requirements)
    "${wheels[@]}" "${needed[@]}"
    mapfile -t extra < <(requirements bench)
    if "${wheels[@]}" "${extra[@]}"; then
        touch "$out/site/.installed"
    else
        echo "no aarch64 wheels of the bench extra: no msgspec column" >&2
    fi
fi

echo "== building for aarch64"
emulator=(qemu-aarch64 -L "$root")
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=ON \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=$(IFS=';'; echo "${emulator[*]}")" \
    -Dbenchmark_DIR="$root/usr/lib/aarch64-linux-gnu/cmake/benchmark" >/dev/null
cmake --build "$out" -j 2 --target ops_bench kernels_bench corvane_qr
bash tools/link-module.sh "$out" aarch64-linux-gnu-g++ "$root/usr/include/$python" "$root/usr/include"
rm -rf "$out/package"
mkdir -p "$out/package"
cp -r python/corvane_bo "$out/package/"
cp "$out/_native.abi3.so" "$out/package/corvane_bo/qr/"

echo "== ops_bench (aarch64, under qemu)"
"${emulator[@]}" "$out/bench/ops_bench" --benchmark_min_time=0.05
echo "== kernels_bench (aarch64, under qemu)"
"${emulator[@]}" "$out/bench/kernels_bench" --rounds 200
echo "== bench/compare.py --quick (aarch64 $python, under qemu)"
PYTHONPATH="$out/package:$out/site" "${emulator[@]}" "$root/usr/bin/$python" bench/compare.py --quick
