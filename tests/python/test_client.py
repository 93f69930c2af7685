"""Client behaviour against a scripted engine and transport: payloads, error mapping, retries."""

from __future__ import annotations

import http.client
import io
import json
import pickle
import socket
import urllib.error
from decimal import Decimal
from email.message import Message
from typing import Any

import httpx
import pytest

from corvane_bo.qr import _native
from corvane_bo.qr import (AccessToken, AmbiguousError, ApiError, ApiFieldError, AuthenticationError, Client, Config,
                          DecodeError, PaymentStatus, ProtocolError, QrError, QrKind, Response, RetryPolicy,
                          TransportError, ValidationError, WebhookAuthError, WebhookTarget, parse_webhook)
from corvane_bo.qr.client import invoke

# The scripted engine describes itself as the real one does.
DESCRIBE = json.loads(_native.call("describe", ""))["value"]

STATUS_VALUE = {
    "amount": "10.5", "currency": "BOB", "kind": "simple", "merchant_reference": None,
    "message": "QR pagado", "payer": {"account_number": None, "document_id": "77", "name": "Ana"},
    "payer_bank": None, "raw_status": " PAGADO ", "reference": "42", "status": "paid",
}
GENERATED_VALUE = {
    "amount": "0.3", "currency": "BOB", "expires_at": None, "kind": "mld",
    "merchant_reference": "42", "qr_image_base64": "iVBORw0KGgo=", "raw_status": "PENDIENTE",
    "reference": "42", "status": "pending",
}
HOOK = WebhookTarget("https://shop.example/hook", "X-Hook", "s3cret")


def ok(value: Any) -> str:
    return json.dumps({"ok": True, "value": value})


def fail(**error: Any) -> str:
    return json.dumps({"error": {"retryable": False, **error}, "ok": False})


class FakeEngine:
    """Answers like the engine: a fixed request for builds, status-driven parses."""

    def __init__(self, describe: list[dict[str, Any]] = DESCRIBE, timeout: int | None = None,
                 result: Any = None) -> None:
        self.result = result
        self.describe = [dict(d, timeout_secs=timeout) if timeout and d["kind"] == "operation" else d
                         for d in describe]
        self.calls: list[tuple[str, Any]] = []

    def __call__(self, op: str, payload: str) -> str:
        self.calls.append((op, json.loads(payload) if payload else None))
        if op == "describe":
            return ok(self.describe)
        if op.endswith(".build"):
            return ok({"method": "GET", "url": "https://bank.test/x", "body": None,
                       "headers": {"Authorization": "Bearer t"}})
        status = json.loads(payload)["response"]["status"]
        if 200 <= status < 300:
            if self.result is not None:
                return ok(self.result)
            return ok(GENERATED_VALUE if op.startswith("qr.generate") else STATUS_VALUE)
        if status in (401, 403):
            return fail(kind="authentication", message="denied", status=status)
        return fail(kind="api", errors=[], message=f"HTTP {status}", status=status,
                    retryable=status in (408, 429) or status >= 500)

    def ops(self) -> list[str]:
        return [op for op, _ in self.calls]


class Script:
    """A transport that plays back statuses, responses or exceptions, counting attempts."""

    def __init__(self, *steps: Any) -> None:
        self.steps = list(steps)
        self.requests: list[Any] = []

    def __call__(self, request: Any) -> Any:
        self.requests.append(request)
        step = self.steps.pop(0) if len(self.steps) > 1 else self.steps[0]
        if isinstance(step, BaseException):
            raise step
        if isinstance(step, int):
            return (step, "{}")
        return step


def generate(client: Client, amount: Any = "1") -> Any:
    return client.generate(amount, "1", "d", establishment_id=1, establishment_name="n", expires_in=1, webhook=HOOK)


def make(transport: Any, engine: FakeEngine | None = None, **kw: Any) -> tuple[Client, FakeEngine, list[float]]:
    engine = engine or FakeEngine()
    sleeps: list[float] = []
    client = Client(Config("cid"), AccessToken("tok", expires_at=1), transport,
                    sleep=sleeps.append, rng=lambda: 0.5, call=engine, **kw)
    return client, engine, sleeps


# --- error mapping ---------------------------------------------------------------


