"""The QR payment client: build with the engine, send, parse with the engine."""

from __future__ import annotations

import json
import logging
import random
import time
import urllib.error
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from decimal import Decimal
from typing import Any, TypeVar

from .errors import AmbiguousError, ProtocolError, QrError, TransportError, error_from_answer
from .models import (
    AccessToken,
    Amount,
    Config,
    GeneratedQr,
    GenerateQr,
    QrKind,
    QrStatusInfo,
    WebhookTarget,
    qr_kind,
    reference_text,
)
from .retry import RetryPolicy, never_sent, parse_retry_after
from .transport import HttpRequest, Transport, UrllibTransport, from_http_error, header, to_response

__all__ = ["Client", "NativeCall", "OpInfo", "describe", "invoke"]

NativeCall = Callable[[str, str], str]
T = TypeVar("T")

log = logging.getLogger("corvane_bo.qr")


def _native_call() -> NativeCall:
    # Imported on first use so that the pure-Python parts (sandbox, models)
    # stay importable while the extension is being rebuilt.
    from . import _native

    return _native.call


def _unwrap(answer: str) -> Any:
    try:
        envelope = json.loads(answer, parse_float=Decimal)
    except ValueError as exc:
        raise ProtocolError(f"engine answer is not JSON: {answer[:200]!r}") from exc
    if isinstance(envelope, dict):
        if envelope.get("ok") is True and "value" in envelope:
            return envelope["value"]
        if envelope.get("ok") is False:
            raise error_from_answer(envelope.get("error"))
    raise ProtocolError(f"engine answer is not an answer envelope: {answer[:200]!r}")


def invoke(call: NativeCall | None, op: str, payload: Any) -> Any:
    """Run one engine operation; return its value or raise its error.

    ``payload`` is encoded as compact JSON unless it is already a str.
    """
    text = payload if isinstance(payload, str) else json.dumps(
        payload, ensure_ascii=False, separators=(",", ":")
    )
    return _unwrap((call or _native_call())(op, text))


@dataclass(frozen=True)
class OpInfo:
    """One entry of the engine's operation table."""

    name: str
    kind: str
    idempotent: bool = False
    timeout_secs: int | None = None


def describe(call: NativeCall | None = None) -> dict[str, OpInfo]:
    """The engine's operations by name, as its "describe" reports them."""
    value = invoke(call, "describe", "")
    if not isinstance(value, list):
        raise ProtocolError("describe did not answer a list")
    table: dict[str, OpInfo] = {}
    for entry in value:
        if not isinstance(entry, dict) or not isinstance(entry.get("name"), str):
            raise ProtocolError(f"describe answered a malformed entry: {entry!r}")
        timeout = entry.get("timeout_secs")
        table[entry["name"]] = OpInfo(
            name=entry["name"],
            kind=str(entry.get("kind")),
            idempotent=entry.get("idempotent") is True,
            timeout_secs=timeout if isinstance(timeout, int) and not isinstance(timeout, bool) else None,
        )
    return table


def _http_request(value: Any, timeout: float | None) -> HttpRequest:
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
    return HttpRequest(method=method, url=url, headers=headers, body=body, timeout=timeout)


class Client:
    """Client of the bank's QR payment API.

    Each operation asks the engine to build the HTTP request, sends it with
    ``transport`` and asks the engine to read the response.  Only operations
    that the engine declares idempotent (verify) are retried, on retryable
    API errors and on connection failures, at most ``max_retries`` times.

    ``token`` may be replaced at any time (``client.token = new_token``).
    ``sleep``, ``rng`` and ``call`` exist for tests.
    """

    def __init__(
        self,
        config: Config,
        token: AccessToken | None,
        transport: Transport | None = None,
        max_retries: int = 2,
        *,
        webhook: WebhookTarget | None = None,
        retry: RetryPolicy | None = None,
        timeout: float = 30.0,
        sleep: Callable[[float], None] = time.sleep,
        rng: Callable[[], float] = random.random,
        call: NativeCall | None = None,
    ) -> None:
        self.config = config
        self.token = token
        self.webhook = webhook
        self.retry = retry if retry is not None else RetryPolicy(max_retries=max_retries)
        self._transport: Transport = transport if transport is not None else UrllibTransport(timeout)
        self._sleep = sleep
        self._rng = rng
        self._call = call
        self._ops: dict[str, OpInfo] | None = None

    def operations(self) -> Mapping[str, OpInfo]:
        if self._ops is None:
            self._ops = describe(self._call)
        return self._ops

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
        """Create a payment QR.  Never retried: on AmbiguousError, verify first."""
        qr = GenerateQr(
            amount=amount,
            reference=reference_text(reference),
            description=description,
            establishment_id=establishment_id,
            establishment_name=establishment_name,
            expires_in=expires_in,
            webhook=webhook if webhook is not None else self.webhook,
            kind=qr_kind(kind),
        )
        return self._run("qr.generate", qr.to_json(), GeneratedQr.from_json)

    def verify(self, reference: str | int, kind: QrKind | str = QrKind.SIMPLE) -> QrStatusInfo:
        """Current state of a QR payment."""
        payload = {"kind": qr_kind(kind).value, "reference": reference_text(reference)}
        return self._run("qr.verify", payload, QrStatusInfo.from_json)

    def cancel(self, reference: str | int) -> QrStatusInfo:
        """Cancel a QR payment.  Never retried: on AmbiguousError, verify first."""
        return self._run("qr.cancel", {"reference": reference_text(reference)}, QrStatusInfo.from_json)

    def _run(self, op: str, input_json: dict[str, Any], read: Callable[[Any], T]) -> T:
        info = self.operations().get(op) or OpInfo(op, "operation")
        build = {
            "config": self.config.to_json(),
            "token": None if self.token is None else self.token.to_json(),
            "input": input_json,
        }
        request = _http_request(
            invoke(self._call, f"{op}.build", build),
            None if info.timeout_secs is None else float(info.timeout_secs),
        )
        attempts = self.retry.attempts if info.idempotent else 1
        for attempt in range(attempts):
            last = attempt + 1 == attempts
            try:
                response = to_response(self._transport(request))
            except urllib.error.HTTPError as err:
                # A transport built on urlopen raises for error statuses; that is
                # still the bank's answer, not a connection failure.
                response = from_http_error(err)
            except OSError as exc:
                if not last:
                    self._pause(op, attempt, None, exc)
                    continue
                if info.idempotent or never_sent(exc):
                    raise TransportError(f"could not reach the bank for {op}: {exc}") from exc
                raise AmbiguousError(
                    f"{op} failed in transit and may have reached the bank ({exc});"
                    " verify the reference before trying again"
                ) from exc
            parse = {"input": input_json, "response": {"status": response.status, "body": response.body}}
            try:
                return read(invoke(self._call, f"{op}.parse", parse))
            except QrError as exc:
                if last or not exc.retryable:
                    raise
                self._pause(op, attempt, parse_retry_after(header(response.headers, "Retry-After")), exc)
        raise AssertionError("unreachable: the last attempt returns or raises")

    def _pause(self, op: str, attempt: int, retry_after: float | None, cause: BaseException) -> None:
        wait = self.retry.delay(attempt, retry_after, self._rng)
        log.debug("%s attempt %d failed (%s); retrying in %.2fs", op, attempt + 1, cause, wait)
        self._sleep(wait)
