#!/usr/bin/env bash
# The fuzzing step of CI: builds both fuzz targets with clang (installing clang-19 when none fits),
# replays every committed regression and seed through both, then fuzzes the call path for
# FUZZ_SECONDS (default 60) from the seeds. Exits non-zero on any crash, leak, timeout or malformed
# answer. A finding is left in <build>/artifacts/ and copied to fuzz/regressions/ for committing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FUZZ_BUILD:-$root/build/fuzz-ci}
seconds=${FUZZ_SECONDS:-60}

# shellcheck source=common.sh
. "$here/common.sh"
cxx=$(corvane_ensure_clang)
echo "fuzz: building with $cxx"
corvane_build_fuzzers "$root" "$build" "$cxx"

failed=0
for target in call reader; do
    mkdir -p "$here/regressions/$target"
    if "$build/fuzz/${target}_fuzzer" -runs=0 "$here/regressions/$target" "$here/seeds/$target" \
        >"$build/replay-$target.log" 2>&1; then
        echo "fuzz: replayed $(find "$here/regressions/$target" "$here/seeds/$target" -type f | wc -l) $target regressions and seeds"
    else
        echo "fuzz: replaying $target regressions FAILED:"
        tail -40 "$build/replay-$target.log"
        failed=1
    fi
done

# A fresh working corpus each time, so that CI starts from the committed seeds alone.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if FUZZ_BUILD="$build" FUZZ_WORK="$work" FUZZ_ARTIFACTS="$build/artifacts" "$here/run.sh" "$seconds" call; then
    echo "fuzz: $seconds s of the call fuzzer found nothing"
else
    echo "fuzz: the call fuzzer found something:"
    tail -60 "$build/artifacts/call.log"
    failed=1
fi
exit $failed
