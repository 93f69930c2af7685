"""Typed records exchanged with the engine: configuration, inputs and results.

Amounts are :class:`decimal.Decimal` end to end.  An amount given by the
caller is sent to the engine as the JSON string of its decimal text, so it
never passes through binary floating point; a ``float`` is refused.
"""

from __future__ import annotations

import base64
import time
from collections.abc import Mapping
from dataclasses import dataclass, field, fields
from decimal import Decimal
from enum import Enum
from typing import Any, TypeVar, Union

from .errors import ProtocolError

__all__ = [
    "AccessToken",
    "Amount",
    "Config",
    "Environment",
    "GenerateQr",
    "GeneratedQr",
    "Payer",
    "PayerBank",
    "PaymentNotification",
    "PaymentStatus",
    "QrKind",
    "QrStatusInfo",
    "WebhookTarget",
    "amount_text",
]

Amount = Union[Decimal, int, str]
JsonObject = dict[str, Any]


class Environment(str, Enum):
    DEVELOPMENT = "development"
    SANDBOX = "sandbox"
    PRODUCTION = "production"


class QrKind(str, Enum):
    """The bank's two QR products."""

    SIMPLE = "simple"
    MLD = "mld"


class PaymentStatus(str, Enum):
    PENDING = "pending"
    PROCESSING = "processing"
    PAID = "paid"
    CANCELLED = "cancelled"
    EXPIRED = "expired"
    REJECTED = "rejected"
    REVERSED = "reversed"
    ERROR = "error"
    UNKNOWN = "unknown"

    @property
    def is_final(self) -> bool:
        """True for states a payment never leaves."""
        return self not in (PaymentStatus.PENDING, PaymentStatus.PROCESSING, PaymentStatus.UNKNOWN)


def amount_text(value: Amount) -> str:
    """The decimal text of an amount, as sent to the engine.

    Strings are passed on unchanged for the engine to read (it accepts
    surrounding blanks, ``1_000.50`` and exponents).  Floats are refused:
    ``0.1 + 0.2`` is not ``0.3`` and no conversion could tell what was meant.
    """
    if isinstance(value, bool) or isinstance(value, float):
        raise TypeError(
            f"amount must be a Decimal, int or str, not {type(value).__name__}"
            " (binary floating point cannot hold amounts exactly)"
        )
    if isinstance(value, Decimal):
        if not value.is_finite():
            raise ValueError(f"amount must be a finite decimal, got {value}")
        return str(value)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return value
    raise TypeError(f"amount must be a Decimal, int or str, not {type(value).__name__}")


@dataclass(frozen=True)
class Config:
    """Client configuration sent with every request the engine builds."""

    client_id: str
    client_secret: str | None = field(default=None, repr=False)
    basic_token: str | None = field(default=None, repr=False)
    environment: Environment = Environment.SANDBOX
    base_url: str | None = None

    def to_json(self) -> JsonObject:
        return {
            "client_id": self.client_id,
            "client_secret": self.client_secret,
            "basic_token": self.basic_token,
            "environment": Environment(self.environment).value,
            "base_url": self.base_url,
        }


@dataclass(frozen=True)
class AccessToken:
    """A bearer token obtained from the bank network.

    ``expires_at`` is in seconds since the epoch.  The engine never judges
    expiry; :meth:`is_expired` is there for the application to refresh early.
    """

    access_token: str = field(repr=False)
    token_type: str = "Bearer"
    expires_at: int = 0
    scope: str | None = None

    def is_expired(self, now: float | None = None, leeway: float = 30.0) -> bool:
        current = time.time() if now is None else now
        return current + leeway >= self.expires_at

    def to_json(self) -> JsonObject:
        return {
            "access_token": self.access_token,
            "token_type": self.token_type,
            "expires_at": self.expires_at,
            "scope": self.scope,
        }


@dataclass(frozen=True)
class WebhookTarget:
    """Where the bank network posts payment notifications, and the header it sends."""

    url: str
    key: str
    value: str = field(repr=False)

    def to_json(self) -> JsonObject:
        return {"url": self.url, "key": self.key, "value": self.value}


@dataclass(frozen=True)
class GenerateQr:
    """Input of a QR generation; checked by the engine, not here."""

    amount: Amount
    reference: str
    description: str
    establishment_id: int
    establishment_name: str
    expires_in: int
    webhook: WebhookTarget | None = None
    kind: QrKind = QrKind.SIMPLE

    def __post_init__(self) -> None:
        amount_text(self.amount)  # refuse a float at construction, not at send time

    def to_json(self) -> JsonObject:
        return {
            "kind": QrKind(self.kind).value,
            "description": self.description,
            "amount": amount_text(self.amount),
            "reference": self.reference,
            "expires_in": self.expires_in,
            "establishment_id": self.establishment_id,
            "establishment_name": self.establishment_name,
            "webhook": None if self.webhook is None else self.webhook.to_json(),
        }


# Reading results.  The engine writes every key of a result (absent values as
# null), so a missing key or a wrong type means the answer is not what this
# package understands: that is a ProtocolError, not the merchant's problem.


def _req(obj: Mapping[str, Any], key: str, kind: type) -> Any:
    value = obj.get(key)
    if type(value) is not kind:  # json.loads gives exact types; keeps True out of int
        raise ProtocolError(f"result field `{key}` is missing or is not a {kind.__name__}")
    return value


