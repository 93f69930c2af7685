"""What the stand-in bank writes: JSON with exact amounts, its answers, and QR images."""

from __future__ import annotations

import io
import json
from collections.abc import Mapping
from dataclasses import dataclass, field
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from typing import Any

import segno

from .server import Response

__all__ = ["Answer", "BOLIVIA", "dumps", "fail", "now", "ok", "qr_png"]

BOLIVIA = timezone(timedelta(hours=-4))
PENDING, PAID, CANCELLED, EXPIRED = "PENDIENTE", "PAGADO", "CANCELADO", "EXPIRADO"


def now() -> datetime:
    return datetime.now(BOLIVIA).replace(microsecond=0)


def qr_png(content: str, scale: int = 4) -> bytes:
    """A PNG of the QR code for ``content``, scannable, with the standard quiet zone."""
    buffer = io.BytesIO()
    segno.make(content, error="m").save(buffer, kind="png", scale=scale, border=4)
    return buffer.getvalue()


def dumps(value: Any) -> str:
    """Compact JSON where a Decimal is written as a number with its exact digits."""
    if isinstance(value, Decimal):
        return format(value, "f")
    if isinstance(value, dict):
        return "{" + ",".join(json.dumps(str(k)) + ":" + dumps(v) for k, v in value.items()) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(dumps(v) for v in value) + "]"
    return json.dumps(value, ensure_ascii=False)


@dataclass(frozen=True)
class Answer:
    """A JSON answer of the bank."""

    status: int
    body: dict[str, Any]
    headers: Mapping[str, str] = field(default_factory=dict)

    def response(self) -> Response:
        return Response(self.status, dumps(self.body).encode("utf-8"),
                        (("Content-Type", "application/json; charset=utf-8"), *self.headers.items()))


def ok(message: str, data: dict[str, Any]) -> Answer:
    return Answer(200, {"success": True, "message": message, "data": data})


def fail(status: int, message: str, errors: list[dict[str, str]] | None = None,
         headers: Mapping[str, str] | None = None) -> Answer:
    return Answer(status, {"success": False, "message": message, "errors": errors or []}, headers or {})
