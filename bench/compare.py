"""Native engine against the pure-Python baseline, on realistic payloads.

    python bench/compare.py                  # full run (about 30 rounds per operation)
    python bench/compare.py --quick          # CI smoke run, a few seconds
    python bench/compare.py --json out.json  # also write the numbers

First every payload of bench/payloads.py is run through both implementations
and the answers must be the same text, byte for byte; any difference stops the
run. Then each timed operation is measured in rounds: within a round the
columns (engine, baseline, floors) each run one batch of calls, sized so that
every batch lasts about as long, in an order that rotates from round to round.
Absolute speed on a shared machine drifts by up to 2x over seconds, so the
speed-up is the median of the per-round ratios baseline / engine, not a ratio
of two medians. Batches are timed in the thread's CPU time unless --wall.

Floors, to put the engine's time in proportion:
- "str": a builtin call producing a str of the answer's size (bytes.decode of
  the answer), the least any call returning that answer can cost;
- "json": json.loads of the payload and a sorted, compact json.dumps of it,
  what the standard library's C accelerator needs merely to read and rewrite
  the payload.
"""

from __future__ import annotations

import argparse
import gc
import json
import platform
import statistics
import sys
import time
from itertools import repeat
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import baseline  # noqa: E402
import payloads  # noqa: E402

try:
    from corvane_bo.qr import _native
except ImportError as exc:  # pragma: no cover - depends on the environment
    sys.exit(f"cannot import corvane_bo.qr._native ({exc}); build it first with `pip install .`")


