"""Native engine against the pure-Python baseline, on realistic payloads.

    python bench/compare.py                  # full run (about 30 rounds per operation)
    python bench/compare.py --quick          # CI smoke run, a few seconds
    python bench/compare.py --json out.json  # also write the numbers

First every payload of bench/payloads.py is run through the engine, the
baseline and the msgspec peer (bench/msgspec_peer.py, for the operations it
implements), and the answers must be the same text, byte for byte; any
difference stops the run. Then each timed operation is measured in rounds: within a round the
columns (engine, baseline, floors) each run one batch of calls, sized so that
every batch lasts about as long, in an order that rotates from round to round.
Absolute speed on a shared machine drifts by up to 2x over seconds, so the
speed-ups (baseline / engine, msgspec / engine) and the engine's multiple of
the str floor are medians of per-round ratios, not ratios of two medians. Batches are timed in the thread's CPU time unless --wall.

Floors, to put the engine's time in proportion:
- "str": one builtin call returning a str of the answer's size built from
  UTF-8 bytes (bytes.decode of the answer), the least any call returning that
  answer can cost;
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
    import msgspec_peer
except ImportError as exc:  # msgspec and orjson come with the `bench` extra
    msgspec_peer = None
    print(f"no msgspec column ({exc})", file=sys.stderr)

# Later targets, over every timed operation but "version": at least this speed-up over the
# msgspec peer, and at most this multiple of the str floor.
MSGSPEC_TARGET = 8.0
FLOOR_TARGET = 2.5

try:
    from corvane_bo.qr import _native
except ImportError as exc:  # pragma: no cover - depends on the environment
    sys.exit(f"cannot import corvane_bo.qr._native ({exc}); build it first with `pip install .`")


def json_floor(_op: str, payload: str) -> str:
    return json.dumps(json.loads(payload), sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def peers() -> dict:
    found = {"baseline": (baseline.call, None)}
    if msgspec_peer is not None:
        found["msgspec"] = (msgspec_peer.call, msgspec_peer.OPERATIONS)
    return found


def check_identical(cases) -> None:
    mismatches = []
    checked = {}
    for name, (call, operations) in peers().items():
        mine = [case for case in cases if operations is None or case.op in operations]
        checked[name] = len(mine)
        for case in mine:
            ours = _native.call(case.op, case.payload)
            theirs = call(case.op, case.payload)
            if ours != theirs:
                mismatches.append((name, case, ours, theirs))
    for name, case, ours, theirs in mismatches:
        at = next((i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b), min(len(ours), len(theirs)))
        lo = max(0, at - 80)
        print(f"MISMATCH {name}: {case.label} ({case.op}), first difference at character {at}", file=sys.stderr)
        print(f"  engine: …{ours[lo:at + 120]}", file=sys.stderr)
        print(f"  {name}: …{theirs[lo:at + 120]}", file=sys.stderr)
    if mismatches:
        sys.exit(f"{len(mismatches)} answers differed from the engine's; no timing done")
    print("identical answers: " + ", ".join(f"{name} on {n} payloads" for name, n in checked.items()))


def engine_kernels() -> str:
    """The string kernels the engine chose on this machine, and the machine."""
    return f"engine kernels: {_native.kernels} on {platform.machine()}"


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
        "msgspec": (msgspec_peer.call, case.op, case.payload) if msgspec_peer else None,
        "floor_str": (encoded.decode, "utf-8", "strict"),
        "floor_json": (json_floor, case.op, case.payload),
    }
    if case.op == "version":  # the meta operation only has its call floor
        del columns["baseline"], columns["floor_json"], columns["msgspec"]
    columns = {name: column for name, column in columns.items() if column is not None}
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
    def paired(key: str, over: str, under: str) -> None:
        if over in times and under in times:
            ratios = [o / u for o, u in zip(times[over], times[under])]
            result[key] = statistics.median(ratios)
            result[key + "_range"] = [min(ratios), max(ratios)]

    paired("speedup", "baseline", "module")
    paired("speedup_msgspec", "msgspec", "module")
    paired("over_floor_str", "module", "floor_str")
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

    def times(value):
        return "—" if value is None else f"{value:.1f}x" if value < 100 else f"{value:.0f}x"

    header = ("operation", "engine µs", "msgspec µs", "baseline µs", "str floor", "json floor",
              "vs baseline", "vs msgspec", "÷ str floor", "target", "")
    rows = [header]
    for r in results:
        rows.append((
            r["label"],
            us(r["module_us"]),
            us(r.get("msgspec_us")),
            us(r.get("baseline_us")),
            us(r["floor_str_us"]),
            us(r.get("floor_json_us")),
            times(r.get("speedup")),
            times(r.get("speedup_msgspec")),
            times(r.get("over_floor_str")),
            target_text(r),
            "ok" if r["met"] else "MISSED",
        ))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    for i, row in enumerate(rows):
        cells = [row[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(row[1:9], widths[1:9])]
        cells += [row[9].ljust(widths[9]), row[10]]
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

    print(engine_kernels())
    check_identical(payloads.BENCH_CASES + payloads.CHECK_CASES)
    results = [measure(case, rounds, batch_ms) for case in payloads.BENCH_CASES]
    clock = "wall-clock" if args.wall else "thread CPU"
    print(f"\n{rounds} rounds per operation, batches of ≈ {batch_ms:g} ms {clock} time;"
          " µs per call are medians over rounds,")
    print("speed-ups and the multiple of the str floor are medians of per-round ratios\n")
    print_table(results)
    later = [r["label"] for r in results if r["op"] != "version" and not (
        r.get("speedup_msgspec", 0) >= MSGSPEC_TARGET and r.get("over_floor_str", 1e9) <= FLOOR_TARGET)]
    print(f"\nlater targets (≥ {MSGSPEC_TARGET:g}x msgspec, ≤ {FLOOR_TARGET:g}x str floor)"
          f" not yet reached by: {', '.join(later) or 'none'}")

    if args.json:
        report = {
            "python": sys.version.split()[0],
            "machine": platform.machine(),
            "kernels": engine_kernels(),
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
