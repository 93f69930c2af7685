"""Sending the requests that the engine describes.

A transport is any callable that takes an :class:`HttpRequest` and returns
either a ``(status, body)`` pair or an object with ``status``, ``body`` and
optionally ``headers`` (which the client reads for ``Retry-After``); an
async transport is the same as a coroutine function.  Error statuses are
responses, not exceptions; a transport raises only when no response was
obtained.  It should give up once ``request.timeout`` seconds have passed
and stop reading a body past ``request.max_body`` bytes
(:class:`BoundedBody` does both for a transport that reads in chunks).

The default transports are :class:`~corvane_bo.qr.pool.HttpxTransport` and
its async twin; :class:`UrllibTransport` needs nothing but the standard
library and opens a connection per request.
"""

from __future__ import annotations

import http.client
import time
import urllib.error
import urllib.request
from collections.abc import Awaitable, Callable, Mapping
from dataclasses import dataclass, field
from email.message import Message
from typing import Any, Protocol, Union

import httpx

from .errors import DecodeError

__all__ = [
    "DEFAULT_MAX_BODY",
    "AsyncTransport",
    "BoundedBody",
    "HttpRequest",
    "Response",
    "ResponseLike",
    "Transport",
    "UrllibTransport",
    "from_http_error",
    "header",
    "to_response",
]

# Far above any answer of the bank (a generate answer with its QR image is
# about 20 KB), far below what would hurt a merchant's process.
DEFAULT_MAX_BODY = 4 * 1024 * 1024
_CHUNK = 64 * 1024


@dataclass(frozen=True)
class HttpRequest:
    """A request built by the engine, ready to send.

    ``timeout`` is the time left for this attempt, in seconds (None: the
    transport's own default); ``max_body`` the most bytes of response body
    to read (None: no limit of the client's).
    """

    method: str
    url: str
    headers: Mapping[str, str] = field(repr=False)  # carries the bearer token
    body: str | None = None
    timeout: float | None = None
    max_body: int | None = None


@dataclass(frozen=True)
class Response:
    status: int
    body: str
    headers: Mapping[str, str] = field(default_factory=dict)


class ResponseLike(Protocol):
    @property
    def status(self) -> int: ...

    @property
    def body(self) -> str | bytes: ...


TransportResult = Union[tuple[int, Union[str, bytes]], ResponseLike]
Transport = Callable[[HttpRequest], TransportResult]
AsyncTransport = Callable[[HttpRequest], Awaitable[TransportResult]]


def too_large(limit: int) -> DecodeError:
    return DecodeError(f"response body exceeds the limit of {limit} bytes; the rest was not read")


class BoundedBody:
    """Collects a body chunk by chunk, refusing it past ``limit`` bytes or past ``deadline``.

    A declared ``Content-Length`` above the limit is refused before anything
    is read.  ``deadline`` is on the ``time.monotonic`` clock.
    """

    def __init__(self, limit: int | None, content_length: str | None = None,
                 deadline: float | None = None) -> None:
        self.limit = limit
        self.deadline = deadline
        self._parts: list[bytes] = []
        self._size = 0
        declared = (content_length or "").strip()
        if limit is not None and declared.isascii() and declared.isdigit():
            if len(declared) > 18 or int(declared) > limit:
                raise too_large(limit)

    def add(self, chunk: bytes) -> None:
        self._size += len(chunk)
        if self.limit is not None and self._size > self.limit:
            raise too_large(self.limit)
        if self.deadline is not None and time.monotonic() > self.deadline:
            raise TimeoutError("the response did not arrive before the deadline")
        self._parts.append(chunk)

    def value(self) -> bytes:
        return b"".join(self._parts)


def text(body: str | bytes, charset: str | None = None) -> str:
    if isinstance(body, str):
        return body
    # A body that is not valid UTF-8 still reaches the engine, which reports it.
    try:
        return body.decode(charset or "utf-8", errors="replace")
    except LookupError:  # a charset Python does not know
        return body.decode("utf-8", errors="replace")