def json_floor(_op: str, payload: str) -> str:
    return json.dumps(json.loads(payload), sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def check_identical(cases) -> None:
    mismatches = []
    for case in cases:
        ours = _native.call(case.op, case.payload)
        theirs = baseline.call(case.op, case.payload)
        if ours != theirs:
            mismatches.append((case, ours, theirs))
    for case, ours, theirs in mismatches:
        at = next((i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b), min(len(ours), len(theirs)))
        lo = max(0, at - 80)
        print(f"MISMATCH {case.label} ({case.op}), first difference at character {at}", file=sys.stderr)
        print(f"  engine:   …{ours[lo:at + 120]}", file=sys.stderr)
        print(f"  baseline: …{theirs[lo:at + 120]}", file=sys.stderr)
    if mismatches:
        sys.exit(f"{len(mismatches)} of {len(cases)} payloads answered differently; no timing done")
    print(f"identical answers on all {len(cases)} payloads")


# CPU time of this thread by default: the build and CI machines are shared, and
# wall time would charge the batch for whatever ran on the core meanwhile.
clock_ns = time.thread_time_ns


def batch_us(fn, a, b, n: int) -> float:
    """Mean time per call, in µs, of n calls fn(a, b)."""
    start = clock_ns()
    for _ in repeat(None, n):
        fn(a, b)
    return (clock_ns() - start) / n / 1000


def calibrate(fn, a, b, batch_ms: float) -> int:
    """Calls per batch so that one batch of fn takes about batch_ms."""
    n = 8
    while True:
        per_call = batch_us(fn, a, b, n)
        if per_call * n >= batch_ms * 250 or n >= 1 << 22:
            return max(8, round(batch_ms * 1000 / per_call))
        n *= 4


def measure(case, rounds: int, batch_ms: float) -> dict:
    answer = _native.call(case.op, case.payload)
    encoded = answer.encode()
    columns = {
        "module": (_native.call, case.op, case.payload),
        "baseline": (baseline.call, case.op, case.payload),
        "floor_str": (encoded.decode, "utf-8", "strict"),
        "floor_json": (json_floor, case.op, case.payload),
    }
    if case.op == "version":  # the meta operation only has its call floor
        del columns["baseline"], columns["floor_json"]
    names = list(columns)

    # Every column gets batches of about the same duration, so that all are
    # equally exposed to whatever else the machine is doing meanwhile.
    calls = {name: calibrate(*columns[name], batch_ms) for name in names}
    times = {name: [] for name in names}
    gc.collect()
    gc.disable()
    try:
        for r in range(rounds + 1):  # round 0 warms up and is dropped
            order = names[r % len(names):] + names[:r % len(names)]
            got = {name: batch_us(*columns[name], calls[name]) for name in order}
            if r:
                for name in names:
                    times[name].append(got[name])
    finally:
        gc.enable()

    result = {
        "label": case.label,
        "op": case.op,
        "payload_bytes": len(case.payload.encode()),
        "answer_bytes": len(encoded),
        "calls_per_batch": calls,
        "rounds": rounds,
        "target_us": case.target_us,
        "target_ratio": case.target_ratio,
    }
    for name in names:
        result[f"{name}_us"] = statistics.median(times[name])
    if "baseline" in times:
        ratios = [b / m for b, m in zip(times["baseline"], times["module"])]
        result["speedup"] = statistics.median(ratios)
        result["speedup_range"] = [min(ratios), max(ratios)]
    met = case.target_us is None or result["module_us"] <= case.target_us
    if case.target_ratio is not None:
        met = met and result.get("speedup", 0) >= case.target_ratio
    result["met"] = met
    return result


def target_text(result: dict) -> str:
    parts = []
    if result["target_us"] is not None:
        parts.append(f"≤ {result['target_us']:g} µs")
    if result["target_ratio"] is not None:
        parts.append(f"≥ {result['target_ratio']:g}x")
    return ", ".join(parts)


def print_table(results) -> None:
    def us(value):
        return "—" if value is None else f"{value:.3f}" if value < 10 else f"{value:.1f}"

    header = ("operation", "module µs", "baseline µs", "str floor", "json floor", "speed-up", "target", "")
    rows = [header]
    for r in results:
        speedup = r.get("speedup")
        rows.append((
            r["label"],
            us(r["module_us"]),
            us(r.get("baseline_us")),
            us(r["floor_str_us"]),
            us(r.get("floor_json_us")),
            "—" if speedup is None else f"{speedup:.1f}x",
            target_text(r),
            "ok" if r["met"] else "MISSED",
        ))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    for i, row in enumerate(rows):
        cells = [row[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(row[1:6], widths[1:6])]
        cells += [row[6].ljust(widths[6]), row[7]]
        print("  ".join(cells).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths).rstrip())


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="few rounds and short batches (CI smoke test)")
    parser.add_argument("--rounds", type=int, help="rounds per operation (default 30, 7 with --quick)")
    parser.add_argument("--batch-ms", type=float, help="time per batch in ms (default 3, 1 with --quick)")
    parser.add_argument("--json", metavar="PATH", help="write the measurements to PATH")
    parser.add_argument("--wall", action="store_true", help="time wall clock instead of the thread's CPU time")
    parser.add_argument("--strict", action="store_true", help="exit with status 1 when a target is missed")
    args = parser.parse_args(argv)
    global clock_ns
    if args.wall:
        clock_ns = time.perf_counter_ns
    rounds = args.rounds or (7 if args.quick else 30)
    batch_ms = args.batch_ms or (1.0 if args.quick else 3.0)

    check_identical(payloads.BENCH_CASES + payloads.CHECK_CASES)
    results = [measure(case, rounds, batch_ms) for case in payloads.BENCH_CASES]
    clock = "wall-clock" if args.wall else "thread CPU"
    print(f"\n{rounds} rounds per operation, batches of ≈ {batch_ms:g} ms {clock} time;"
          " µs per call are medians over rounds,")
    print("speed-up is the median of per-round baseline/engine ratios\n")
    print_table(results)

    if args.json:
        report = {
            "python": sys.version.split()[0],
            "machine": platform.machine(),
            "platform": platform.platform(),
            "rounds": rounds,
            "batch_ms": batch_ms,
            "clock": clock,
            "results": results,
        }
        Path(args.json).write_text(json.dumps(report, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    missed = [r["label"] for r in results if not r["met"]]
    if missed:
        print(f"\ntargets missed: {', '.join(missed)}")
    return 1 if args.strict and missed else 0


if __name__ == "__main__":
    sys.exit(main())