@pytest.mark.parametrize("answer, cls, attrs", [
    (fail(kind="validation", field="token", message="an access token is required for this operation"),
     ValidationError, {"field": "token", "retryable": False}),
    (fail(kind="authentication", status=403, message="Forbidden: bad client"),
     AuthenticationError, {"status": 403}),
    (fail(kind="api", errors=[{"code": None, "field": "monto", "message": "too big"}], message="rejected",
          retryable=True, status=503), ApiError, {"status": 503, "retryable": True, "errors": (ApiFieldError("too big", "monto"),)}),
    (fail(kind="api", status=400, message="", errors=[]), ApiError, {"retryable": False}),
    (fail(kind="ambiguous", message="who knows", errors=[]), AmbiguousError, {"errors": ()}),
    (fail(kind="decode", message="response has no `data` field"), DecodeError, {}),
    (fail(kind="webhook_auth", message="`X-Hook` header does not match"), WebhookAuthError, {}),
    (fail(kind="ffi", message="unknown operation `qr.nope`"), ProtocolError, {}),
    (fail(kind="quota", message="slow down"), QrError, {"kind": "quota"}),  # a kind this client does not know
])
def test_error_answers_map_to_exceptions_with_their_message(answer: str, cls: type, attrs: dict[str, Any]) -> None:
    with pytest.raises(cls) as info:
        invoke(lambda op, payload: answer, "qr.x", {})
    error = json.loads(answer)["error"]
    message = error["message"]
    # A validation error says which field; every other text is the engine's, unchanged.
    assert str(info.value) == (f"{error['field']}: {message}" if cls is ValidationError else message)
    assert info.value.message == message
    for name, value in attrs.items():
        assert getattr(info.value, name) == value
    assert isinstance(info.value, QrError)
    copy = pickle.loads(pickle.dumps(info.value))  # e.g. raised in a worker process
    assert type(copy) is cls and str(copy) == str(info.value)
    assert all(getattr(copy, name) == value for name, value in attrs.items())


@pytest.mark.parametrize("answer", ["", "not json", "[]", '{"ok":true}', '{"ok":"yes","value":1}',
                                    '{"error":{"kind":"validation","message":"m"},"ok":false}'])
def test_unreadable_answers_are_protocol_errors(answer: str) -> None:
    with pytest.raises(ProtocolError):
        invoke(lambda op, payload: answer, "qr.x", {})


# --- payloads and amounts -------------------------------------------------------


def test_generate_sends_decimal_text_and_reads_decimal_result() -> None:
    client, engine, _ = make(Script(200))
    qr = client.generate(Decimal("0.1") + Decimal("0.2"), 42, "Order", establishment_id=7,
                         establishment_name="Tienda", expires_in=60, webhook=HOOK, kind="mld")
    build = dict(engine.calls)["qr.generate.build"]
    assert build["input"]["amount"] == "0.3" and build["input"]["reference"] == "42"
    assert build["input"]["kind"] == "mld" and build["input"]["webhook"]["value"] == "s3cret"
    assert build["token"]["access_token"] == "tok" and build["config"]["environment"] == "sandbox"
    assert dict(engine.calls)["qr.generate.parse"]["input"] == build["input"]
    assert qr.amount == Decimal("0.3") and isinstance(qr.amount, Decimal)
    assert qr.status is PaymentStatus.PENDING and qr.kind is QrKind.MLD
    assert qr.png().startswith(b"\x89PNG")


@pytest.mark.parametrize("amount, sent", [
    (25, "25"), ("  1_000.50 ", "  1_000.50 "), (Decimal("1E+2"), "1E+2"),
    (Decimal("12345678901234567890.12"), "12345678901234567890.12"),
    (0.3, TypeError), (True, TypeError), (None, TypeError),
    (Decimal("NaN"), ValidationError), (Decimal("-Infinity"), ValidationError),
])
def test_amounts_reach_the_engine_as_their_exact_text_or_not_at_all(amount: Any, sent: Any) -> None:
    client, engine, _ = make(Script(200))
    if isinstance(sent, str):
        generate(client, amount)
        assert dict(engine.calls)["qr.generate.build"]["input"]["amount"] == sent
    else:
        with pytest.raises(sent):
            generate(client, amount)
        assert engine.calls == []


class Reply:
    status = 200
    body = "sí".encode()


def http_error(status: int) -> urllib.error.HTTPError:
    return urllib.error.HTTPError("https://bank.test/x", status, "x", Message(), io.BytesIO("sí".encode()))


# Whatever shape the transport answers in, the parse stage gets the input, the status and the decoded body.
@pytest.mark.parametrize("reply, status", [(Reply(), 200), ((200, "sí".encode()), 200), (http_error(404), 404),
                                           (Response(200, "sí", {}), 200)])
def test_transport_results_reach_the_parse_stage(reply: Any, status: int) -> None:
    client, engine, _ = make(Script(reply))
    try:
        info = client.verify("0042", kind=QrKind.SIMPLE)
        assert info.paid and info.amount == Decimal("10.5") and info.raw_status == " PAGADO "
        assert info.payer is not None and info.payer.document_id == "77" and info.payer_bank is None
    except ApiError:
        assert status == 404
    assert dict(engine.calls)["qr.verify.parse"] == {"input": {"kind": "simple", "reference": "0042"},
                                                     "response": {"status": status, "body": "sí"}}


