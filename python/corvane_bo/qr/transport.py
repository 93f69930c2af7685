"""Sending the requests that the engine describes.

A transport is any callable that takes an :class:`HttpRequest` and returns
either a ``(status, body)`` pair or an object with ``status``, ``body`` and
optionally ``headers`` (which the client reads for ``Retry-After``).  Error
statuses are responses, not exceptions; a transport raises only when no
response was obtained (``OSError`` and its subclasses: refused connections,
timeouts, resets).
"""

from __future__ import annotations

import http.client
import urllib.error
import urllib.request
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from email.message import Message
from typing import Any, Protocol, Union

__all__ = [
    "HttpRequest",
    "Response",
    "ResponseLike",
    "Transport",
    "UrllibTransport",
    "from_http_error",
    "header",
    "to_response",
]


@dataclass(frozen=True)
class HttpRequest:
    """A request built by the engine, ready to send.

    ``timeout`` (seconds) is set when the engine describes one for the
    operation; transports fall back to their own default otherwise.
    """

    method: str
    url: str
    headers: Mapping[str, str] = field(repr=False)  # carries the bearer token
    body: str | None = None
    timeout: float | None = None


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


Transport = Callable[[HttpRequest], Union[tuple[int, Union[str, bytes]], ResponseLike]]


def _text(body: str | bytes, charset: str | None = None) -> str:
    if isinstance(body, str):
        return body
    # A body that is not valid UTF-8 still reaches the engine, which reports it.
    return body.decode(charset or "utf-8", errors="replace")


def to_response(result: object) -> Response:
    """Normalise whatever a transport returned."""
    if isinstance(result, Response):
        return result
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
    return Response(status, _text(body), _headers(headers))


def _headers(headers: Any) -> Mapping[str, str]:
    if isinstance(headers, Mapping):
        return {str(k): str(v) for k, v in headers.items()}
    if isinstance(headers, Message):
        return {k: str(v) for k, v in headers.items()}
    return {str(k): str(v) for k, v in headers}


def header(headers: Mapping[str, str], name: str) -> str | None:
    """Case-insensitive header lookup."""
    wanted = name.lower()
    for key, value in headers.items():
        if key.lower() == wanted:
            return value
    return None


def from_http_error(err: urllib.error.HTTPError) -> Response:
    """The response carried by urllib's HTTPError (raised for every 4xx and 5xx)."""
    with err:
        raw = err.read()
    charset = err.headers.get_content_charset() if err.headers else None
    return Response(err.code, _text(raw, charset), _headers(err.headers or {}))


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    # The bank API does not redirect; a 3xx is handed to the engine as it is
    # (it reports it as an api error) rather than replayed elsewhere with the token.
    def redirect_request(self, *args: Any, **kwargs: Any) -> None:
        return None


class UrllibTransport:
    """The default transport: ``urllib`` with a timeout, no redirects, http(s) only."""

    def __init__(self, timeout: float = 30.0) -> None:
        self.timeout = timeout
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
            raise ValueError(f"only http(s) URLs can be sent, got {request.url!r}")
        data = None if request.body is None else request.body.encode("utf-8")
        req = urllib.request.Request(
            request.url, data=data, headers=dict(request.headers), method=request.method
        )
        timeout = request.timeout if request.timeout is not None else self.timeout
        try:
            with self._opener.open(req, timeout=timeout) as resp:
                raw = resp.read()
                return Response(resp.status, _text(raw, resp.headers.get_content_charset()),
                                _headers(resp.headers))
        except urllib.error.HTTPError as err:
            return from_http_error(err)
        except http.client.HTTPException as exc:
            # A broken reply (bad status line, truncated body) is a connection failure.
            raise ConnectionError(f"malformed HTTP response: {exc!r}") from exc
