"""End-to-end demonstration against the stand-in bank, all on loopback.

Generate a QR, show it, pay it, receive and authenticate the notification,
verify the payment.  Run as ``python -m corvane_bo.qr demo``.
"""

from __future__ import annotations

import contextlib
import os
import queue
import secrets
import sys
import tempfile
from typing import TextIO

import segno

from .client import Client
from .errors import QrError, WebhookAuthError
from .models import PaymentNotification, WebhookTarget
from .sandbox import SandboxBank, WebhookReceiver
from .webhook import parse_webhook

__all__ = ["print_qr", "run_demo"]


def print_qr(content: str, stream: TextIO) -> None:
    """Draw the QR code of ``content`` on a terminal."""
    code = segno.make(content, error="m")
    try:
        code.terminal(out=stream, compact=True)
    except UnicodeEncodeError:  # a terminal without block characters
        code.terminal(out=stream)


def run_demo(amount: str = "12.50", out: str | None = None, stream: TextIO = sys.stdout) -> int:
    def say(step: str, text: str) -> None:
        print(f"{step:<9}{text}", file=stream, flush=True)

    key, value = "X-Corvane-Webhook", secrets.token_urlsafe(18)
    reference = str(secrets.randbelow(2_000_000_000) + 1)  # the bank keeps references in 32 bits
    notifications: queue.Queue[PaymentNotification] = queue.Queue()

    def on_webhook(headers: tuple[tuple[str, str], ...], body: bytes) -> int:
        try:
            notifications.put(parse_webhook(headers, body, key, value))
        except WebhookAuthError:
            return 401
        except QrError:
            return 400
        return 200

    if out is not None and not os.path.isdir(os.path.dirname(os.path.abspath(out))):
        say("error", f"cannot write the QR image to {out}: its folder does not exist")
        return 1
    try:
        with contextlib.ExitStack() as cleanup:
            bank = cleanup.enter_context(SandboxBank())
            receiver = cleanup.enter_context(WebhookReceiver(on_webhook))
            say("bank", f"stand-in bank listening on {bank.base_url}")
            say("webhook", f"receiver listening on {receiver.url}")
            client = Client(bank.config(), bank.token(), timeout=10.0)

            qr = client.generate(
                amount, reference, "Demo purchase",
                establishment_id=1, establishment_name="Tienda Demo", expires_in=600,
                webhook=WebhookTarget(receiver.url, key, value),
            )
            say("generate", f"QR {qr.reference} for {qr.amount} {qr.currency}: "
                            f"{qr.status.value}, expires {qr.expires_at}")

            folder = None if out else cleanup.enter_context(tempfile.TemporaryDirectory(prefix="corvane-qr-"))
            path = out or os.path.join(folder or "", f"qr-{qr.reference}.png")
            png = qr.png()
            try:
                with open(path, "wb") as file:
                    file.write(png)
            except OSError as exc:
                say("error", f"cannot write the QR image to {path}: {exc.strerror or exc}")
                return 1
            kept = "" if out else " (removed when the demo ends; --out keeps it)"
            say("image", f"{len(png)} bytes of PNG written to {path}{kept}")
            print_qr(bank.qr_content(qr.reference), stream)

            delivery = bank.pay(qr.reference)
            answered = delivery.status if delivery is not None else None
            say("pay", f"the bank marks the QR paid and posts the notification (answered {answered})")
            try:
                note = notifications.get(timeout=5.0)
            except queue.Empty:
                say("error", "no authenticated notification arrived")
                return 1
            payer = note.payer.name if note.payer else "unknown payer"
            say("webhook", f"authenticated: {note.reference} {note.status.value}, "
                           f"{note.amount} {note.currency} from {payer}")

            try:
                parse_webhook({key: "forged"}, b"not even JSON", key, value)
                say("error", "a forged notification was accepted")
                return 1
            except WebhookAuthError as exc:
                say("webhook", f"a forged notification is refused: {exc}")

            info = client.verify(qr.reference)
            bank_name = info.payer_bank.bank_name if info.payer_bank else "unknown bank"
            say("verify", f"QR {info.reference} is {info.status.value} ({info.raw_status}) "
                          f"through {bank_name}")
            return 0 if info.paid else 1
    except QrError as exc:
        say("error", f"{type(exc).__name__}: {exc}")
        return 1
