"""The stand-in bank over real HTTP on loopback, without the engine."""

from __future__ import annotations

import base64
import json
import socket
import struct
import sys
import zlib
from collections.abc import Iterator
from datetime import timedelta
from decimal import Decimal
from typing import Any

import pytest

from corvane_bo.qr import HttpRequest, Response, UrllibTransport
from corvane_bo.qr import sandbox as sandbox_module
from corvane_bo.qr.sandbox import SandboxBank, WebhookReceiver, qr_png

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
TOKEN = "s4ndb0x-t0ken"


@pytest.fixture
def bank() -> Iterator[SandboxBank]:
    with SandboxBank(client_id="cid", access_token=TOKEN) as bank:
        yield bank


@pytest.fixture
def receiver() -> Iterator[WebhookReceiver]:
    with WebhookReceiver() as receiver:
        yield receiver


def api_headers(token: str = TOKEN, client_id: str = "cid") -> dict[str, str]:
    return {"Authorization": f"Bearer {token}", "access_token": token, "client_id": client_id,
            "Content-Type": "application/json", "Accept": "application/json"}


def send(bank: SandboxBank, method: str, path: str, body: Any = None,
         headers: dict[str, str] | None = None) -> tuple[Response, Any]:
    text = body if isinstance(body, str) or body is None else json.dumps(body)
    response = UrllibTransport(timeout=5)(HttpRequest(
        method, f"{bank.base_url}/{path}", api_headers() if headers is None else headers, text))
    return response, json.loads(response.body, parse_float=Decimal)


def generate_body(reference: str = "1001", url: str = "http://127.0.0.1:9/hook", **extra: Any) -> str:
    # Written by hand, as the engine writes it: the amount is a bare JSON number.
    fields = {"glosa": "Pedido", "idEstablecimiento": 7, "moneda": "BOB", "nombreEstablecimiento": "Tienda",
              "numeroReferencia": reference, "vigencia": 600,
              "webhook": {"key": "X-Hook", "url": url, "value": "s3cret"}, **extra}
    monto = fields.pop("monto", "0.3")
    return json.dumps(fields)[:-1] + f',"monto":{monto}}}'


def test_generate_answers_the_envelope_with_an_exact_amount_and_a_png(bank: SandboxBank) -> None:
    response, answer = send(bank, "POST", "qr/mld/v2/generate", generate_body(monto="12345678901234567890.12"))
    assert response.status == 200 and answer["success"] is True
    data = answer["data"]
    assert '"monto":12345678901234567890.12' in response.body  # exact digits, as a number
    assert (data["numeroReferencia"], data["estado"], data["moneda"]) == ("1001", "PENDIENTE", "BOB")
    assert base64.b64decode(data["qr"]).startswith(PNG_SIGNATURE)
    assert "kind=mld" in bank.qr_content("1001")


@pytest.mark.parametrize("drop, value", [
    ("Authorization", None), ("Authorization", "Bearer other"), ("Authorization", TOKEN),
    ("access_token", None), ("access_token", "other"), ("client_id", "someone-else"),
    ("Content-Type", "text/plain"), ("Content-Type", None), ("Accept", "text/html"), ("Accept", None),
])
def test_api_headers_are_checked(bank: SandboxBank, drop: str, value: str | None) -> None:
    headers = api_headers()
    if value is None:
        del headers[drop]
    else:
        headers[drop] = value
    response, answer = send(bank, "GET", "qr/simple/v2/verify/1", headers=headers)
    assert response.status == 401 and drop in answer["error_description"]
    assert TOKEN not in response.body


def test_invalid_generate_bodies(bank: SandboxBank) -> None:
    response, answer = send(bank, "POST", "qr/simple/v2/generate", generate_body(monto="-1", vigencia=0))
    assert response.status == 400 and answer["success"] is False
    assert {e["field"] for e in answer["errors"]} == {"monto", "vigencia"}
    response, _ = send(bank, "POST", "qr/simple/v2/generate", "{not json")
    assert response.status == 400
    assert send(bank, "POST", "qr/simple/v2/generate", generate_body())[0].status == 200
    response, answer = send(bank, "POST", "qr/simple/v2/generate", generate_body())
    assert response.status == 409 and answer["success"] is False


