"""Typed records exchanged with the engine: configuration, inputs and results.

Amounts are :class:`decimal.Decimal` end to end.  An amount given by the
caller is sent to the engine as the JSON string of its decimal text, so it
never passes through binary floating point; a ``float`` is refused.
"""

from __future__ import annotations

import base64
import functools
import time
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field, fields, is_dataclass
from decimal import Decimal
from enum import Enum
from typing import Annotated, Any, ClassVar, TypeVar, get_type_hints

from .checks import Amount, Bounds, HeaderText, amount_text, check_record, check_text, member, optional_of
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
    "qr_kind",
    "reference_text",
]

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


def qr_kind(kind: QrKind | str) -> QrKind:
    """The QR kind given as a member or its name; an unknown name is a ValidationError of "kind"."""
    return member(QrKind, kind, "kind")


def reference_text(reference: str | int) -> str:
    """The reference as the engine wants it, its digits as text (an int is accepted for convenience)."""
    if isinstance(reference, bool) or not isinstance(reference, (str, int)):
        raise TypeError(f"reference must be a str, not {type(reference).__name__}")
    return check_text("reference", str(reference))


# The ranges the engine decodes these integers in.
_Count = Annotated[int, Bounds(0, 2**64 - 1, "must be greater than zero")]
_Timestamp = Annotated[int, Bounds(-(2**63), 2**63 - 1, f"must be at least {-(2**63)}")]
_Header = Annotated[str, HeaderText()]


# Records are read and written from their dataclass fields: the declared type
# of a field chooses how its value crosses to and from JSON, so a record is
# its field list and nothing else.

_R = TypeVar("_R")
_Reader = Callable[[Mapping[str, Any], str], Any]
_Writer = Callable[[Any], Any]


def _writer(hint: Any) -> _Writer:
    base, _ = optional_of(hint)
    if hint == Amount:
        return amount_text
    if isinstance(base, type) and issubclass(base, Enum):
        # A member's value may be given for the member ("sandbox" for SANDBOX).
        return lambda value: None if value is None else base(value).value
    if is_dataclass(base):
        return lambda value: None if value is None else _write(value)
    return lambda value: value


@functools.cache
def _writers(cls: Any) -> tuple[tuple[str, _Writer], ...]:
    hints = get_type_hints(cls)
    order = getattr(cls, "_json_order", None) or tuple(item.name for item in fields(cls))
    return tuple((name, _writer(hints[name])) for name in order)


def _write(record: object) -> JsonObject:
    """A record as the engine reads it: every field under its own name, absent ones as null."""
    cls: Any = type(record)  # a class is hashable, whatever the checker makes of type[object]
    return {name: write(getattr(record, name)) for name, write in _writers(cls)}


@dataclass(frozen=True)
class Config:
    """Client configuration sent with every request the engine builds."""

    client_id: _Header
    client_secret: str | None = field(default=None, repr=False)
    basic_token: str | None = field(default=None, repr=False)
    environment: Environment = Environment.SANDBOX
    base_url: str | None = None

    _field_prefix: ClassVar[str] = "config."

    def __post_init__(self) -> None:
        check_record(self)

    def to_json(self) -> JsonObject:
        return _write(self)


@dataclass(frozen=True)
class AccessToken:
    """A bearer token obtained from the bank network.

    ``expires_at`` is in seconds since the epoch.  The engine never judges
    expiry; :meth:`is_expired` is there for the application to refresh early.
    """

    access_token: _Header = field(repr=False)
    token_type: str = "Bearer"
    expires_at: _Timestamp = 0
    scope: str | None = None

    _field_prefix: ClassVar[str] = "token."

    def __post_init__(self) -> None:
        check_record(self)

    def is_expired(self, now: float | None = None, leeway: float = 30.0) -> bool:
        current = time.time() if now is None else now
        return current + leeway >= self.expires_at

    def to_json(self) -> JsonObject:
        return _write(self)


