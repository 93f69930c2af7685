"""The default transports: httpx, one pooled keep-alive connection per bank host.

TLS is verified by default (``verify`` may name a CA bundle or be an
``ssl.SSLContext``; ``cert`` is a client certificate); proxies are read from
the environment as httpx reads them.  Redirects are never followed, so the
bearer token is never sent to another address.

Each request is bounded by the time left for its call (``request.timeout``):
connect, write and every read wait at most that long, and in the pool this
transport creates, every socket operation is also held to the call's
deadline, so an answer trickled a byte at a time (headers included) is cut
off when the deadline passes.  A client of your own (``client=``) gets the
same timeouts and a deadline check between chunks of the body.
"""

from __future__ import annotations

import ssl
import time
from collections.abc import Iterable
from contextvars import ContextVar
from typing import Any, Union

import httpcore
import httpx

from .transport import DEFAULT_MAX_BODY, BoundedBody, HttpRequest, Response, header_dict, text

__all__ = ["AsyncHttpxTransport", "HttpxTransport"]

Verify = Union[bool, str, ssl.SSLContext]
Cert = Union[str, tuple[str, str], tuple[str, str, str], None]

# httpx's own defaults: enough connections for a busy async service, and
# every idle one closed after a few seconds.
_LIMITS = httpx.Limits(max_connections=100, max_keepalive_connections=20)

# The deadline of the call whose request this thread is sending (time.monotonic).
_deadline: ContextVar[float | None] = ContextVar("corvane_bo_qr_deadline", default=None)


def _left(timeout: float | None, error: type[Exception]) -> float | None:
    deadline = _deadline.get()
    if deadline is None:
        return timeout
    left = deadline - time.monotonic()
    if left <= 0:
        raise error("the call's deadline passed")
    return left if timeout is None else min(timeout, left)


class _DeadlineStream(httpcore.NetworkStream):
    def __init__(self, inner: httpcore.NetworkStream) -> None:
        self._inner = inner

    def read(self, max_bytes: int, timeout: float | None = None) -> bytes:
        return self._inner.read(max_bytes, _left(timeout, httpcore.ReadTimeout))

    def write(self, buffer: bytes, timeout: float | None = None) -> None:
        self._inner.write(buffer, _left(timeout, httpcore.WriteTimeout))

    def close(self) -> None:
        self._inner.close()

    def start_tls(self, ssl_context: ssl.SSLContext, server_hostname: str | None = None,
                  timeout: float | None = None) -> httpcore.NetworkStream:
        inner = self._inner.start_tls(ssl_context, server_hostname, _left(timeout, httpcore.ConnectTimeout))
        return _DeadlineStream(inner)

    def get_extra_info(self, info: str) -> Any:
        return self._inner.get_extra_info(info)


class _DeadlineBackend(httpcore.NetworkBackend):
    """Holds every socket operation of a pool to the deadline of the call being sent."""

    def __init__(self, inner: httpcore.NetworkBackend) -> None:
        self._inner = inner

    def connect_tcp(self, host: str, port: int, timeout: float | None = None,
                    local_address: str | None = None,
                    socket_options: Iterable[Any] | None = None) -> httpcore.NetworkStream:
        stream = self._inner.connect_tcp(host, port, _left(timeout, httpcore.ConnectTimeout),
                                         local_address, socket_options)
        return _DeadlineStream(stream)

    def connect_unix_socket(self, path: str, timeout: float | None = None,
                            socket_options: Iterable[Any] | None = None) -> httpcore.NetworkStream:
        stream = self._inner.connect_unix_socket(path, _left(timeout, httpcore.ConnectTimeout),
                                                 socket_options)
        return _DeadlineStream(stream)

    def sleep(self, seconds: float) -> None:
        self._inner.sleep(seconds)


def _hold_to_deadlines(client: httpx.Client) -> int:
    """Put the deadline backend under the pools of a client this module created.

    httpx offers no public way to hand its pools a network backend while
    keeping its own proxy handling, so this reaches one level in; should a
    later httpx move things, the pools keep their plain backend and only
    the per-read timeouts and the check between chunks remain.  Returns
    how many pools it reached.
    """
    armed = 0
    transports = [getattr(client, "_transport", None), *getattr(client, "_mounts", {}).values()]
    for transport in transports:
        pool = getattr(transport, "_pool", None)
        backend = getattr(pool, "_network_backend", None)
        if isinstance(backend, httpcore.NetworkBackend) and not isinstance(backend, _DeadlineBackend):
            pool._network_backend = _DeadlineBackend(backend)  # type: ignore[union-attr]
            armed += 1
    return armed


