"""The course of one API call, written once and driven by both clients.

:func:`run` is a generator: it does the pure work itself (the engine's
build and parse stages, the judging of failures) and yields a step for
each thing that needs I/O or time, which the driver performs and answers:

- :class:`GetToken`: answer the token to send (a new one if ``refused`` is
  the current one and it can be renewed);
- :class:`Send`: answer what the transport returned, or throw what it raised;
- :class:`Wait`: sleep that long, answer None.

The rules it keeps:

- only an operation that the engine's "describe" marks idempotent is sent
  again, after a retryable failure, with backoff and jitter and a capped
  ``Retry-After``;
- a request the bank refused to authenticate (401) is sent once more with a
  renewed token, for every operation: the bank did not act on it;
- for an operation that is not idempotent, a failure after which the bank
  may have acted (no answer after sending, a 5xx or 408, or a success answer
  that cannot be read) raises :class:`AmbiguousError`, chained to what
  happened; 429 and the other 4xx are raised as they are;
- the call has one deadline: attempts and waits together end by then.
"""

from __future__ import annotations

import urllib.error
from collections.abc import Callable, Generator
from dataclasses import dataclass, replace
from typing import Any, Generic, TypeVar, Union

from .engine import NativeCall, OpInfo, invoke
from .errors import AmbiguousError, ApiError, AuthenticationError, DecodeError, ProtocolError, QrError, TransportError
from .models import AccessToken, Config
from .retry import RetryPolicy, is_network_failure, never_sent, parse_retry_after
from .transport import HttpRequest, Response, from_http_error, header, to_response

__all__ = ["DEFAULT_TIMEOUT", "Call", "GetToken", "Send", "Settings", "Step", "Wait", "run"]

T = TypeVar("T")

# The deadline of a call when neither the caller nor the engine gives one.
DEFAULT_TIMEOUT = 30.0


@dataclass(frozen=True)
class Call(Generic[T]):
    """One API call: the operation, its input for the engine, and the reader of its result."""

    op: str
    input: dict[str, Any]
    read: Callable[[Any], T]


@dataclass(frozen=True)
class GetToken:
    refused: AccessToken | None = None


@dataclass(frozen=True)
class Send:
    request: HttpRequest


@dataclass(frozen=True)
class Wait:
    seconds: float


Step = Union[GetToken, Send, Wait]


@dataclass(frozen=True)
class Settings:
    config: Config
    retry: RetryPolicy
    timeout: float | None  # None: the engine's per-operation timeout, else DEFAULT_TIMEOUT
    max_body: int | None
    rng: Callable[[], float]
    clock: Callable[[], float]  # monotonic seconds
    call: NativeCall | None = None


def budget(info: OpInfo, timeout: float | None) -> float:
    if timeout is not None:
        return timeout
    return float(info.timeout_secs) if info.timeout_secs else DEFAULT_TIMEOUT


def _request(value: Any, max_body: int | None) -> HttpRequest:
    if not isinstance(value, dict):
        raise ProtocolError("build stage did not answer a request object")
    method, url, headers, body = (value.get(k) for k in ("method", "url", "headers", "body"))
    if (
        not isinstance(method, str)
        or not isinstance(url, str)
        or not isinstance(headers, dict)
        or not all(isinstance(v, str) for v in headers.values())
        or not (body is None or isinstance(body, str))
    ):
        raise ProtocolError("build stage answered a malformed request")
    return HttpRequest(method=method, url=url, headers=headers, body=body, max_body=max_body)


def _build(call: Call[Any], token: AccessToken | None, s: Settings) -> HttpRequest:
    payload = {
        "config": s.config.to_json(),
        "token": None if token is None else token.to_json(),
        "input": call.input,
    }
    return _request(invoke(s.call, f"{call.op}.build", payload), s.max_body)


def _may_have_acted(status: int) -> bool:
    # Reached only when the answer was not a readable success: a 2xx here
    # is a success the client could not read.
    return status >= 500 or status == 408 or 200 <= status < 300


def _ambiguous(op: str, what: str, cause: BaseException) -> AmbiguousError:
    errors = cause.errors if isinstance(cause, ApiError) else ()
    failure = AmbiguousError(
        f"{op} {what} and may have been carried out by the bank ({cause});"
        " verify the reference before trying again",
        errors=errors,
    )
    failure.__cause__ = cause
    return failure


def _transport_failure(op: str, idempotent: bool, exc: Exception, late: str) -> QrError:
    if isinstance(exc, QrError):
        # Raised by the transport itself, e.g. a body past the limit: the bank answered something.
        if not idempotent and isinstance(exc, DecodeError):
            return _ambiguous(op, "got an answer it could not read", exc)
        return exc
    if idempotent or never_sent(exc):
        failure: QrError = TransportError(f"could not exchange {op} with the bank{late}: {exc!r}")
    else:
        failure = AmbiguousError(
            f"{op} failed in transit{late} and may have reached the bank ({exc!r});"
            " verify the reference before trying again"
        )
    failure.__cause__ = exc
    return failure


def run(call: Call[T], info: OpInfo, s: Settings) -> Generator[Step, Any, T]:
    """Carry out ``call``, yielding the steps that the driver performs (see the module's text)."""
    allowed = budget(info, s.timeout)
    deadline = s.clock() + allowed
    token: AccessToken | None = yield GetToken()
    request = _build(call, token, s)
    renewed = False
    retries = 0
    while True:
        retry_after: float | None = None
        response: Response | None = None
        try:
            left = deadline - s.clock()
            if left <= 0:
                raise TimeoutError(f"no time was left of the {allowed:g} s deadline")
            try:
                result = yield Send(replace(request, timeout=left))
            except urllib.error.HTTPError as err:
                # A transport built on urlopen raises for error statuses; that is
                # still the bank's answer, not a connection failure.
                result = from_http_error(err, s.max_body)
            response = to_response(result, s.max_body)
        except Exception as exc:
            late = f" within its {allowed:g} s deadline" if s.clock() >= deadline else ""
            failure = _transport_failure(call.op, info.idempotent, exc, late)
            retryable = failure.retryable and (isinstance(exc, QrError) or is_network_failure(exc))
        if response is not None:
            parse = {"input": call.input, "response": {"status": response.status, "body": response.body}}
            try:
                return call.read(invoke(s.call, f"{call.op}.parse", parse))
            except AuthenticationError as exc:
                if exc.status != 401 or renewed:
                    raise
                fresh = yield GetToken(refused=token)
                if fresh is None or fresh is token:
                    raise
                renewed, token = True, fresh
                request = _build(call, token, s)
                continue
            except QrError as exc:
                if not info.idempotent and _may_have_acted(response.status):
                    raise _ambiguous(call.op, f"got HTTP {response.status}", exc) from exc
                failure, retryable = exc, exc.retryable
                retry_after = parse_retry_after(header(response.headers, "Retry-After"))
        if not (info.idempotent and retryable and retries < s.retry.max_retries):
            raise failure
        wait = s.retry.delay(retries, retry_after, s.rng)
        if s.clock() + wait >= deadline:
            raise failure
        yield Wait(wait)
        retries += 1
