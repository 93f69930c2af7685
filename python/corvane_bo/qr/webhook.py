"""Reading the payment notifications that the bank network posts to the merchant."""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from email.message import Message
from typing import Union

from .client import NativeCall, invoke
from .models import PaymentNotification

__all__ = ["Headers", "parse_webhook"]

Headers = Union[Mapping[str, str], Message, Iterable[tuple[str, str]]]


def _header_map(headers: Headers) -> dict[str, str]:
    if isinstance(headers, (Mapping, Message)):
        items: Iterable[tuple[str, str]] = headers.items()
    else:
        items = headers
    # Names are matched by the engine without regard to letter case; values
    # travel untouched (no trimming), as the comparison is exact.
    return {str(name): str(value) for name, value in items}


def parse_webhook(
    headers: Headers,
    body: str | bytes,
    key: str,
    value: str,
    *,
    call: NativeCall | None = None,
) -> PaymentNotification:
    """Authenticate a received notification and read it.

    ``headers`` are the request's headers as received (a mapping, an
    ``email.message.Message`` such as ``http.server``'s, or name/value
    pairs); ``key`` and ``value`` are the header name and value agreed in
    the generate request's webhook target.  The header is checked, in
    constant time, before the body is looked at, so an unauthenticated
    request raises :class:`WebhookAuthError` whatever its body holds.

    ``body`` must be the raw body exactly as it arrived (the bytes, or their
    UTF-8 text).  Do not pass a body that was parsed and serialised again
    (by a web framework's JSON helper, for instance): re-serialising changes
    key order, spacing and number formatting, which is a common cause of
    mismatches and of amounts that no longer read as sent.

    Raises :class:`WebhookAuthError` for a missing or wrong header,
    :class:`ValidationError` for an empty expected ``value``, and
    :class:`DecodeError` for a body that is not a readable notification.
    """
    if isinstance(body, bytes):
        # Decoded leniently so that the header check still runs first: a body
        # that is not UTF-8 is then reported by the engine as undecodable.
        body = body.decode("utf-8", errors="replace")
    payload = {"headers": _header_map(headers), "body": body, "key": key, "value": value}
    return PaymentNotification.from_json(invoke(call, "qr.webhook.parse", payload))
