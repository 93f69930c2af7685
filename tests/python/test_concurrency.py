"""Eight threads calling every operation at once get exactly the answers one thread gets.

The binding holds the interpreter lock for a whole call, so calls interleave between one another
rather than inside; the switch interval is shortened to make that interleaving as fine as it gets.
The core keeps no state between calls, and this is what would show if it ever did (a shared buffer,
a cache, a static scratch string).
"""

from __future__ import annotations

import sys
import threading

from corvane_bo.qr._native import call
from samples import FAILING_CALLS, VALID_CALLS

THREADS = 8
ROUNDS = 300
TRAFFIC = VALID_CALLS + FAILING_CALLS + [
    ("qr.verify.parse", '{"input":{"reference":"1"},"response":{"status":500,"body":"' + "é" * 5000 + '"}}'),
    ("qr.webhook.parse", '{"headers":{' + ",".join(f'"h{i}":"{i}"' for i in range(2000)) + '},"body":"{}",'
                         '"key":"h1999","value":"1999"}'),
]


def test_threads_get_the_single_thread_answers():
    expected = [call(op, payload) for op, payload in TRAFFIC]
    barrier = threading.Barrier(THREADS)
    mismatches: list[str] = []
    lock = threading.Lock()

    def worker(offset: int) -> None:
        barrier.wait()
        for round_ in range(ROUNDS):
            # Each thread walks the traffic from its own starting point so different operations overlap.
            for step in range(len(TRAFFIC)):
                index = (offset + round_ + step) % len(TRAFFIC)
                op, payload = TRAFFIC[index]
                answer = call(op, payload)
                if answer != expected[index]:
                    with lock:
                        mismatches.append(f"{op}: {answer[:200]}")

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=worker, args=(i * 3,)) for i in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert not mismatches, mismatches[:5]
