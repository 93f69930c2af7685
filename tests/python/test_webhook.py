"""Notifications through the real engine: strict text, one rule for repeated headers, the framework
adapters answering 401/400 from the raw body, and the check of a notification against its order."""

from __future__ import annotations

import json
from decimal import Decimal
from email.message import Message
from typing import Any

import pytest

from corvane_bo.qr import DecodeError, PaymentNotification, ValidationError, WebhookAuthError, parse_webhook, pays_order
from corvane_bo.qr.webhook import checked_header, webhook_reply

KEY, VALUE = "X-Hook", "s3cret"
BODY = b'{"numeroReferencia":"1001","monto":25.50,"moneda":"BOB","codigoRespuesta":"PAGADO","detalleRespuesta":"\xc3\xb1"}'


def note(headers: Any = ((KEY, VALUE),), body: Any = BODY) -> PaymentNotification:
    return parse_webhook(headers, body, KEY, VALUE)


def test_a_valid_notification_reads_from_bytes_and_from_text() -> None:
    for body in (BODY, BODY.decode()):
        read = note(body=body)
        assert read.success and read.amount == Decimal("25.5") and read.response_detail == "ñ"


@pytest.mark.parametrize("body, where", [
    (BODY.replace(b"\xc3\xb1", b"\xff"), "line 1 column 104"),  # invalid UTF-8 inside a JSON string
    (BODY.replace(b"\xc3\xb1", b"\xc3"), "line 1 column 104"),  # a character cut short
    (b'{\n"numeroReferencia":"\xed\xa0\x80"}', "line 2 column 21"),  # an encoded surrogate
    (BODY.decode().replace("ñ", "\udcff"), "line 1 column 104"),  # a lone surrogate in a str
])
def test_undecodable_text_is_refused_not_repaired_after_the_header_check(body: Any, where: str) -> None:
    with pytest.raises(DecodeError) as info:
        note(body=body)
    assert str(info.value) == f"invalid webhook payload: invalid UTF-8 at {where}"
    with pytest.raises(WebhookAuthError):  # the header still decides first
        note(headers={KEY: "wrong"}, body=body)


def test_surrogates_in_headers_are_refused_as_authentication_failures() -> None:
    with pytest.raises(WebhookAuthError):
        note({KEY: "s3cr\udcc3"})
    assert note({KEY: VALUE, "X-Other\udcff": "x", "X-Else": "\udcff"}).success  # headers never consulted
    with pytest.raises(ValidationError):
        parse_webhook({KEY: VALUE}, BODY, KEY, "s3cr\udcc3")


def message(*pairs: tuple[str, str]) -> Message:
    m = Message()
    for name, value in pairs:
        m[name] = value
    return m


# The rule, in Python and in the engine alike: among names equal with ASCII letters folded, the first
# in byte order is checked; a name given twice exactly keeps its last value.
@pytest.mark.parametrize("headers, passes", [
    ([("x-hook", "bad"), ("X-Hook", VALUE)], True),
    ([("X-Hook", "bad"), ("x-hook", VALUE)], False),
    ([("X-HOOK", VALUE), ("X-Hook", "bad")], True),  # "X-HOOK" < "X-Hook" in bytes
    ([("X-Hook", "bad"), ("X-Hook", VALUE)], True),
    ([("X-Hook", VALUE), ("X-Hook", "bad")], False),
    ({"x-hook": VALUE, "X-Hook": "bad"}, False),
    ({"x-hook": VALUE, "X-Hooks": "bad"}, True),
    (message(("x-hook", "bad"), ("X-Hook", VALUE)), True),
    (message(("X-Hook", "bad"), ("X-Hook", VALUE)), True),
    ([("X-Hoo\u212a", VALUE)], False),  # the Kelvin sign folds to k in Unicode, not in ASCII
])
def test_repeated_header_names_follow_one_rule(headers: Any, passes: bool) -> None:
    if passes:
        assert note(headers).success
    else:
        with pytest.raises(WebhookAuthError):
            note(headers)
    pairs = list(headers.items() if hasattr(headers, "items") else headers)
    received = dict(pairs)
    chosen = checked_header(received, KEY)
    assert (chosen is not None and received[chosen] == VALUE) is passes


@pytest.mark.parametrize("reference, amount, currency, expected", [
    ("1001", Decimal("25.50"), "BOB", True), (1001, "25.5", "BOB", True), ("1001", 25, "BOB", False),
    ("1002", "25.5", "BOB", False), ("1001", "25.51", "BOB", False), ("1001", "25.5", "USD", False),
    ("01001", "25.5", "BOB", False),
])
def test_a_notification_is_checked_against_its_order(reference: Any, amount: Any, currency: str,
                                                      expected: bool) -> None:
    assert pays_order(note(), reference, amount, currency) is expected


def test_an_unpaid_notification_pays_no_order() -> None:
    cancelled = note(body=BODY.replace(b"PAGADO", b"CANCELADO"))
    assert not pays_order(cancelled, "1001", "25.5")


@pytest.mark.parametrize("headers, body, answer, processed", [
    ({KEY: VALUE}, BODY, ("ok", 200), 1), ({KEY: "no"}, BODY, ("unauthorized", 401), 0),
    ({KEY: VALUE}, b"{not json", ("unreadable notification", 400), 0),
    ({}, b"{not json", ("unauthorized", 401), 0),
])
def test_webhook_reply_answers_by_outcome(headers: Any, body: bytes, answer: tuple[str, int], processed: int) -> None:
    seen: list[PaymentNotification] = []
    assert webhook_reply(headers, body, KEY, VALUE, seen.append) == answer
    assert len(seen) == processed


CASES = [({KEY: VALUE}, BODY, 200), ({KEY: "no"}, BODY, 401), ({}, BODY, 401), ({KEY: VALUE}, b"[]", 400),
         ({KEY: VALUE}, BODY.replace(b"\xc3\xb1", b"\xff"), 400)]


@pytest.mark.parametrize("headers, body, status", CASES)
def test_fastapi_dependency_reads_the_raw_body(headers: dict[str, str], body: bytes, status: int) -> None:
    fastapi = pytest.importorskip("fastapi")
    from fastapi.testclient import TestClient

    from corvane_bo.qr.webhook_asgi import notification_dependency

    app = fastapi.FastAPI()
    seen: list[PaymentNotification] = []

    @app.post("/notify")
    async def notify(note: PaymentNotification = fastapi.Depends(notification_dependency(KEY, VALUE))) -> dict[str, str]:
        seen.append(note)
        return {"status": "ok"}

    response = TestClient(app).post("/notify", content=body, headers={"Content-Type": "application/json", **headers})
    assert response.status_code == status and len(seen) == (status == 200)
    if status == 200:
        assert seen[0].amount == Decimal("25.5") and seen[0].response_detail == "ñ"


@pytest.mark.parametrize("headers, body, status", CASES)
def test_flask_view_reads_the_raw_body(headers: dict[str, str], body: bytes, status: int) -> None:
    flask = pytest.importorskip("flask")
    app = flask.Flask(__name__)
    seen: list[PaymentNotification] = []

    @app.post("/notify")
    def notify() -> Any:
        return webhook_reply(flask.request.headers, flask.request.get_data(), KEY, VALUE, seen.append)

    response = app.test_client().post("/notify", data=body, headers={"Content-Type": "application/json", **headers})
    assert response.status_code == status and len(seen) == (status == 200)
    assert json.dumps(seen[0].reference if seen else None)
