"""Exceptions raised by the QR client.

Every failure answered by the engine maps to one exception class by its
``kind``; the exception's text is the answer's message, unchanged, so
``str(exc)`` is what the engine (or the bank) said; a ValidationError puts
the field's name before it ("amount: must be greater than zero").  Two classes belong to
this layer only: :class:`TransportError` for a request that could not be
exchanged with the bank, and :class:`AmbiguousError`, which the client also
raises when a non-idempotent request may or may not have reached the bank.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any, TypeVar

__all__ = [
    "AmbiguousError",
    "ApiError",
    "ApiFieldError",
    "AuthenticationError",
    "DecodeError",
    "ProtocolError",
    "QrError",
    "TransportError",
    "ValidationError",
    "WebhookAuthError",
    "error_from_answer",
]


@dataclass(frozen=True)
class ApiFieldError:
    """One field-level complaint reported by the bank."""

    message: str
    field: str | None = None
    code: str | None = None


_E = TypeVar("_E", bound="QrError")


class QrError(Exception):
    """Base class of every error raised by this package."""

    kind: str = "unknown"

    def __init__(self, message: str, *details: object) -> None:
        # Every constructor argument goes to args so that pickling (process
        # pools, task queues) rebuilds the same exception.
        super().__init__(message, *details)
        self.message = message

    @property
    def retryable(self) -> bool:
        """Whether sending the same request again may succeed."""
        return False

    def __str__(self) -> str:
        return self.message

    @classmethod
    def _from_answer(cls: type[_E], message: str, error: Mapping[str, Any]) -> _E:
        """The exception for a failed answer of this class's kind; subclasses read their members."""
        return cls(message)


class ValidationError(QrError):
    """An input was refused before any request was sent.

    Raised by the engine and, for what it could not even read, by the
    records themselves when they are built; ``field`` is the JSON key
    ("amount", "webhook.url", "token.access_token").
    """

    kind = "validation"

    def __init__(self, message: str, field: str) -> None:
        super().__init__(message, field)
        self.field = field

    def __str__(self) -> str:
        return f"{self.field}: {self.message}"

    @classmethod
    def _from_answer(cls, message: str, error: Mapping[str, Any]) -> ValidationError:
        return cls(message, field=_text(error, "field"))


class AuthenticationError(QrError):
    """The bank refused the credentials (HTTP 401 or 403)."""

    kind = "authentication"

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message, status)
        self.status = status

    @classmethod
    def _from_answer(cls, message: str, error: Mapping[str, Any]) -> AuthenticationError:
        return cls(message, status=_status(error))


class ApiError(QrError):
    """The bank answered with a failure."""

    kind = "api"

    def __init__(
        self,
        message: str,
        status: int,
        errors: Sequence[ApiFieldError] = (),
        retryable: bool = False,
    ) -> None:
        super().__init__(message, status, tuple(errors), retryable)
        self.status = status
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)
        self._retryable = retryable

    @property
    def retryable(self) -> bool:
        return self._retryable

    @classmethod
    def _from_answer(cls, message: str, error: Mapping[str, Any]) -> ApiError:
        retryable = error.get("retryable") is True
        return cls(message, status=_status(error), errors=_field_errors(error), retryable=retryable)


class AmbiguousError(QrError):
    """The outcome of a request is unknown.

    Raised when a request that must not be repeated blindly (generate,
    cancel) failed in transit after it may have reached the bank: verify the
    reference before trying again.
    """

    kind = "ambiguous"

    def __init__(self, message: str, errors: Sequence[ApiFieldError] = ()) -> None:
        super().__init__(message, tuple(errors))
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)

    @classmethod
    def _from_answer(cls, message: str, error: Mapping[str, Any]) -> AmbiguousError:
        return cls(message, errors=_field_errors(error))


class DecodeError(QrError):
    """A response or notification body could not be read as expected."""

    kind = "decode"


class WebhookAuthError(QrError):
    """A notification did not carry the agreed header and value."""

    kind = "webhook_auth"


class ProtocolError(QrError):
    """The engine refused a call ("ffi" answers) or answered something unreadable.

    This points at a fault in this package or in the engine, not at the
    merchant's input or the bank.
    """

    kind = "ffi"


class TransportError(QrError):
    """The request could not be exchanged with the bank (connection, timeout).

    The underlying exception is chained as ``__cause__``.
    """

    kind = "transport"

    @property
    def retryable(self) -> bool:
        return True


def _text(obj: Mapping[str, Any], key: str) -> str:
    value = obj.get(key)
    if not isinstance(value, str):
        raise ProtocolError(f"error answer has no text `{key}`")
    return value


def _status(obj: Mapping[str, Any]) -> int:
    value = obj.get("status")
    if not isinstance(value, int) or isinstance(value, bool):
        raise ProtocolError("error answer has no integer `status`")
    return value


def _optional_text(obj: Mapping[str, Any], key: str) -> str | None:
    value = obj.get(key)
    return value if isinstance(value, str) else None


def _field_errors(obj: Mapping[str, Any]) -> tuple[ApiFieldError, ...]:
    items = obj.get("errors") or []
    if not isinstance(items, list):
        raise ProtocolError("error answer has a malformed `errors` list")
    out = []
    for item in items:
        if not isinstance(item, dict):
            raise ProtocolError("error answer has a malformed field error")
        out.append(
            ApiFieldError(
                message=_text(item, "message"),
                field=_optional_text(item, "field"),
                code=_optional_text(item, "code"),
            )
        )
    return tuple(out)


# The kinds an engine answer carries; TransportError belongs to this layer alone.
_BY_KIND: dict[str, type[QrError]] = {
    cls.kind: cls
    for cls in (
        ValidationError,
        AuthenticationError,
        ApiError,
        AmbiguousError,
        DecodeError,
        WebhookAuthError,
        ProtocolError,
    )
}


def error_from_answer(error: Any) -> QrError:
    """Build the exception for the ``error`` object of a failed answer."""
    if not isinstance(error, dict):
        return ProtocolError("failed answer carries no error object")
    kind = error.get("kind")
    message = error.get("message")
    if not isinstance(message, str):
        # An error whose own encoding failed is answered as a bare {"kind": "ffi"}.
        message = f"engine reported a `{kind}` error without a message"
    known = _BY_KIND.get(kind) if isinstance(kind, str) else None
    if known is not None:
        return known._from_answer(message, error)
    unknown = QrError(message)
    unknown.kind = str(kind)
    return unknown
