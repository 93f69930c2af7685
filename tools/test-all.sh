#!/usr/bin/env bash
# Installs everything the tests need on a fresh Debian machine, then runs every test: the C++ suites
# (also under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer), the differential checks
# against Python's decimal and unicodedata, the Python suites and the type check.
set -euo pipefail
cd "$(dirname "$0")/.."

# What is being done, before each step: the builds and the tests run for minutes.
step() { printf '==> %s\n' "$*" >&2; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if command -v apt-get >/dev/null; then
    step "installing Debian packages (compilers, CMake, GoogleTest)"
    # An install cut off half way (a machine stopped mid-run) leaves dpkg refusing every later one until
    # it is finished; finishing it is a no-op on a sound machine.
    DEBIAN_FRONTEND=noninteractive $sudo dpkg --configure -a
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        g++ cmake ninja-build libgtest-dev libbenchmark-dev chromium chromium-driver >/dev/null
fi

step "installing Python build and test tools"
python3 -m pip install -q --upgrade pip >/dev/null
python3 -m pip install -q scikit-build-core cmake ninja pytest hypothesis mypy segno
step "building and installing the package (its compile steps are shown)"
python3 -m pip install -v --no-build-isolation --config-settings=build-dir=build/wheel ".[test]"

jobs=$(nproc 2>/dev/null || echo 2)
for variant in release sanitize; do
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TESTS=ON -DCORVANE_WERROR=ON)
    [ "$variant" = sanitize ] && flags+=(-DCORVANE_SANITIZE=ON)
    step "building the C++ suites ($variant)"
    cmake -S . -B "build/test-$variant" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "build/test-$variant" -j "$jobs"
    step "running the C++ suites ($variant)"
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "build/test-$variant" -j "$jobs" --output-on-failure
done

step "building and running the C++ suites for aarch64 (under qemu), with Clang and libc++, and portable"
bash tools/platform-builds.sh

step "type-checking the Python package"
python3 -m mypy --strict python/corvane_bo
step "running the Python suites"
# Run from outside the checkout so that the installed package is the one imported.
(cd tests/python && python3 -m pytest -q -p no:cacheprovider .)
step "checking the installed module's header comparison for branches on the compared bytes"
python3 bench/timing_webhook.py
