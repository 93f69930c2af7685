"""Payment notifications delivered in the background, retried with backoff, every attempt recorded."""

from __future__ import annotations

import heapq
import threading
import time
from collections.abc import Callable
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, replace
from datetime import datetime
from urllib.parse import urlsplit

from ..transport import HttpRequest, UrllibTransport
from .records import Delivery
from .store import Notification, Store

__all__ = ["Notifier", "RetryPolicy", "deliverable"]


@dataclass(frozen=True)
class RetryPolicy:
    """How hard the bank tries: ``attempts`` in all, waiting ``backoff`` seconds doubled after each failure."""

    attempts: int = 5
    backoff: float = 1.0
    max_wait: float = 60.0
    timeout: float = 5.0  # for one attempt

    def wait(self, attempt: int) -> float:
        return float(min(self.max_wait, self.backoff * 2 ** (attempt - 1)))


def deliverable(url: str) -> bool:
    """Whether the bank would post to ``url``: http(s) with a host, nothing else."""
    try:
        parts = urlsplit(url.strip())
    except ValueError:
        return False
    return parts.scheme.lower() in ("http", "https") and bool(parts.hostname)


class Notifier:
    """Posts notifications from its own threads, so that no API request waits for a merchant's endpoint."""

    def __init__(self, store: Store, policy: RetryPolicy, clock: Callable[[], datetime],
                 workers: int = 4) -> None:
        self._store, self._policy, self._clock = store, policy, clock
        self._due: list[tuple[float, int, Notification]] = []
        self._first: dict[int, Future[Delivery]] = {}
        self._changed = threading.Condition()
        self._stopping = False
        self._pool = ThreadPoolExecutor(workers, thread_name_prefix="corvane-sandbox-notify")
        for pending in store.pending():  # left over from before a restart
            self._schedule(pending, 0.0)
        self._thread = threading.Thread(target=self._run, name="corvane-sandbox-notifier", daemon=True)
        self._thread.start()

    def send(self, reference: str, target: dict[str, str], body: str) -> Future[Delivery]:
        """Queue a notification; the future holds the outcome of its first attempt."""
        number = self._store.notify(reference, target, body)
        first: Future[Delivery] = Future()
        with self._changed:
            self._first[number] = first
        self._schedule(Notification(number, reference, target, body, 0), 0.0)
        return first

    def close(self) -> None:
        """Stop; notifications still owed stay in the store for the next start."""
        with self._changed:
            self._stopping = True
            self._changed.notify_all()
        self._thread.join()
        self._pool.shutdown(wait=True, cancel_futures=True)

    def _schedule(self, notification: Notification, delay: float) -> None:
        with self._changed:
            heapq.heappush(self._due, (time.monotonic() + delay, notification.id, notification))
            self._changed.notify_all()

    def _run(self) -> None:
        while True:
            with self._changed:
                while not self._stopping and (not self._due or self._due[0][0] > time.monotonic()):
                    self._changed.wait(self._due[0][0] - time.monotonic() if self._due else None)
                if self._stopping:
                    return
                _, _, notification = heapq.heappop(self._due)
            self._pool.submit(self._attempt, notification)

    def _attempt(self, notification: Notification) -> None:
        number = notification.attempts + 1
        delivery = self._post(notification, number)
        final = (delivery.delivered or number >= self._policy.attempts
                 or not deliverable(notification.target.get("url", "")))
        self._store.attempted(notification.id, delivery, final)
        with self._changed:
            first = self._first.pop(notification.id, None)
        if first is not None:
            first.set_result(delivery)
        if not final:
            self._schedule(replace(notification, attempts=number), self._policy.wait(number))

    def _post(self, notification: Notification, number: int) -> Delivery:
        target, body = notification.target, notification.body
        url = target.get("url", "").strip()
        outcome = Delivery(url, body, reference=notification.reference, attempt=number,
                           at=self._clock().isoformat())
        if not deliverable(url):
            return replace(outcome, error="not an http(s) URL")
        request = HttpRequest("POST", url, {target.get("key", ""): target.get("value", ""),
                                            "Content-Type": "application/json"}, body)
        try:
            response = UrllibTransport(timeout=self._policy.timeout)(request)
        except Exception as exc:  # whatever went wrong is this attempt's outcome
            return replace(outcome, error=f"{type(exc).__name__}: {exc}"[:300])
        return replace(outcome, status=response.status, excerpt=response.body[:200])