def _opt_str(obj: Mapping[str, Any], key: str) -> str | None:
    value = obj.get(key)
    if value is None:
        return None
    if not isinstance(value, str):
        raise ProtocolError(f"result field `{key}` is not a str")
    return value


def _decimal(text: Any, key: str) -> Decimal:
    if not isinstance(text, str):
        raise ProtocolError(f"result field `{key}` is not an amount string")
    try:
        value = Decimal(text)
    except ArithmeticError as exc:
        raise ProtocolError(f"result field `{key}` is not a decimal: {text!r}") from exc
    if not value.is_finite():
        raise ProtocolError(f"result field `{key}` is not a decimal: {text!r}")
    return value


def _opt_decimal(obj: Mapping[str, Any], key: str) -> Decimal | None:
    value = obj.get(key)
    return None if value is None else _decimal(value, key)


def _status(obj: Mapping[str, Any]) -> PaymentStatus:
    text = _req(obj, "status", str)
    try:
        return PaymentStatus(text)
    except ValueError:
        # A state added by a newer engine; raw_status / response_code keep the bank's word.
        return PaymentStatus.UNKNOWN


def _kind(obj: Mapping[str, Any]) -> QrKind:
    try:
        return QrKind(_req(obj, "kind", str))
    except ValueError as exc:
        raise ProtocolError(f"result field `kind` is not a QR kind: {obj.get('kind')!r}") from exc


def _object(value: Any, what: str) -> Mapping[str, Any]:
    if not isinstance(value, dict):
        raise ProtocolError(f"{what} is not a JSON object")
    return value


_Texts = TypeVar("_Texts", "Payer", "PayerBank")


def _optional_texts(cls: type[_Texts], value: Any, what: str) -> _Texts | None:
    """A record whose fields are all optional texts, read under their own names; None for null."""
    if value is None:
        return None
    obj = _object(value, what)
    return cls(**{member.name: _opt_str(obj, member.name) for member in fields(cls)})


@dataclass(frozen=True)
class Payer:
    name: str | None = None
    account_number: str | None = None
    document_id: str | None = None

    @classmethod
    def from_json(cls, value: Any) -> Payer | None:
        return _optional_texts(cls, value, "payer")


@dataclass(frozen=True)
class PayerBank:
    bank_code: str | None = None
    bank_name: str | None = None
    ach_order_number: str | None = None
    transaction_date: str | None = None

    @classmethod
    def from_json(cls, value: Any) -> PayerBank | None:
        return _optional_texts(cls, value, "payer_bank")


@dataclass(frozen=True)
class GeneratedQr:
    kind: QrKind
    reference: str
    merchant_reference: str | None
    status: PaymentStatus
    raw_status: str
    expires_at: str | None
    currency: str
    amount: Decimal
    qr_image_base64: str = field(repr=False)

    def png(self) -> bytes:
        """The QR image as sent by the bank, decoded from Base64."""
        return base64.b64decode(self.qr_image_base64, validate=False)

    @classmethod
    def from_json(cls, value: Any) -> GeneratedQr:
        obj = _object(value, "generate result")
        return cls(
            kind=_kind(obj),
            reference=_req(obj, "reference", str),
            merchant_reference=_opt_str(obj, "merchant_reference"),
            status=_status(obj),
            raw_status=_req(obj, "raw_status", str),
            expires_at=_opt_str(obj, "expires_at"),
            currency=_req(obj, "currency", str),
            amount=_decimal(obj.get("amount"), "amount"),
            qr_image_base64=_req(obj, "qr_image_base64", str),
        )


@dataclass(frozen=True)
class QrStatusInfo:
    kind: QrKind
    reference: str
    merchant_reference: str | None
    status: PaymentStatus
    raw_status: str
    message: str | None
    amount: Decimal | None
    currency: str | None
    payer: Payer | None
    payer_bank: PayerBank | None

    @property
    def paid(self) -> bool:
        return self.status is PaymentStatus.PAID

    @classmethod
    def from_json(cls, value: Any) -> QrStatusInfo:
        obj = _object(value, "status result")
        return cls(
            kind=_kind(obj),
            reference=_req(obj, "reference", str),
            merchant_reference=_opt_str(obj, "merchant_reference"),
            status=_status(obj),
            raw_status=_req(obj, "raw_status", str),
            message=_opt_str(obj, "message"),
            amount=_opt_decimal(obj, "amount"),
            currency=_opt_str(obj, "currency"),
            payer=Payer.from_json(obj.get("payer")),
            payer_bank=PayerBank.from_json(obj.get("payer_bank")),
        )


@dataclass(frozen=True)
class PaymentNotification:
    """A payment notification posted by the bank network, authenticated and read."""

    reference: str
    amount: Decimal
    currency: str | None
    status: PaymentStatus
    response_code: str
    response_detail: str | None
    transaction_at: str | None
    payer: Payer | None
    payer_bank: PayerBank | None
    success: bool

    @classmethod
    def from_json(cls, value: Any) -> PaymentNotification:
        obj = _object(value, "notification")
        return cls(
            reference=_req(obj, "reference", str),
            amount=_decimal(obj.get("amount"), "amount"),
            currency=_opt_str(obj, "currency"),
            status=_status(obj),
            response_code=_req(obj, "response_code", str),
            response_detail=_opt_str(obj, "response_detail"),
            transaction_at=_opt_str(obj, "transaction_at"),
            payer=Payer.from_json(obj.get("payer")),
            payer_bank=PayerBank.from_json(obj.get("payer_bank")),
            success=_req(obj, "success", bool),
        )
