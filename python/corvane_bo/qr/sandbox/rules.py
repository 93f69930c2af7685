"""The bank's checks of a generate request's body."""

from __future__ import annotations

import json
from collections.abc import Callable
from decimal import Decimal
from typing import Any

__all__ = ["read_generate"]


def _text(value: Any) -> bool:
    return isinstance(value, str) and bool(value.strip())


def _amount(value: Any) -> bool:
    return isinstance(value, (Decimal, int)) and not isinstance(value, bool) and value > 0


def _count(value: Any) -> bool:
    return type(value) is int and value > 0


def _webhook(value: Any) -> bool:
    return isinstance(value, dict) and all(isinstance(value.get(k), str) for k in ("url", "key", "value"))


_CHECKS: tuple[tuple[str, Callable[[Any], bool]], ...] = (
    ("glosa", _text),
    ("monto", _amount),
    ("moneda", lambda v: v == "BOB"),
    ("numeroReferencia", lambda v: isinstance(v, str) and v.isascii() and v.isdigit()),
    ("idEstablecimiento", _count),
    ("nombreEstablecimiento", _text),
    ("vigencia", _count),
    ("webhook", _webhook),
)


def read_generate(raw: bytes) -> tuple[dict[str, Any] | None, list[dict[str, str]]]:
    """The body as a dict, or None with the field errors the bank reports (none for JSON that fails to read)."""
    try:
        body = json.loads(raw, parse_float=Decimal)
    except (ValueError, RecursionError):
        return None, []
    if not isinstance(body, dict):
        return None, []
    errors = [{"field": key, "message": "valor inválido", "code": "INVALIDO"}
              for key, check in _CHECKS if not check(body.get(key))]
    return (None if errors else body), errors
