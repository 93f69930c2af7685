"""The stand-in bank over real HTTP on loopback, without the engine. Its ordinary answers are exercised
through the client by test_client_integration.py; these are the checks and states it must keep."""

from __future__ import annotations

import http.client
import json
from collections.abc import Iterator
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from typing import Any

import pytest

from corvane_bo.qr import HttpRequest, Response, UrllibTransport
from corvane_bo.qr.sandbox import SandboxBank, WebhookReceiver

TOKEN = "s4ndb0x-t0ken"


class Clock:
    def __init__(self) -> None:
        self.now = datetime(2026, 3, 1, 9, 30, tzinfo=timezone(timedelta(hours=-4)))

    def __call__(self) -> datetime:
        return self.now


@pytest.fixture
def bank() -> Iterator[SandboxBank]:
    with SandboxBank(client_id="cid", access_token=TOKEN) as bank:
        yield bank


API_HEADERS = {"Authorization": f"Bearer {TOKEN}", "access_token": TOKEN, "client_id": "cid",
               "Content-Type": "application/json", "Accept": "application/json"}


def send(bank: Any, method: str, path: str, body: str | None = None,
         headers: dict[str, str] = API_HEADERS) -> tuple[Response, Any]:
    response = UrllibTransport(timeout=5)(HttpRequest(method, f"{bank.base_url}/{path}", headers, body))
    return response, json.loads(response.body, parse_float=Decimal)


def generate_body(reference: str = "1001", url: str = "http://127.0.0.1:9/hook", **extra: Any) -> str:
    # Written by hand, as the engine writes it: the amount is a bare JSON number.
    fields = {"glosa": "Pedido", "idEstablecimiento": 7, "moneda": "BOB", "nombreEstablecimiento": "Tienda",
              "numeroReferencia": reference, "vigencia": 600,
              "webhook": {"key": "X-Hook", "url": url, "value": "s3cret"}, **extra}
    monto = fields.pop("monto", "0.3")
    return json.dumps(fields)[:-1] + f',"monto":{monto}}}'


@pytest.mark.parametrize("name, value", [
    ("Authorization", None), ("Authorization", TOKEN), ("access_token", "other"), ("client_id", "someone-else"),
    ("Content-Type", "text/plain"), ("Accept", None),
])
def test_api_headers_are_checked(bank: SandboxBank, name: str, value: str | None) -> None:
    headers = {key: text for key, text in {**API_HEADERS, name: value}.items() if text is not None}
    response, answer = send(bank, "GET", "qr/simple/v2/verify/1", headers=headers)
    assert response.status == 401 and name in answer["error_description"] and TOKEN not in response.body


def test_invalid_generate_bodies(bank: SandboxBank) -> None:
    response, answer = send(bank, "POST", "qr/simple/v2/generate", generate_body(monto="-1", vigencia=0))
    assert response.status == 400 and answer["success"] is False
    assert {e["field"] for e in answer["errors"]} == {"monto", "vigencia"}
    response, _ = send(bank, "POST", "qr/simple/v2/generate", "{not json")
    assert response.status == 400
    assert send(bank, "POST", "qr/simple/v2/generate", generate_body())[0].status == 200
    response, answer = send(bank, "POST", "qr/simple/v2/generate", generate_body())
    assert (response.status, answer["success"]) == (409, False)


def test_verify_cancel_and_expiry() -> None:
    clock = Clock()
    with SandboxBank(client_id="cid", access_token=TOKEN, clock=clock) as bank:
        verify_cancel_and_expire(bank, clock)


def verify_cancel_and_expire(bank: SandboxBank, clock: "Clock") -> None:
    for reference in ("1", "2", "3"):
        send(bank, "POST", "qr/simple/v2/generate", generate_body(reference))
    assert send(bank, "GET", "qr/simple/v2/verify/99")[0].status == 404
    assert send(bank, "GET", "qr/simple/v2/cancel/1")[0].status == 405

    response, answer = send(bank, "POST", "qr/simple/v2/cancel/1")
    assert response.status == 200 and answer["data"]["estado"] == "CANCELADO"
    bank.pay("2", deliver=False)
    assert send(bank, "POST", "qr/simple/v2/cancel/2")[0].status == 409  # paid QRs stay paid
    with pytest.raises(ValueError):
        bank.pay("1", deliver=False)

    clock.now += timedelta(seconds=601)
    assert send(bank, "GET", "qr/simple/v2/verify/3")[1]["data"]["estado"] == "EXPIRADO"
    with pytest.raises(ValueError):
        bank.pay("3")
    with pytest.raises(KeyError):
        bank.pay("404")


def test_fail_next_precedes_every_check_and_is_counted(bank: SandboxBank) -> None:
    bank.fail_next(2, 503, retry_after=3)
    for _ in range(2):
        response, answer = send(bank, "GET", "qr/simple/v2/verify/1", headers={})
        assert response.status == 503 and "success" not in answer and response.headers.get("Retry-After") == "3"
    assert send(bank, "GET", "qr/simple/v2/verify/1", headers={})[0].status == 401
    assert [r.status for r in bank.requests("/verify/")] == [503, 503, 401]
    bank.fail_next(3, 500)
    assert bank.clear_failures() == 3 and bank.clear_failures() == 0
    assert send(bank, "GET", "qr/simple/v2/verify/1", headers={})[0].status == 401


def test_receiver_reports_handler_status_and_failures() -> None:
    statuses = iter([202])

    def handler(headers: Any, body: bytes) -> int:
        return next(statuses)  # raises StopIteration on the second call

    with WebhookReceiver(handler) as receiver:
        post = HttpRequest("POST", receiver.url, {"X-A": "1"}, "{}")
        assert UrllibTransport(timeout=5)(post).status == 202
        assert UrllibTransport(timeout=5)(post).status == 500
        assert [r.status for r in receiver.wait(2)] == [202, 500]
        with pytest.raises(TimeoutError):
            receiver.wait(3, timeout=0.1)


def test_keep_alive_serves_many_requests_on_one_connection(bank: SandboxBank) -> None:
    host, port = bank.base_url.removeprefix("http://").split(":")
    connection = http.client.HTTPConnection(host, int(port), timeout=5)
    for _ in range(100):
        connection.request("GET", "/qr/simple/v2/verify/1", headers=API_HEADERS)
        response = connection.getresponse()
        assert response.status == 404 and response.getheader("Content-Length") and response.read()
    connection.request("GET", "/qr/simple/v2/verify/1", headers={**API_HEADERS, "Connection": "close"})
    response = connection.getresponse()
    assert response.getheader("Connection") == "close" and response.read()
    assert response.will_close and bank.connections_accepted == 1
    connection.close()