def test_unknown_result_status_reads_as_unknown_and_malformed_result_is_protocol_error() -> None:
    client, _, _ = make(Script(200), FakeEngine(result=dict(STATUS_VALUE, status="on_hold")))
    assert client.verify("1").status is PaymentStatus.UNKNOWN
    client, _, _ = make(Script(200), FakeEngine(result=dict(STATUS_VALUE, amount=10.5)))
    with pytest.raises(ProtocolError):
        client.verify("1")


# --- retries ----------------------------------------------------------------------


RESET = ConnectionResetError("reset")
REFUSED = urllib.error.URLError(ConnectionRefusedError(111, "refused"))


@pytest.mark.parametrize("failure", [503, 429, RESET, TimeoutError("timed out"), REFUSED])
def test_verify_retries_until_success(failure: Any) -> None:
    transport = Script(failure, failure, 200)
    client, engine, sleeps = make(transport)
    assert client.verify("1").paid
    assert len(transport.requests) == 3 and len(sleeps) == 2
    assert engine.ops().count("qr.verify.build") == 1  # one request, sent three times


@pytest.mark.parametrize("step, max_retries, error, attempts", [
    (500, 0, ApiError, 1), (500, 4, ApiError, 5), (RESET, 2, TransportError, 3),
    (400, 3, ApiError, 1), (404, 3, ApiError, 1), (401, 3, AuthenticationError, 1),
])
def test_verify_attempts_are_bounded_and_only_retryable_failures_repeat(
        step: Any, max_retries: int, error: type, attempts: int) -> None:
    transport = Script(step)
    client, _, sleeps = make(transport, max_retries=max_retries)
    with pytest.raises(error) as info:
        client.verify("1")
    assert info.value.retryable is (step in (500, RESET))
    assert len(transport.requests) == attempts and len(sleeps) == attempts - 1
    if isinstance(step, Exception):
        assert info.value.__cause__ is step


@pytest.mark.parametrize("flipped, op, attempts", [
    (False, "generate", 1), (False, "cancel", 1), (True, "generate", 2), (True, "verify", 1),
])
def test_idempotency_from_describe_decides_retries(flipped: bool, op: str, attempts: int) -> None:
    describe = [dict(d, idempotent=d["name"] == "qr.generate") if d["kind"] == "operation" else d
                for d in DESCRIBE] if flipped else DESCRIBE
    transport = Script(503, 200)
    client, _, _ = make(transport, FakeEngine(describe))
    try:
        generate(client) if op == "generate" else getattr(client, op)("1")
    except AmbiguousError as failure:  # not idempotent: the bank may have acted on it
        assert isinstance(failure.__cause__, ApiError) and failure.__cause__.status == 503 and attempts == 1
    assert len(transport.requests) == attempts


@pytest.mark.parametrize("failure, error", [
    (TimeoutError("timed out"), AmbiguousError), (RESET, AmbiguousError), (REFUSED, TransportError),
    (urllib.error.URLError(socket.gaierror(-2, "Name or service not known")), TransportError),
])
def test_generate_connection_failure_is_ambiguous_unless_never_sent(failure: OSError, error: type) -> None:
    transport = Script(failure)
    client, _, sleeps = make(transport)
    with pytest.raises(error) as info:
        generate(client)
    assert info.value.__cause__ is failure
    assert len(transport.requests) == 1 and sleeps == []


def test_other_transport_exceptions_are_wrapped_unretried() -> None:
    fault = ValueError("bad url")
    transport = Script(fault)
    client, _, _ = make(transport)
    with pytest.raises(TransportError) as info:
        client.verify("1")
    assert info.value.__cause__ is fault and len(transport.requests) == 1


@pytest.mark.parametrize("retry_after, expected", [("7", 7.0), ("3600", 60.0), ("Wed, 21 Oct 2015 07:28:00 GMT", None),
                                                   ("-1", None), (None, None)])
def test_retry_after_is_honoured_and_capped(retry_after: str | None, expected: float | None) -> None:
    headers = {} if retry_after is None else {"retry-after": retry_after}
    transport = Script(Response(503, "", headers), 200)
    client, _, sleeps = make(transport, retry=RetryPolicy(max_retries=1, base_delay=0.2), timeout=120)
    client.verify("1")
    (slept,) = sleeps
    assert slept == pytest.approx(expected if expected is not None else 0.15)  # rng 0.5: 3/4 of 0.2


def test_backoff_grows_exponentially_with_jitter_within_bounds() -> None:
    policy = RetryPolicy(max_retries=6, base_delay=0.5, max_delay=4.0)
    for retry, ceiling in enumerate([0.5, 1.0, 2.0, 4.0, 4.0]):
        assert policy.delay(retry, rng=lambda: 0.0) == ceiling / 2
        assert policy.delay(retry, rng=lambda: 0.999999) == pytest.approx(ceiling, rel=1e-5)
    with pytest.raises(ValueError):
        RetryPolicy(max_retries=-1)


