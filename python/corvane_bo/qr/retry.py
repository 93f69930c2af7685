"""Retry timing and the judging of transport failures.

Backoff is exponential with jitter and bounded; a ``Retry-After`` from the
bank is honoured up to a cap.  A transport failure is judged by what it
proves: only a failure that happened before the request could leave (no
connection was made) shows that the bank did not act on it.
"""

from __future__ import annotations

import http.client
import random
import socket
import time
import urllib.error
from collections.abc import Callable
from dataclasses import dataclass
from email.utils import parsedate_to_datetime

import httpcore
import httpx

__all__ = ["RetryPolicy", "is_network_failure", "never_sent", "parse_retry_after"]


@dataclass(frozen=True)
class RetryPolicy:
    """How often and how long to wait before sending a request again.

    Attempt ``n`` (counting retries from 0) waits a random time between half
    and all of ``min(max_delay, base_delay * 2**n)``, so clients that failed
    together do not come back together.  A ``Retry-After`` from the bank
    replaces that wait when longer, up to ``max_retry_after`` seconds.
    Waits count against the call's deadline: a wait that would pass it is
    not taken, and the last failure is raised instead.
    """

    max_retries: int = 2
    base_delay: float = 0.25
    max_delay: float = 8.0
    max_retry_after: float = 60.0

    def __post_init__(self) -> None:
        if self.max_retries < 0:
            raise ValueError("max_retries must not be negative")
        if self.base_delay < 0 or self.max_delay < 0 or self.max_retry_after < 0:
            raise ValueError("delays must not be negative")

    @property
    def attempts(self) -> int:
        return 1 + self.max_retries

    def delay(
        self,
        retry: int,
        retry_after: float | None = None,
        rng: Callable[[], float] = random.random,
    ) -> float:
        ceiling = min(self.max_delay, self.base_delay * (2.0 ** min(retry, 64)))
        wait = ceiling / 2.0 + rng() * ceiling / 2.0
        if retry_after is not None:
            wait = max(wait, min(retry_after, self.max_retry_after))
        return wait


# Longer texts are not read: twelve digits already exceed any cap, and no
# HTTP date is this long.
_MAX_DIGITS = 12
_MAX_DATE = 64


def parse_retry_after(value: str | None, now: float | None = None) -> float | None:
    """Seconds to wait from a ``Retry-After`` header, or None.

    Either a number of seconds (ASCII digits; a longer run than any cap
    reads as infinite, to be capped by the policy) or an HTTP date, taken
    against ``now`` (the wall clock by default) and never negative.
    Anything else is ignored.
    """
    if value is None:
        return None
    text = value.strip()
    if text.isascii() and text.isdigit():
        return float(int(text)) if len(text) <= _MAX_DIGITS else float("inf")
    if not text or len(text) > _MAX_DATE:
        return None
    try:
        when = parsedate_to_datetime(text)
    except (TypeError, ValueError, IndexError, OverflowError):
        return None
    current = time.time() if now is None else now
    try:
        return max(0.0, when.timestamp() - current)
    except (OverflowError, OSError, ValueError):
        return None


# Failures raised before a request could leave: no connection was made.
_NOT_SENT: tuple[type[BaseException], ...] = (
    ConnectionRefusedError,
    socket.gaierror,
    httpx.ConnectError,
    httpx.ConnectTimeout,
    httpx.PoolTimeout,
    httpx.UnsupportedProtocol,
    httpx.InvalidURL,
    httpcore.ConnectError,
    httpcore.ConnectTimeout,
    httpcore.PoolTimeout,
    httpcore.UnsupportedProtocol,
)

# Failures of the network or of the HTTP exchange, worth another attempt
# for an idempotent operation.
_NETWORK: tuple[type[BaseException], ...] = (
    OSError,  # includes TimeoutError, ssl.SSLError and urllib's URLError
    http.client.HTTPException,
    httpx.TransportError,
    httpx.StreamError,
    httpcore.NetworkError,
    httpcore.TimeoutException,
    httpcore.ProtocolError,
    httpcore.ProxyError,
    httpcore.UnsupportedProtocol,
)


def _reason(exc: BaseException) -> BaseException:
    if isinstance(exc, urllib.error.URLError) and isinstance(exc.reason, BaseException):
        return exc.reason
    return exc


def never_sent(exc: BaseException) -> bool:
    """Whether a transport failure proves that the request never reached the bank.

    A refused connection, a failed name lookup, a connect or pool timeout
    and a URL that cannot be sent do; after a read timeout, a reset or a
    truncated answer the bank may have acted on the request.
    """
    return isinstance(_reason(exc), _NOT_SENT)


def is_network_failure(exc: BaseException) -> bool:
    """Whether an exception from a transport is a failure of the exchange (retryable)
    rather than a fault of the transport's own code."""
    return isinstance(_reason(exc), _NETWORK)
