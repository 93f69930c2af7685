"""Calls leave nothing behind: after a warm-up, many calls of every operation, succeeding and
failing, keep the process's resident memory flat.

The volume is a million calls in all (about three seconds here): `CALLS` per entry of the traffic
below, which holds every operation and stage in both outcomes. Set CORVANE_MEMORY_CALLS to change
it. A leak of one answer per call shows as hundreds of megabytes; the bound leaves room for the
allocator's own drift. Exact leak checking of the C++ side is fuzz/leakcheck.sh (LeakSanitizer).
"""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from corvane_bo.qr._native import call
from samples import FAILING_CALLS, VALID_CALLS

TRAFFIC = VALID_CALLS + FAILING_CALLS
TOTAL_CALLS = int(os.environ.get("CORVANE_MEMORY_CALLS", "1000000"))
CALLS = max(1, TOTAL_CALLS // len(TRAFFIC))
GROWTH_LIMIT_MB = 20
STATM = Path("/proc/self/statm")

pytestmark = pytest.mark.skipif(not STATM.exists(), reason="reads resident memory from /proc")


def resident_mb() -> float:
    pages = int(STATM.read_text().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") / 2**20


def run(calls: int) -> None:
    for op, payload in TRAFFIC:
        expected = call(op, payload)
        for _ in range(calls):
            # Comparing keeps each answer alive until the next one, as a host would hold it.
            assert call(op, payload) == expected


def test_resident_memory_stays_flat():
    run(max(1, CALLS // 20))  # warm-up: allocator arenas, interned strings, code paths
    before = resident_mb()
    run(CALLS)
    grown = resident_mb() - before
    print(f"\n  {CALLS * len(TRAFFIC):,} calls: resident {before:.1f} MB -> {before + grown:.1f} MB "
          f"({grown:+.2f} MB)", end="")
    assert grown < GROWTH_LIMIT_MB


def test_large_answers_are_released():
    # A megabyte answer, and a megabyte input whose error quotes only its start: anything that stays
    # behind shows at once.
    text = "Ñ" + "x" * 1_000_000
    data = json.dumps({"data": {"numeroReferencia": "1", "estado": "PAGADO", "mensaje": text}})
    heavy = [
        ("qr.verify.parse", json.dumps({"input": {"reference": "1"}, "response": {"status": 200, "body": data}})),
        ("qr.verify.parse", json.dumps({"input": {"reference": "1"}, "response": {"status": 200,
                                                                                 "body": json.dumps(text)}})),
    ]
    assert len(call(*heavy[0])) > 1_000_000
    assert len(call(*heavy[1])) < 1_000
    before = resident_mb()
    for _ in range(300):
        for op, payload in heavy:
            call(op, payload)
    grown = resident_mb() - before
    print(f"\n  600 one-megabyte calls: resident {grown:+.2f} MB", end="")
    assert grown < GROWTH_LIMIT_MB
