"""The bank's checks of a generate request's body."""

from __future__ import annotations

import json
import re
from collections.abc import Callable
from decimal import Decimal
from typing import Any

from .notify import deliverable

__all__ = ["MAX_AMOUNT_DIGITS", "MAX_LIFETIME", "read_generate"]

MAX_AMOUNT_DIGITS = 26  # integer digits; below the engine's largest amount, far above any real one
MAX_LIFETIME = 366 * 24 * 3600  # seconds
_HEADER_NAME = re.compile(r"[!#$%&'*+\-.^_`|~0-9A-Za-z]+")


def _text(value: Any) -> bool:
    return isinstance(value, str) and bool(value.strip())


def _amount(value: Any) -> bool:
    """Positive, in cents at most, and of a size a payment can have.

    Judged on the digits and exponent alone: ``1E+50000000`` is 30 bytes
    of JSON whose plain text would be 50 MB.
    """
    if isinstance(value, bool) or not isinstance(value, (Decimal, int)):
        return False
    sign, digits, exponent = Decimal(value).as_tuple()
    if sign or not isinstance(exponent, int) or not any(digits):
        return False
    zeros = len(digits) - len("".join(map(str, digits)).rstrip("0"))
    return exponent + zeros >= -2 and len(digits) + exponent <= MAX_AMOUNT_DIGITS


def _count(value: Any) -> bool:
    return type(value) is int and value > 0


def _lifetime(value: Any) -> bool:
    return type(value) is int and 0 < value <= MAX_LIFETIME


def _webhook(value: Any) -> bool:
    if not (isinstance(value, dict) and all(isinstance(value.get(k), str) for k in ("url", "key", "value"))):
        return False
    header_value = value["value"]
    return (deliverable(value["url"]) and bool(_HEADER_NAME.fullmatch(value["key"]))
            and header_value.isprintable() and header_value.isascii())


_CHECKS: tuple[tuple[str, Callable[[Any], bool]], ...] = (
    ("glosa", _text),
    ("monto", _amount),
    ("moneda", lambda v: v == "BOB"),
    ("numeroReferencia", lambda v: isinstance(v, str) and v.isascii() and v.isdigit()),
    ("idEstablecimiento", _count),
    ("nombreEstablecimiento", _text),
    ("vigencia", _lifetime),
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