def test_describe_timeout_reaches_the_transport_and_is_read_once() -> None:
    transport = Script(200)
    client, engine, _ = make(transport, FakeEngine(timeout=12))
    client.verify("1")
    client.verify("2")
    assert 11.0 < transport.requests[0].timeout <= 12.0  # the time left of its deadline
    assert engine.ops().count("describe") == 1


# --- webhook ----------------------------------------------------------------------


def test_parse_webhook_passes_headers_and_raw_body_through() -> None:
    seen: list[Any] = []
    value = {"amount": "150", "currency": "BOB", "payer": None, "payer_bank": None, "reference": "9",
             "response_code": "PAGADO", "response_detail": None, "status": "paid", "success": True,
             "transaction_at": None}

    def call(op: str, payload: str) -> str:
        seen.append((op, json.loads(payload)))
        return ok(value)

    message = Message()
    message["x-hook"] = " s3cret"
    message["Content-Type"] = "application/json"
    raw = b'{"numeroReferencia":"9","monto":150.00}'
    note = parse_webhook(message, raw, "X-Hook", "s3cret", call=call)
    ((op, payload),) = seen
    assert op == "qr.webhook.parse"
    assert payload == {"headers": {"x-hook": " s3cret", "Content-Type": "application/json"},
                       "body": raw.decode(), "key": "X-Hook", "value": "s3cret"}
    assert note.success and note.amount == Decimal("150") and note.status is PaymentStatus.PAID



# --- Retry-After and failure judging ---------------------------------------------


@pytest.mark.parametrize("value, seconds", [
    ("7", 7.0), (" 12 ", 12.0), ("9" * 13, float("inf")), ("9" * 5000, float("inf")),
    ("Wed, 21 Oct 2015 07:28:30 GMT", 30.0), ("Wed, 21 Oct 2015 07:27:00 GMT", 0.0),
    ("Sunday, 06-Nov-94 08:49:37 GMT", 0.0), ("Wed, 21 Oct 2015 07:28:30 GMT" + " " * 80, 30.0),
    ("Wed, 21 Oct 2015 07:28:30 GMT" + "x" * 80, None), ("12.5", None), ("-3", None), ("", None),
    ("\u0661", None), ("soon", None), (None, None),
])
def test_retry_after_reads_seconds_or_a_date_and_nothing_else(value: str | None, seconds: float | None) -> None:
    from corvane_bo.qr.retry import parse_retry_after
    assert parse_retry_after(value, now=1445412480.0) == seconds  # 07:28:00 GMT that day


def test_a_huge_retry_count_or_retry_after_still_gives_a_capped_wait() -> None:
    policy = RetryPolicy(max_delay=8.0, max_retry_after=60.0)
    assert policy.delay(5000, rng=lambda: 1.0) == 8.0
    assert policy.delay(0, float("inf"), rng=lambda: 0.0) == 60.0


@pytest.mark.parametrize("failure, sent", [
    (httpx.ConnectError("refused"), False), (httpx.ConnectTimeout("slow"), False),
    (httpx.PoolTimeout("busy"), False), (httpx.UnsupportedProtocol("ftp"), False),
    (httpx.ReadTimeout("slow"), True), (httpx.RemoteProtocolError("cut"), True),
    (http.client.IncompleteRead(b"abc", 10), True), (TimeoutError(), True),
    (REFUSED, False), (RESET, True),
])
def test_generate_is_ambiguous_exactly_when_the_failure_may_follow_sending(failure: Exception, sent: bool) -> None:
    client, _, _ = make(Script(failure))
    with pytest.raises(AmbiguousError if sent else TransportError) as info:
        generate(client)
    assert info.value.__cause__ is failure


def test_waits_count_against_the_deadline_and_a_wait_past_it_is_not_taken() -> None:
    now = [0.0]
    sleeps: list[float] = []

    def sleep(seconds: float) -> None:
        sleeps.append(seconds)
        now[0] += seconds

    transport = Script(Response(503, "", {"Retry-After": "4"}), 200)
    client = Client(Config("cid"), AccessToken("tok"), transport, sleep=sleep, clock=lambda: now[0],
                    rng=lambda: 0.5, call=FakeEngine(), timeout=5.0, retry=RetryPolicy(max_retries=5))
    assert client.verify("1").paid and sleeps == [4.0]  # 4 s of the 5 s deadline
    transport.steps = [Response(503, "", {"Retry-After": "4"})]
    with pytest.raises(ApiError):
        client.verify("1")  # one 4 s wait fits in 5 s, a second would not: the 503 is raised then
    assert sleeps == [4.0, 4.0] and len(transport.requests) == 4
    assert transport.requests[-1].timeout == pytest.approx(1.0)  # the time left for the last attempt
