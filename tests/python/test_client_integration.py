"""The client, the real engine and the stand-in bank together over loopback HTTP."""

from __future__ import annotations

from collections.abc import Iterator
from decimal import Decimal
from typing import Any

import pytest

from corvane_bo.qr import (AccessToken, AmbiguousError, ApiError, AuthenticationError, Client, HttpRequest, PaymentStatus, QrKind,
                          TransportError, UrllibTransport, ValidationError, WebhookTarget, parse_webhook)
from corvane_bo.qr.sandbox import SandboxBank, WebhookReceiver


def _qr_operations_built() -> bool:
    try:
        from corvane_bo.qr import _native
    except ImportError:
        return False
    return "qr.generate" in _native.call("describe", "")


pytestmark = pytest.mark.skipif(not _qr_operations_built(), reason="the engine has no QR operations yet")

KEY, VALUE = "X-Corvane-Hook", "hook-secret-1"


@pytest.fixture
def bank() -> Iterator[SandboxBank]:
    with SandboxBank() as bank:
        yield bank


@pytest.fixture
def receiver() -> Iterator[WebhookReceiver]:
    with WebhookReceiver() as receiver:
        yield receiver


def client_for(bank: SandboxBank, sleeps: list[float] | None = None, **kw: Any) -> Client:
    record = sleeps if sleeps is not None else []
    return Client(bank.config(), bank.token(), sleep=record.append,
                  webhook=WebhookTarget("http://127.0.0.1:9/hook", KEY, VALUE), **kw)


def generate(client: Client, reference: str = "1001", amount: Any = Decimal("25.50"), **kw: Any) -> Any:
    return client.generate(amount, reference, "Pedido", establishment_id=7,
                           establishment_name="Tienda Ñandú 2", expires_in=600, **kw)


def test_generate_pay_notify_verify(bank: SandboxBank, receiver: WebhookReceiver) -> None:
    client = client_for(bank)
    qr = generate(client, webhook=WebhookTarget(receiver.url, KEY, VALUE))
    assert (qr.reference, qr.amount, qr.currency) == ("1001", Decimal("25.5"), "BOB")
    assert qr.status is PaymentStatus.PENDING and qr.kind is QrKind.SIMPLE and qr.expires_at
    assert qr.png().startswith(b"\x89PNG\r\n\x1a\n")
    assert client.verify("1001").status is PaymentStatus.PENDING

    bank.pay("1001")
    (received,) = receiver.wait()
    note = parse_webhook(received.headers, received.body, KEY, VALUE)
    assert (note.reference, note.amount, note.currency) == ("1001", Decimal("25.5"), "BOB")
    assert note.success and note.status is PaymentStatus.PAID and note.response_code == "PAGADO"
    assert note.payer is not None and note.payer.name == "CLIENTE SANDBOX" and note.transaction_at

    info = client.verify("1001")
    assert info.paid and info.amount == Decimal("25.5") and info.message
    assert info.payer_bank is not None and info.payer_bank.bank_name == "BANCO SANDBOX"
    with pytest.raises(ApiError) as refused:
        client.cancel("1001")
    assert refused.value.status == 409 and not refused.value.retryable


def test_mld_verify_and_cancel(bank: SandboxBank) -> None:
    client = client_for(bank)
    assert generate(client, "7", kind="mld").kind is QrKind.MLD
    assert client.verify("7", kind=QrKind.MLD).kind is QrKind.MLD
    with pytest.raises(ApiError) as missing:
        client.verify("7")  # the simple product does not know it
    assert missing.value.status == 404
    cancelled = client.cancel("7")
    assert cancelled.status is PaymentStatus.CANCELLED and cancelled.kind is QrKind.SIMPLE


def test_wrong_token(bank: SandboxBank) -> None:
    client = Client(bank.config(), AccessToken("not-the-token", expires_at=0), sleep=lambda s: None)
    with pytest.raises(AuthenticationError) as denied:
        client.verify("1")
    assert denied.value.status == 401 and "Authorization" in str(denied.value)
    assert len(bank.requests("/verify/")) == 1  # authentication failures are not retried


def test_verify_is_retried_after_503_but_generate_is_not(bank: SandboxBank) -> None:
    sleeps: list[float] = []
    client = client_for(bank, sleeps)
    bank.fail_next(1, 503)
    with pytest.raises(AmbiguousError) as failed:  # a 503 may come after the bank acted
        generate(client)
    assert isinstance(failed.value.__cause__, ApiError) and failed.value.__cause__.status == 503
    assert len(bank.requests("/generate")) == 1
    generate(client)  # retrying is the application's call
    bank.fail_next(1, 503, retry_after=2)
    assert client.verify("1001").status is PaymentStatus.PENDING
    assert [r.status for r in bank.requests("/verify/")] == [503, 200]
    assert len(sleeps) == 1 and sleeps[0] >= 2


def test_unreachable_bank(bank: SandboxBank) -> None:
    sleeps: list[float] = []
    client = client_for(bank, sleeps)
    bank.close()
    with pytest.raises(TransportError):
        client.verify("1")
    assert len(sleeps) == 2
    with pytest.raises(TransportError):  # refused: certainly never sent, so not ambiguous
        generate(client)
    assert len(sleeps) == 2


def test_amounts_never_pass_through_float(bank: SandboxBank) -> None:
    sent: list[HttpRequest] = []

    def transport(request: HttpRequest) -> Any:  # the default one, keeping what was sent
        sent.append(request)
        return UrllibTransport(timeout=5)(request)

    client = client_for(bank, transport=transport)
    qr = generate(client, "1", Decimal("0.1") + Decimal("0.2"))
    assert '"monto":0.3,' in (sent[0].body or "") and qr.amount == Decimal("0.3")

    huge = "12345678901234567890.12"  # far beyond a double's 15-17 digits
    qr = generate(client, "2", huge)
    assert f'"monto":{huge},' in (sent[1].body or "")
    assert qr.amount == Decimal(huge) and client.verify("2").amount == Decimal(huge)
    assert generate(client, "3", "10.500").amount == Decimal("10.5")

    with pytest.raises(ValidationError) as places:
        generate(client, "4", "0.1000000000000000000000000001")
    assert (places.value.field, places.value.message) == ("amount", "at most 2 decimal places are allowed")
    with pytest.raises(TypeError):
        generate(client, "5", 0.3)
    assert [r.method for r in sent] == ["POST", "POST", "GET", "POST"]  # nothing sent for 4 and 5
