"""Retry timing: exponential backoff with jitter, bounded, honouring Retry-After."""

from __future__ import annotations

import random
import socket
import urllib.error
from collections.abc import Callable
from dataclasses import dataclass

__all__ = ["RetryPolicy", "never_sent", "parse_retry_after"]


@dataclass(frozen=True)
class RetryPolicy:
    """How often and how long to wait before sending a request again.

    Attempt ``n`` (counting retries from 0) waits a random time between half
    and all of ``min(max_delay, base_delay * 2**n)``, so clients that failed
    together do not come back together.  A ``Retry-After`` from the bank
    replaces that wait when longer, up to ``max_retry_after`` seconds.
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
        ceiling = min(self.max_delay, self.base_delay * (2.0**retry))
        wait = ceiling / 2.0 + rng() * ceiling / 2.0
        if retry_after is not None:
            wait = max(wait, min(retry_after, self.max_retry_after))
        return wait


def parse_retry_after(value: str | None) -> float | None:
    """Seconds from a ``Retry-After`` header; None when absent or not a number of seconds.

    The HTTP-date form is not honoured: judging it needs a clock in step
    with the bank's, and the backoff covers that case anyway.
    """
    if value is None:
        return None
    text = value.strip()
    if not text.isdigit() or not text.isascii():
        return None
    return float(int(text))


def never_sent(exc: BaseException) -> bool:
    """Whether a transport failure proves that the request never reached the bank.

    Only a refused connection or a failed name lookup do; after a timeout or
    a reset the bank may have acted on the request.
    """
    if isinstance(exc, urllib.error.URLError) and isinstance(exc.reason, BaseException):
        exc = exc.reason
    return isinstance(exc, (ConnectionRefusedError, socket.gaierror))
