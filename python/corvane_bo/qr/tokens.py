"""Access tokens that renew themselves: a fixed token, or a provider asked when needed.

A provider is asked for a token on first use, again when the token it gave
is within ``margin`` seconds of its ``expires_at`` (0 means no known expiry),
and again after the bank refused the token (HTTP 401).  However many calls
need a new token at the same moment, the provider is asked once: the others
wait for its answer and use it.
"""

from __future__ import annotations

import inspect
import threading
import time
from collections.abc import Awaitable, Callable
from typing import Union

import anyio

from .models import AccessToken

__all__ = ["AsyncTokenProvider", "AsyncTokenSource", "TokenProvider", "TokenSource"]

TokenProvider = Callable[[], AccessToken]
AsyncTokenProvider = Callable[[], Union[AccessToken, Awaitable[AccessToken]]]


def _stale(current: AccessToken | None, refused: AccessToken | None, margin: float, now: float) -> bool:
    if current is None or (refused is not None and current is refused):
        return True
    return current.expires_at > 0 and now + margin >= current.expires_at


def _checked(token: object) -> AccessToken:
    if not isinstance(token, AccessToken):
        raise TypeError(f"the token provider returned {type(token).__name__}, not an AccessToken")
    return token


class _Source:
    def __init__(self, token: object, margin: float, clock: Callable[[], float]) -> None:
        self.margin = margin
        self._clock = clock
        self._generation = 0
        self.replace(token)

    def replace(self, token: object) -> None:
        """Use ``token`` from now on: an AccessToken, a provider, or None."""
        if token is None or isinstance(token, AccessToken):
            self.provider = None
            self.current: AccessToken | None = token
        elif callable(token):
            self.provider = token
            self.current = None
        else:
            raise TypeError(f"token must be an AccessToken or a provider, not {type(token).__name__}")
        self._generation += 1

    def _needed(self, refused: AccessToken | None, generation: int) -> bool:
        # Another caller renewed it while this one waited: take that one.
        return generation == self._generation and _stale(self.current, refused, self.margin, self._clock())


class TokenSource(_Source):
    """The tokens of a :class:`~corvane_bo.qr.Client`; safe to share between threads."""

    def __init__(self, token: AccessToken | TokenProvider | None, margin: float = 30.0,
                 clock: Callable[[], float] = time.time) -> None:
        self._lock = threading.Lock()
        super().__init__(token, margin, clock)

    def get(self, refused: AccessToken | None = None) -> AccessToken | None:
        """The token to send; a new one when the current one is stale or is ``refused``."""
        generation = self._generation
        if self.provider is None or not self._needed(refused, generation):
            return self.current
        with self._lock:
            if self._needed(refused, generation):
                self.current = _checked(self.provider())
                self._generation += 1
            return self.current


class AsyncTokenSource(_Source):
    """The tokens of an :class:`~corvane_bo.qr.AsyncClient`; the provider may be a coroutine function."""

    def __init__(self, token: AccessToken | AsyncTokenProvider | None, margin: float = 30.0,
                 clock: Callable[[], float] = time.time) -> None:
        self._lock: anyio.Lock | None = None
        super().__init__(token, margin, clock)

    async def get(self, refused: AccessToken | None = None) -> AccessToken | None:
        generation = self._generation
        if self.provider is None or not self._needed(refused, generation):
            return self.current
        if self._lock is None:
            self._lock = anyio.Lock()
        async with self._lock:
            if self._needed(refused, generation):
                token = self.provider()
                self.current = _checked(await token if inspect.isawaitable(token) else token)
                self._generation += 1
            return self.current