@dataclass(frozen=True)
class WebhookTarget:
    """Where the bank network posts payment notifications, and the header it sends."""

    url: str
    key: str
    value: str = field(repr=False)

    _field_prefix: ClassVar[str] = "webhook."

    def __post_init__(self) -> None:
        check_record(self)

    def to_json(self) -> JsonObject:
        return _write(self)


@dataclass(frozen=True)
class GenerateQr:
    """Input of a QR generation.

    Building it refuses what the engine could not even read (an amount text,
    a negative count, an unknown kind); the engine checks the values.
    """

    amount: Amount
    reference: str
    description: str
    establishment_id: _Count
    establishment_name: str
    expires_in: _Count
    webhook: WebhookTarget | None = None
    kind: QrKind = QrKind.SIMPLE

    _field_prefix: ClassVar[str] = ""

    # The engine's declaration order, which its reader takes fastest; the
    # dataclass order is the constructor's, kept for positional callers.
    _json_order: ClassVar[tuple[str, ...]] = (
        "kind", "description", "amount", "reference", "expires_in",
        "establishment_id", "establishment_name", "webhook",
    )

    def __post_init__(self) -> None:
        check_record(self)

    def to_json(self) -> JsonObject:
        return _write(self)


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


def _status(obj: Mapping[str, Any], key: str) -> PaymentStatus:
    try:
        return PaymentStatus(_req(obj, key, str))
    except ValueError:
        # A state added by a newer engine; raw_status / response_code keep the bank's word.
        return PaymentStatus.UNKNOWN


def _kind(obj: Mapping[str, Any], key: str) -> QrKind:
    try:
        return QrKind(_req(obj, key, str))
    except ValueError as exc:
        raise ProtocolError(f"result field `{key}` is not a QR kind: {obj.get(key)!r}") from exc


def _object(value: Any, what: str) -> Mapping[str, Any]:
    if not isinstance(value, dict):
        raise ProtocolError(f"{what} is not a JSON object")
    return value


def _reader(hint: Any) -> _Reader:
    base, optional = optional_of(hint)
    if base is str:
        return _opt_str if optional else lambda obj, key: _req(obj, key, str)
    if base is bool and not optional:
        return lambda obj, key: _req(obj, key, bool)
    if base is Decimal:
        return _opt_decimal if optional else lambda obj, key: _decimal(obj.get(key), key)
    if base is PaymentStatus and not optional:
        return _status
    if base is QrKind and not optional:
        return _kind
    if isinstance(base, type) and is_dataclass(base) and optional:
        return lambda obj, key: _read_optional(base, obj.get(key), key)
    raise TypeError(f"no reader for a result field of type {hint}")


@functools.cache
def _readers(cls: Any) -> tuple[tuple[str, _Reader], ...]:
    hints = get_type_hints(cls)
    return tuple((item.name, _reader(hints[item.name])) for item in fields(cls))


def _read(cls: type[_R], value: Any, what: str) -> _R:
    obj = _object(value, what)
    key: Any = cls
    return cls(**{name: read(obj, name) for name, read in _readers(key)})


def _read_optional(cls: type[_R], value: Any, what: str) -> _R | None:
    return None if value is None else _read(cls, value, what)


@dataclass(frozen=True)
class Payer:
    name: str | None = None
    account_number: str | None = None
    document_id: str | None = None

    @classmethod
    def from_json(cls, value: Any) -> Payer | None:
        return _read_optional(cls, value, "payer")


@dataclass(frozen=True)
class PayerBank:
    bank_code: str | None = None
    bank_name: str | None = None
    ach_order_number: str | None = None
    transaction_date: str | None = None

    @classmethod
    def from_json(cls, value: Any) -> PayerBank | None:
        return _read_optional(cls, value, "payer_bank")


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
        return _read(cls, value, "generate result")


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
        return _read(cls, value, "status result")


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
        return _read(cls, value, "notification")
