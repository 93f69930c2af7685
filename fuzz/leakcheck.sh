#!/usr/bin/env bash
# The C++ tests and the fuzz regressions under AddressSanitizer, LeakSanitizer and UBSan, with GCC.
#
#   fuzz/leakcheck.sh        (about 3 to 5 minutes on two cores, most of it building)
#
# Builds everything with CORVANE_SANITIZE (ASan + UBSan, which brings LeakSanitizer on Linux) into
# build/leakcheck, then runs the GoogleTest suite and the fuzz targets' replay programs over the
# committed seeds and regressions. Any leak, memory error or undefined behaviour ends the process
# that saw it with a report, and this script with a non-zero status.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${LEAKCHECK_BUILD:-$root/build/leakcheck}

# -O1 keeps the sanitizers' reports readable and the tests quick enough.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
      -DCORVANE_SANITIZE=ON -DCORVANE_TESTS=ON -DCORVANE_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target corvane_tests call_replay reader_replay

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=report_objects=1

echo "leakcheck: GoogleTest suite"
"$build/tests/cpp/corvane_tests" --gtest_brief=1
for target in call reader; do
    echo "leakcheck: $target regressions and seeds"
    "$build/fuzz/${target}_replay" "$here/regressions/$target" "$here/seeds/$target"
done
echo "leakcheck: no leak, memory error or undefined behaviour"