def to_response(result: object, limit: int | None = None) -> Response:
    """Normalise whatever a transport returned; a body above ``limit`` is refused."""
    if isinstance(result, Response):
        response = result
    else:
        if isinstance(result, tuple) and len(result) == 2:
            status, body = result
            headers: Any = {}
        else:
            status = getattr(result, "status", None)
            body = getattr(result, "body", None)
            headers = getattr(result, "headers", None) or {}
        if not isinstance(status, int) or isinstance(status, bool) or not 0 <= status <= 65535:
            raise TypeError(f"transport returned an invalid HTTP status: {status!r}")
        if not isinstance(body, (str, bytes)):
            raise TypeError(f"transport returned a body of type {type(body).__name__}")
        if limit is not None and len(body) > limit:
            raise too_large(limit)
        response = Response(status, text(body), header_dict(headers))
    if limit is not None and len(response.body) > limit:
        raise too_large(limit)
    return response


def header_dict(headers: Any) -> Mapping[str, str]:
    if isinstance(headers, (Mapping, Message, httpx.Headers)):
        return {str(k): str(v) for k, v in headers.items()}
    return {str(k): str(v) for k, v in headers}


def header(headers: Mapping[str, str], name: str) -> str | None:
    """Case-insensitive header lookup."""
    wanted = name.lower()
    for key, value in headers.items():
        if key.lower() == wanted:
            return value
    return None


def _read(resp: Any, limit: int | None, deadline: float | None) -> bytes:
    body = BoundedBody(limit, resp.headers.get("Content-Length") if resp.headers else None, deadline)
    while chunk := resp.read(_CHUNK if limit is None else min(_CHUNK, limit + 1)):
        body.add(chunk)
    return body.value()


def from_http_error(err: urllib.error.HTTPError, limit: int | None = DEFAULT_MAX_BODY) -> Response:
    """The response carried by urllib's HTTPError (raised for every 4xx and 5xx)."""
    with err:
        raw = _read(err, limit, None)
    charset = err.headers.get_content_charset() if err.headers else None
    return Response(err.code, text(raw, charset), header_dict(err.headers or {}))


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    # The bank API does not redirect; a 3xx is handed to the engine as it is
    # (it reports it as an api error) rather than replayed elsewhere with the token.
    def redirect_request(self, *args: Any, **kwargs: Any) -> None:
        return None


class UrllibTransport:
    """A transport of the standard library: ``urllib``, no redirects, http(s) only.

    Opens a connection per request.  Its timeout applies to each read, and
    the time left is checked between chunks of the body.
    """

    def __init__(self, timeout: float = 30.0, max_body: int | None = DEFAULT_MAX_BODY) -> None:
        self.timeout = timeout
        self.max_body = max_body
        opener = urllib.request.OpenerDirector()
        for handler in (
            urllib.request.ProxyHandler(),
            urllib.request.HTTPHandler(),
            urllib.request.HTTPSHandler(),
            urllib.request.HTTPDefaultErrorHandler(),
            urllib.request.HTTPErrorProcessor(),
            _NoRedirect(),
        ):
            opener.add_handler(handler)
        self._opener = opener

    def __call__(self, request: HttpRequest) -> Response:
        scheme = request.url.partition(":")[0].lower()
        if scheme not in ("http", "https"):
            raise urllib.error.URLError(f"only http(s) URLs can be sent, got {request.url!r}")
        data = None if request.body is None else request.body.encode("utf-8")
        req = urllib.request.Request(
            request.url, data=data, headers=dict(request.headers), method=request.method
        )
        timeout = request.timeout if request.timeout is not None else self.timeout
        limit = request.max_body if request.max_body is not None else self.max_body
        deadline = time.monotonic() + timeout
        try:
            try:
                resp: Any = self._opener.open(req, timeout=timeout)
            except urllib.error.HTTPError as err:
                resp = err  # an error status is still the bank's answer
            with resp:
                raw = _read(resp, limit, deadline)
                status = resp.status if isinstance(resp, http.client.HTTPResponse) else resp.code
                charset = resp.headers.get_content_charset() if resp.headers else None
                return Response(status, text(raw, charset), header_dict(resp.headers or {}))
        except http.client.HTTPException as exc:
            # A broken reply (bad status line, truncated body) is a connection failure.
            raise ConnectionError(f"malformed HTTP response: {exc!r}") from exc