def test_verify_cancel_and_expiry(bank: SandboxBank, monkeypatch: pytest.MonkeyPatch) -> None:
    for reference in ("1", "2", "3"):
        send(bank, "POST", "qr/simple/v2/generate", generate_body(reference))
    assert send(bank, "GET", "qr/simple/v2/verify/1")[1]["data"]["estado"] == "PENDIENTE"
    assert send(bank, "GET", "qr/mld/v2/verify/1")[0].status == 404  # other product
    assert send(bank, "GET", "qr/simple/v2/verify/99")[0].status == 404
    assert send(bank, "GET", "qr/simple/v2/cancel/1")[0].status == 405

    response, answer = send(bank, "POST", "qr/simple/v2/cancel/1")
    assert response.status == 200 and answer["data"]["estado"] == "CANCELADO"
    bank.pay("2", deliver=False)
    assert send(bank, "POST", "qr/simple/v2/cancel/2")[0].status == 409  # paid QRs stay paid
    with pytest.raises(ValueError):
        bank.pay("1", deliver=False)

    later = sandbox_module._now() + timedelta(seconds=601)
    monkeypatch.setattr(sandbox_module, "_now", lambda: later)
    assert send(bank, "GET", "qr/simple/v2/verify/3")[1]["data"]["estado"] == "EXPIRADO"
    with pytest.raises(ValueError):
        bank.pay("3")


def test_pay_posts_the_notification_with_the_agreed_header(bank: SandboxBank, receiver: WebhookReceiver) -> None:
    send(bank, "POST", "qr/simple/v2/generate", generate_body("77", url=f"  {receiver.url}  ", monto="10.50"))
    delivery = bank.pay("77")
    assert delivery is not None and delivery.status == 200 and delivery.error is None
    (note,) = receiver.wait()
    assert note.header("x-hook") == "s3cret" and note.path == "/webhook"
    assert b'"monto":10.50' in note.body
    body = json.loads(note.body)
    assert (body["numeroReferencia"], body["codigoRespuesta"], body["moneda"]) == ("77", "PAGADO", "BOB")
    assert body["clienteOrigen"]["nombreCliente"] and body["bancoOrigen"]["nombreBanco"]
    assert body["fechaHoraTransaccion"]

    data = send(bank, "GET", "qr/simple/v2/verify/77")[1]["data"]
    assert data["estado"] == "PAGADO" and data["clienteOrigen"] == body["clienteOrigen"]
    with pytest.raises(KeyError):
        bank.pay("404")


def test_pay_endpoint_and_failed_delivery(bank: SandboxBank) -> None:
    send(bank, "POST", "qr/simple/v2/generate", generate_body("5", url="http://127.0.0.1:1/nobody"))
    response, answer = send(bank, "POST", "_sandbox/pay/5", headers={})
    assert response.status == 200 and answer["data"]["webhookError"]
    assert bank.status_of("5") == "PAGADO"
    assert send(bank, "POST", "_sandbox/pay/5", headers={})[0].status == 409
    assert send(bank, "POST", "_sandbox/pay/6", headers={})[0].status == 404


def test_fail_next_precedes_every_check_and_is_counted(bank: SandboxBank) -> None:
    bank.fail_next(2, 503, retry_after=3)
    for _ in range(2):
        response, answer = send(bank, "GET", "qr/simple/v2/verify/1", headers={})
        assert response.status == 503 and "success" not in answer
        assert response.headers.get("Retry-After") == "3"
    assert send(bank, "GET", "qr/simple/v2/verify/1", headers={})[0].status == 401
    assert [r.status for r in bank.requests("/verify/")] == [503, 503, 401]


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


def test_close_stops_serving_and_is_idempotent() -> None:
    bank = SandboxBank()
    host, port = bank.base_url.removeprefix("http://").split(":")
    bank.close()
    bank.close()
    with pytest.raises(OSError):
        socket.create_connection((host, int(port)), timeout=1).close()


def _png_chunks(png: bytes) -> dict[bytes, bytes]:
    assert png.startswith(PNG_SIGNATURE)
    chunks, at = {}, len(PNG_SIGNATURE)
    while at < len(png):
        (length,) = struct.unpack(">I", png[at:at + 4])
        tag, data = png[at + 4:at + 8], png[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", png[at + 8 + length:at + 12 + length])
        assert crc == zlib.crc32(tag + data)
        chunks[tag] = chunks.get(tag, b"") + data
        at += 12 + length
    return chunks


def test_png_without_segno_is_a_valid_image(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setitem(sys.modules, "segno", None)  # as if the extra were not installed
    png = qr_png("corvane-sandbox:qr?ref=1", scale=2)
    chunks = _png_chunks(png)
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert width == height == 66 and (depth, colour) == (8, 0)
    pixels = zlib.decompress(chunks[b"IDAT"])
    assert len(pixels) == height * (width + 1)
    assert qr_png("corvane-sandbox:qr?ref=2", scale=2) != png and b"IEND" in chunks