def _timeouts(request: HttpRequest, connect: float) -> httpx.Timeout:
    left = request.timeout
    return httpx.Timeout(left, connect=connect if left is None else min(connect, left))


def _outgoing(client: httpx.Client | httpx.AsyncClient, request: HttpRequest,
              connect: float) -> httpx.Request:
    headers = dict(request.headers)
    # A compressed answer could inflate far past the body limit within one read.
    if not any(name.lower() == "accept-encoding" for name in headers):
        headers["Accept-Encoding"] = "identity"
    return client.build_request(
        request.method, request.url, headers=headers,
        content=None if request.body is None else request.body.encode("utf-8"),
        timeout=_timeouts(request, connect),
    )


def _answer(response: httpx.Response, raw: bytes) -> Response:
    return Response(response.status_code, text(raw, response.charset_encoding), header_dict(response.headers))


class _Options:
    def __init__(self, max_body: int | None, connect_timeout: float) -> None:
        self.max_body = max_body
        self.connect_timeout = connect_timeout

    def limit(self, request: HttpRequest) -> int | None:
        return request.max_body if request.max_body is not None else self.max_body

    def deadline(self, request: HttpRequest) -> float | None:
        return None if request.timeout is None else time.monotonic() + request.timeout


class HttpxTransport(_Options):
    """Sends through a pooled ``httpx.Client``; close it (or use ``with``) to close the pool.

    ``client`` is an ``httpx.Client`` of your own, used as it is and left
    open on close; otherwise one is made from ``verify``, ``cert``,
    ``trust_env`` and ``limits``.  ``timeout`` is used for requests that
    carry none.
    """

    def __init__(self, client: httpx.Client | None = None, *, verify: Verify = True, cert: Cert = None,
                 trust_env: bool = True, limits: httpx.Limits | None = None, timeout: float = 30.0,
                 connect_timeout: float = 10.0, max_body: int | None = DEFAULT_MAX_BODY) -> None:
        super().__init__(max_body, connect_timeout)
        self.timeout = timeout
        self._owned = client is None
        if client is None:
            client = httpx.Client(verify=verify, cert=cert, trust_env=trust_env,
                                  follow_redirects=False, limits=limits or _LIMITS)
            _hold_to_deadlines(client)
        self.client = client

    def __call__(self, request: HttpRequest) -> Response:
        if request.timeout is None:
            request = _with_timeout(request, self.timeout)
        deadline = self.deadline(request)
        token = _deadline.set(deadline)
        try:
            outgoing = _outgoing(self.client, request, self.connect_timeout)
            response = self.client.send(outgoing, stream=True, follow_redirects=False)
            try:
                body = BoundedBody(self.limit(request), response.headers.get("Content-Length"), deadline)
                for chunk in response.iter_bytes():
                    body.add(chunk)
            finally:
                response.close()
        finally:
            _deadline.reset(token)
        return _answer(response, body.value())

    def close(self) -> None:
        if self._owned:
            self.client.close()

    def __enter__(self) -> HttpxTransport:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class AsyncHttpxTransport(_Options):
    """The async twin of :class:`HttpxTransport`, over ``httpx.AsyncClient``.

    The async client bounds each call as a whole (a cancel scope around the
    exchange), so nothing here needs to watch the clock but the timeouts.
    """

    def __init__(self, client: httpx.AsyncClient | None = None, *, verify: Verify = True,
                 cert: Cert = None, trust_env: bool = True, limits: httpx.Limits | None = None,
                 timeout: float = 30.0, connect_timeout: float = 10.0,
                 max_body: int | None = DEFAULT_MAX_BODY) -> None:
        super().__init__(max_body, connect_timeout)
        self.timeout = timeout
        self._owned = client is None
        self.client = client or httpx.AsyncClient(verify=verify, cert=cert, trust_env=trust_env,
                                                  follow_redirects=False, limits=limits or _LIMITS)

    async def __call__(self, request: HttpRequest) -> Response:
        if request.timeout is None:
            request = _with_timeout(request, self.timeout)
        outgoing = _outgoing(self.client, request, self.connect_timeout)
        response = await self.client.send(outgoing, stream=True, follow_redirects=False)
        try:
            body = BoundedBody(self.limit(request), response.headers.get("Content-Length"),
                               self.deadline(request))
            async for chunk in response.aiter_bytes():
                body.add(chunk)
        finally:
            await response.aclose()
        return _answer(response, body.value())

    async def aclose(self) -> None:
        if self._owned:
            await self.client.aclose()

    async def __aenter__(self) -> AsyncHttpxTransport:
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.aclose()


def _with_timeout(request: HttpRequest, timeout: float) -> HttpRequest:
    return HttpRequest(request.method, request.url, request.headers, request.body, timeout, request.max_body)
