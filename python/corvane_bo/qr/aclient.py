"""The async QR payment client: the same calls as :class:`~corvane_bo.qr.Client`, awaitable."""

from __future__ import annotations

import random
import time
from collections.abc import Awaitable, Callable, Generator
from typing import Any, TypeVar

import anyio
import httpx

from . import flow
from .api import ClientBase
from .engine import NativeCall
from .models import AccessToken, Amount, Config, GeneratedQr, QrKind, QrStatusInfo, WebhookTarget
from .pool import AsyncHttpxTransport, Cert, Verify
from .retry import RetryPolicy
from .tokens import AsyncTokenProvider, AsyncTokenSource
from .transport import DEFAULT_MAX_BODY, AsyncTransport, TransportResult

__all__ = ["AsyncClient"]

T = TypeVar("T")


async def _send(transport: AsyncTransport, request: Any) -> TransportResult:
    # The whole exchange, whatever the transport, ends by the call's deadline.
    with anyio.fail_after(request.timeout):
        return await transport(request)


async def drive(steps: Generator[flow.Step, Any, T], send: AsyncTransport,
                sleep: Callable[[float], Awaitable[object]], tokens: AsyncTokenSource) -> T:
    """Perform the steps of :func:`flow.run` in the running event loop (asyncio or trio)."""
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
                outcome = await _send(send, step.request)
            elif isinstance(step, flow.Wait):
                await sleep(step.seconds)
            else:
                outcome = await tokens.get(step.refused)
        except Exception as exc:
            failure = exc


class AsyncClient(ClientBase):
    """Async client of the bank's QR payment API, for asyncio (and trio) services.

    Same arguments, methods, results and exceptions as
    :class:`~corvane_bo.qr.Client`, the methods awaitable; ``transport`` is
    an async transport or an ``httpx.AsyncClient``, and ``token`` may be a
    provider that is a coroutine function.  Use ``async with`` (or ``await
    client.aclose()``) to close the pool it made.  One client serves any
    number of concurrent calls over its pool.
    """

    def __init__(
        self,
        config: Config,
        token: AccessToken | AsyncTokenProvider | None,
        transport: AsyncTransport | httpx.AsyncClient | None = None,
        max_retries: int = 2,
        *,
        webhook: WebhookTarget | None = None,
        retry: RetryPolicy | None = None,
        timeout: float | None = None,
        max_body: int | None = DEFAULT_MAX_BODY,
        token_margin: float = 30.0,
        verify: Verify = True,
        cert: Cert = None,
        sleep: Callable[[float], Awaitable[None]] = anyio.sleep,
        rng: Callable[[], float] = random.random,
        clock: Callable[[], float] = time.monotonic,
        call: NativeCall | None = None,
    ) -> None:
        super().__init__(config, max_retries, webhook, retry, timeout, max_body, rng, clock, call)
        self._tokens = AsyncTokenSource(token, token_margin)
        self._owned: AsyncHttpxTransport | None = None
        if transport is None:
            self._owned = AsyncHttpxTransport(verify=verify, cert=cert, max_body=max_body)
            transport = self._owned
        elif isinstance(transport, httpx.AsyncClient):
            transport = AsyncHttpxTransport(transport, max_body=max_body)
        self._transport: AsyncTransport = transport
        self._sleep = sleep

    @property
    def token(self) -> AccessToken | None:
        return self._tokens.current

    @token.setter
    def token(self, token: AccessToken | AsyncTokenProvider | None) -> None:
        self._tokens.replace(token)

    async def aclose(self) -> None:
        if self._owned is not None:
            await self._owned.aclose()

    async def __aenter__(self) -> AsyncClient:
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.aclose()

    async def generate(
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
        return await self._run(self._generate_call(
            amount, reference, description, establishment_id=establishment_id,
            establishment_name=establishment_name, expires_in=expires_in, webhook=webhook, kind=kind))

    async def verify(self, reference: str | int, kind: QrKind | str = QrKind.SIMPLE) -> QrStatusInfo:
        """Current state of a QR payment; retried on retryable failures."""
        return await self._run(self._verify_call(reference, kind))

    async def cancel(self, reference: str | int) -> QrStatusInfo:
        """Cancel a QR payment.  Never repeated: on AmbiguousError, verify first."""
        return await self._run(self._cancel_call(reference))

    async def _run(self, call: flow.Call[T]) -> T:
        steps = flow.run(call, self._info(call.op), self._settings())
        return await drive(steps, self._transport, self._sleep, self._tokens)
