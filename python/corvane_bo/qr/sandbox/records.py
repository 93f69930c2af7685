"""The stand-in bank's records: QR payments, notification attempts, and the requests it answered."""

from __future__ import annotations

from dataclasses import dataclass
from datetime import datetime
from decimal import Decimal
from typing import Any

from .wire import PENDING

__all__ = ["Delivery", "Qr", "RecordedRequest"]


@dataclass(frozen=True)
class RecordedRequest:
    """One request the sandbox received and what it answered."""

    method: str
    path: str
    status: int


@dataclass(frozen=True)
class Delivery:
    """One attempt at posting a notification to the merchant's webhook URL.

    ``status`` is the HTTP status the endpoint answered; ``error`` says why
    there was no answer (refused, timed out, not an http(s) URL).
    """

    url: str
    body: str
    status: int | None = None
    error: str | None = None
    reference: str = ""
    attempt: int = 1
    at: str = ""
    excerpt: str = ""

    @property
    def delivered(self) -> bool:
        return self.status is not None and 200 <= self.status < 300


@dataclass
class Qr:
    reference: str
    kind: str
    amount: Decimal
    description: str
    created_at: datetime
    expires_at: datetime
    webhook: dict[str, str]
    image: str = ""  # the PNG, base64
    status: str = PENDING
    payer: dict[str, Any] | None = None
    bank: dict[str, Any] | None = None

    def content(self) -> str:
        return f"corvane-sandbox:qr?kind={self.kind}&ref={self.reference}&amount={self.amount}&currency=BOB"
