#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them.
#
#   fuzz/run.sh SECONDS [call|reader|all]     (default: all, one after the other)
#
# Environment: FUZZ_JOBS (parallel fuzzing processes per target, default 1), FUZZ_BUILD (build folder,
# default build/fuzz), FUZZ_CXX (a clang++ to use), FUZZ_ARGS (extra libFuzzer flags), FUZZ_WORK
# (working corpus folder, default fuzz/corpus-work), FUZZ_ARTIFACTS (findings and logs, default
# fuzz/artifacts).
#
# New inputs go to the working corpus, fuzz/corpus-work/<target>/ (not committed). Findings are written to
# fuzz/artifacts/<target>/ and copied to fuzz/regressions/<target>/, which ctest and ci.sh replay:
# every crash ever found stays a regression test. Exits non-zero when a run found anything.
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh SECONDS [call|reader|all]}
which=${2:-all}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FUZZ_BUILD:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-1}

# shellcheck source=common.sh
. "$here/common.sh"
cxx=$(corvane_ensure_clang)
corvane_build_fuzzers "$root" "$build" "$cxx"

case "$which" in
    all) targets=(call reader) ;;
    call | reader) targets=("$which") ;;
    *) echo "unknown target: $which" >&2; exit 2 ;;
esac

status=0
for target in "${targets[@]}"; do
    work=${FUZZ_WORK:-$here/corpus-work}/$target
    artifacts=${FUZZ_ARTIFACTS:-$here/artifacts}/$target
    mkdir -p "$work" "$artifacts" "$here/regressions/$target"
    corpora=("$work" "$here/seeds/$target" "$here/regressions/$target")
    dict=()
    if [ "$target" = call ]; then
        dict=(-dict="$here/call.dict")
    else
        # The reader also starts from the JSON conformance corpus when the shared data is there.
        shared=$root/../shared/data/json-conformance
        [ -d "$shared" ] && corpora+=("$shared")
    fi
    parallel=()
    [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
    log=$artifacts.log
    echo "fuzzing $target for ${seconds}s with $jobs job(s), log $log"
    set +e
    # shellcheck disable=SC2086
    (cd "$artifacts" && "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" -timeout=10 -rss_limit_mb=2048 "${dict[@]}" "${parallel[@]}" ${FUZZ_ARGS:-} \
        "${corpora[@]}") >"$log" 2>&1
    rc=$?
    set -e
    if [ "$jobs" -gt 1 ]; then cat "$artifacts"/fuzz-*.log >>"$log" 2>/dev/null || true; fi
    grep -aE '^#[0-9]+[[:space:]]+(DONE|INITED)|stat::number_of_executed_units|stat::peak_rss_mb' "$log" | tail -4 || true
    found=0
    for finding in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
        [ -e "$finding" ] || continue
        cp "$finding" "$here/regressions/$target/"
        echo "finding kept as regression: fuzz/regressions/$target/$(basename "$finding")"
        found=1
    done
    if [ $rc -ne 0 ] || [ $found -ne 0 ]; then status=1; fi
done
exit $status
