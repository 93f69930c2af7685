"""The QR payment client: build with the engine, send, parse with the engine."""

from __future__ import annotations

import logging
import random
import time
from collections.abc import Callable, Generator
from typing import Any, TypeVar

import httpx

from . import flow
from .api import ClientBase
from .engine import NativeCall, OpInfo, describe, invoke
from .models import AccessToken, Amount, Config, GeneratedQr, QrKind, QrStatusInfo, WebhookTarget
from .pool import Cert, HttpxTransport, Verify
from .retry import RetryPolicy
from .tokens import TokenProvider, TokenSource
from .transport import DEFAULT_MAX_BODY, Transport

__all__ = ["Client", "NativeCall", "OpInfo", "describe", "invoke"]

T = TypeVar("T")

log = logging.getLogger("corvane_bo.qr")


def drive(steps: Generator[flow.Step, Any, T], send: Transport, sleep: Callable[[float], object],
          tokens: TokenSource) -> T:
    """Perform the steps of :func:`flow.run` on the calling thread."""
    outcome: Any = None
    failure: Exception | None = None
    while True:
        try:
            step = steps.send(outcome) if failure is None else steps.throw(failure)
        except StopIteration as done:
            return done.value  # type: ignore[no-any-return]
        outcome, failure = None, None
        try:
            if isinstance(step, flow.Send):
                outcome = send(step.request)
            elif isinstance(step, flow.Wait):
                log.debug("retrying in %.2fs", step.seconds)
                sleep(step.seconds)
            else:
                outcome = tokens.get(step.refused)
        except Exception as exc:
            failure = exc


class Client(ClientBase):
    """Client of the bank's QR payment API.

    Each operation asks the engine to build the HTTP request, sends it with
    ``transport`` and asks the engine to read the response (see
    :mod:`corvane_bo.qr.flow` for retries, renewal of the token after a 401
    and ambiguous outcomes).  Every failure is raised as a
    :class:`~corvane_bo.qr.QrError` subclass.

    ``token`` is an :class:`AccessToken`, or a provider (a callable
    returning one) that is asked again ``token_margin`` seconds before the
    token expires and after the bank refuses it; it may be replaced at any
    time (``client.token = new_token``).

    ``transport`` is any :data:`~corvane_bo.qr.Transport`, or an
    ``httpx.Client`` of your own (left open by :meth:`close`); by default a
    pooled, kept-alive httpx client built from ``verify`` (True, a CA bundle
    path or an ``ssl.SSLContext``) and ``cert`` (a client certificate),
    closed by :meth:`close` or at the end of a ``with`` block.

    ``timeout`` is the deadline of each call in seconds, attempts and the
    waits between them included; by default the engine's timeout for the
    operation, else 30 s.  ``max_body`` bounds the bytes of a response read.
    ``sleep``, ``rng``, ``clock`` and ``call`` exist for tests.
    """

    def __init__(
        self,
        config: Config,
        token: AccessToken | TokenProvider | None,
        transport: Transport | httpx.Client | None = None,
        max_retries: int = 2,
        *,
        webhook: WebhookTarget | None = None,
        retry: RetryPolicy | None = None,
        timeout: float | None = None,
        max_body: int | None = DEFAULT_MAX_BODY,
        token_margin: float = 30.0,
        verify: Verify = True,
        cert: Cert = None,
        sleep: Callable[[float], None] = time.sleep,
        rng: Callable[[], float] = random.random,
        clock: Callable[[], float] = time.monotonic,
        call: NativeCall | None = None,
    ) -> None:
        super().__init__(config, max_retries, webhook, retry, timeout, max_body, rng, clock, call)
        self._tokens = TokenSource(token, token_margin)
        self._owned: HttpxTransport | None = None
        if transport is None:
            self._owned = HttpxTransport(verify=verify, cert=cert, max_body=max_body)
            transport = self._owned
        elif isinstance(transport, httpx.Client):
            transport = HttpxTransport(transport, max_body=max_body)
        self._transport: Transport = transport
        self._sleep = sleep

    @property
    def token(self) -> AccessToken | None:
        """The token last sent (or to be sent); assign an AccessToken or a provider to replace it."""
        return self._tokens.current

    @token.setter
    def token(self, token: AccessToken | TokenProvider | None) -> None:
        self._tokens.replace(token)

    def close(self) -> None:
        """Close the connection pool this client made (not a transport or httpx client you passed)."""
        if self._owned is not None:
            self._owned.close()

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def generate(
        self,
        amount: Amount,
        reference: str | int,
        description: str,
        *,
        establishment_id: int,
        establishment_name: str,
        expires_in: int,
        webhook: WebhookTarget | None = None,
        kind: QrKind | str = QrKind.SIMPLE,
    ) -> GeneratedQr:
        """Create a payment QR.  Never repeated: on AmbiguousError, verify first."""
        return self._run(self._generate_call(
            amount, reference, description, establishment_id=establishment_id,
            establishment_name=establishment_name, expires_in=expires_in, webhook=webhook, kind=kind))

    def verify(self, reference: str | int, kind: QrKind | str = QrKind.SIMPLE) -> QrStatusInfo:
        """Current state of a QR payment; retried on retryable failures."""
        return self._run(self._verify_call(reference, kind))

    def cancel(self, reference: str | int) -> QrStatusInfo:
        """Cancel a QR payment.  Never repeated: on AmbiguousError, verify first."""
        return self._run(self._cancel_call(reference))

    def _run(self, call: flow.Call[T]) -> T:
        steps = flow.run(call, self._info(call.op), self._settings())
        return drive(steps, self._transport, self._sleep, self._tokens)


