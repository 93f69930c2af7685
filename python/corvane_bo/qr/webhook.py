"""Reading the payment notifications that the bank network posts to the merchant.

A notification is authenticated by one agreed header, always the same:
it proves who sent it, not that it is new.  The bank may deliver a
notification more than once, and a copy of one may be replayed.  So a
merchant:

1. processes a notification once per reference: keeps the references it
   has processed (a unique key in its database) and answers 200 to a
   repeat without acting on it again;
2. before treating an order as paid, checks that the notification is the
   payment of that order: its reference, and its amount against the
   amount the order was for (:func:`pays_order`);
3. when in doubt, asks the bank (``client.verify(reference)``).
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping
from decimal import Decimal
from email.message import Message
from typing import Any, Union

from .engine import NativeCall, invoke
from .errors import DecodeError, ValidationError, WebhookAuthError
from .models import Amount, PaymentNotification, amount_text

__all__ = ["Headers", "parse_webhook", "pays_order", "webhook_reply"]

Headers = Union[Mapping[str, str], Message, Iterable[tuple[str, str]]]


def _bytes(text: str) -> bytes:
    return text.encode("utf-8", "surrogatepass")


def _encodable(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def _items(headers: Headers) -> Iterable[tuple[Any, Any]]:
    items = getattr(headers, "items", None)
    return items() if callable(items) else headers  # type: ignore[return-value]


def checked_header(names: Iterable[str], key: str) -> str | None:
    """The received header name whose value is compared with the agreed one.

    Of the names equal to ``key`` with ASCII letters folded, the first in
    byte order ("X-Hook" before "x-hook"); a name given more than once
    exactly counts with its last value.  The engine applies the same rule.
    """
    wanted = _bytes(key).lower()  # bytes.lower folds ASCII letters only, as the engine does
    matches = [name for name in names if _bytes(name).lower() == wanted]
    return min(matches, key=_bytes) if matches else None


def _header_map(headers: Headers, key: str) -> dict[str, str]:
    received: dict[str, str] = {}
    for name, value in _items(headers):
        received[str(name)] = str(value)  # a later value of the same name replaces the earlier
    checked = checked_header(received, key)
    if checked is not None and not _encodable(received[checked]):
        # A lone surrogate (from bytes decoded with surrogateescape) matches no agreed value.
        raise WebhookAuthError(f"`{key}` header does not match")
    # Other headers are never looked at; those that are not text are left out.
    return {n: v for n, v in received.items() if _encodable(n) and _encodable(v)}


def _utf8_failure(raw: bytes) -> DecodeError | None:
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError as exc:
        before = raw[: exc.start]
        line = before.count(b"\n") + 1
        column = exc.start - (before.rfind(b"\n") + 1) + 1
        return DecodeError(f"invalid webhook payload: invalid UTF-8 at line {line} column {column}")
    return None


def parse_webhook(
    headers: Headers,
    body: str | bytes,
    key: str,
    value: str,
    *,
    call: NativeCall | None = None,
) -> PaymentNotification:
    """Authenticate a received notification and read it.

    ``headers`` are the request's headers as received: any mapping, an
    ``email.message.Message`` (``http.server``'s), an object with
    ``items()`` (Starlette's, Werkzeug's, Django's), or name/value pairs;
    which one is checked is said by :func:`checked_header`.  ``key`` and
    ``value`` are the header name and value agreed in the generate
    request's webhook target.  The header is checked, in constant time,
    before the body is looked at, so an unauthenticated request raises
    :class:`WebhookAuthError` whatever its body holds.

    ``body`` must be the raw body exactly as it arrived (the bytes, or their
    text).  Do not pass a body that a web framework parsed as JSON and
    serialised again: that changes key order, spacing and number formatting.
    A body that is not valid UTF-8 is refused, never repaired.

    The header proves who sent the notification, not that it is new:
    process each reference once, and check it against the order
    (:func:`pays_order`) before treating the order as paid.

    Raises :class:`WebhookAuthError` for a missing or wrong header,
    :class:`ValidationError` for an empty or unencodable expected ``key``
    or ``value``, and :class:`DecodeError` for a body that is not a
    readable notification.
    """
    for field, text in (("key", key), ("value", value)):
        if not _encodable(text):
            raise ValidationError("expected webhook header must be text without lone surrogates", field)
    raw = body if isinstance(body, bytes) else _bytes(body)
    unreadable = _utf8_failure(raw)
    payload = {"headers": _header_map(headers, key), "body": "" if unreadable else raw.decode("utf-8"),
               "key": key, "value": value}
    if unreadable is None:
        return PaymentNotification.from_json(invoke(call, "qr.webhook.parse", payload))
    try:
        invoke(call, "qr.webhook.parse", payload)  # authenticates first: its failure wins
    except DecodeError:
        pass
    raise unreadable


def pays_order(note: PaymentNotification, reference: str | int, amount: Amount,
               currency: str = "BOB") -> bool:
    """Whether ``note`` reports the payment, in full, of the order with ``reference`` and ``amount``.

    True only for a paid notification whose reference is the order's,
    whose amount equals the order's exactly (25.5 equals 25.50) and whose
    currency, when the bank states one, is ``currency``.  It does not tell
    whether the notification was already processed: keep that yourself.
    """
    expected = Decimal(amount_text(amount).strip().replace("_", ""))
    return (
        note.success
        and note.reference == str(reference)
        and note.amount == expected
        and (note.currency is None or note.currency == currency)
    )


def webhook_reply(
    headers: Headers,
    body: str | bytes,
    key: str,
    value: str,
    process: Callable[[PaymentNotification], object],
    *,
    call: NativeCall | None = None,
) -> tuple[str, int]:
    """Authenticate and read a notification, hand it to ``process``, and say what to answer.

    Returns ``(text, status)``: 401 when authentication fails, 400 when the
    body cannot be read (``process`` is not called for either), 200 once
    ``process`` returned.  An exception from ``process`` propagates, so the
    framework answers 500 and the bank delivers the notification again.
    ``process`` must therefore be safe to call twice for one reference.
    For a WSGI view (Flask, Django) that reads the raw body::

        text, status = webhook_reply(request.headers, request.get_data(), KEY, VALUE, process)
    """
    try:
        note = parse_webhook(headers, body, key, value, call=call)
    except WebhookAuthError:
        return "unauthorized", 401
    except DecodeError:
        return "unreadable notification", 400
    process(note)
    return "ok", 200
