"""Checks of the merchant's own arguments, run where the records are built.

What the engine would only refuse while decoding a payload (an amount text it
cannot read, a negative count, an unknown kind), and what no transport can
send (a line break in a header), is refused here as a :class:`ValidationError`
naming the field, in the engine's words where it has some.  These checks are
never stricter than the engine: a value the engine accepts passes, and the
engine stays the judge of everything else (blank texts, references, places).
An argument of the wrong Python type is a ``TypeError``.
"""

from __future__ import annotations

import functools
import re
from collections.abc import Callable
from dataclasses import dataclass, fields
from decimal import MAX_EMAX, MAX_PREC, MIN_EMIN, ROUND_HALF_UP, Context, Decimal
from enum import Enum
from typing import Annotated, Any, TypeVar, Union, get_args, get_origin, get_type_hints

from .errors import ValidationError

__all__ = [
    "Amount",
    "Bounds",
    "FloatAmountError",
    "HeaderText",
    "amount_text",
    "amount_text_error",
    "check_int",
    "check_record",
    "check_text",
    "member",
    "optional_of",
]

Amount = Union[Decimal, int, str]

_M = TypeVar("_M", bound=Enum)

# The Unicode White_Space set, as the engine trims amount strings.
_WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a"
    "\u2028\u2029\u202f\u205f\u3000"
)
_PLAIN = re.compile(r"[+-]?(?:[0-9][0-9_]*(?:\.[0-9_]*)?|\.[0-9][0-9_]*)")
_EXPONENT = re.compile(r"[+-]?[0-9]+")
_NOT_IN_HEADER = re.compile("[\r\n\0\u0100-\U0010ffff]")
_MAX_EXPONENT = 28
_LARGEST = Decimal(2**96 - 1)
_EXACT = Context(prec=MAX_PREC, Emax=MAX_EMAX, Emin=MIN_EMIN)  # nothing rounded but what is asked
_SHOWN = 200  # characters of an input quoted in a message, as the engine cuts them


class FloatAmountError(ValidationError, TypeError):
    """A float given as an amount: the wrong type, and a refused amount too."""


@dataclass(frozen=True)
class Bounds:
    """The range an integer field is decoded in by the engine."""

    low: int
    high: int
    below: str  # the message for a value under ``low``


@dataclass(frozen=True)
class HeaderText:
    """Marks a text that travels in an HTTP header of every request."""


def _shown(text: str) -> str:
    return text if len(text) <= _SHOWN else text[:_SHOWN] + "…"


def _plain(text: str) -> Decimal | None:
    return Decimal(text.replace("_", "")) if _PLAIN.fullmatch(text) else None


def _fits(value: Decimal) -> bool:
    # Kept places are rounded off half away from zero; only the integer part can overflow.
    return value.copy_abs().to_integral_value(rounding=ROUND_HALF_UP, context=_EXACT) <= _LARGEST


def _amount_reason(text: str) -> str | None:
    """Why the engine cannot read this amount text, in its words; None when it can."""
    plain = _plain(text)
    if plain is not None and _fits(plain):
        return None
    at = next((i for i, c in enumerate(text) if c in "eE"), -1)
    if at < 0:
        return "Failed to parse"
    if not _EXPONENT.fullmatch(text[at + 1 :]):
        return "Failed to parse"
    mantissa = _plain(text[:at])
    if mantissa is None:
        return "the part before the exponent is not a decimal"
    exponent = int(text[at + 1 :])
    if abs(exponent) > _MAX_EXPONENT:
        return f"the exponent exceeds {_MAX_EXPONENT} in magnitude"
    if not _fits(mantissa.scaleb(exponent, context=_EXACT)):
        return "the value exceeds the largest magnitude"
    return None


def amount_text_error(text: str) -> ValidationError | None:
    """The error the engine would decode this amount text with, as a validation error."""
    trimmed = text.strip(_WHITE_SPACE)
    reason = _amount_reason(trimmed)
    return None if reason is None else ValidationError(f"invalid amount `{_shown(trimmed)}`: {reason}", "amount")


def _type_error(field: str, wanted: str, value: object) -> TypeError:
    return TypeError(f"{field} must be {wanted}, not {type(value).__name__}")


def check_text(field: str, value: object, header: bool = False) -> str:
    """A str the engine can be handed (valid Unicode) and, for a header, one a request can carry."""
    if not isinstance(value, str):
        raise _type_error(field, "a str", value)
    try:
        value.encode("utf-8")
    except UnicodeEncodeError as exc:
        raise ValidationError(f"must be valid Unicode text (lone surrogate at character {exc.start})", field) from None
    bad = _NOT_IN_HEADER.search(value) if header else None
    if bad is not None:
        what = "a line break or NUL" if bad.group() <= "\xff" else "a character beyond Latin-1"
        raise ValidationError(f"cannot be sent in an HTTP header ({what} at character {bad.start()})", field)
    return value


def check_int(field: str, value: object, bounds: Bounds) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise _type_error(field, "an int", value)
    if value < bounds.low:
        raise ValidationError(bounds.below, field)
    if value > bounds.high:
        raise ValidationError(f"must be at most {bounds.high}", field)
    return value


def _names(names: list[str]) -> str:
    quoted = [f"`{name}`" for name in names]
    if len(quoted) == 2:
        return f"{quoted[0]} or {quoted[1]}"
    return "one of " + ", ".join(quoted)


def member(cls: type[_M], value: Any, field: str) -> _M:
    """The member of ``cls`` given as itself or as its value, refused in the engine's words."""
    if isinstance(value, cls):
        return value
    if not isinstance(value, str):
        raise _type_error(field, f"a {cls.__name__} or str", value)
    try:
        return cls(value)
    except ValueError:
        names = [str(item.value) for item in cls]
        raise ValidationError(f"unknown variant `{_shown(value)}`, expected {_names(names)}", field) from None


def amount_text(value: Amount) -> str:
    """The decimal text of an amount, as sent to the engine.

    Strings are passed on unchanged for the engine to read (it accepts
    surrounding blanks, ``1_000.50`` and exponents).  Floats are refused:
    ``0.1 + 0.2`` is not ``0.3`` and no conversion could tell what was meant;
    the error is both a ``TypeError`` and a ``ValidationError``.
    """
    if isinstance(value, float):
        raise FloatAmountError(
            f"must be a Decimal, int or str, not {type(value).__name__}"
            " (binary floating point cannot hold amounts exactly)",
            "amount",
        )
    if isinstance(value, bool):
        raise TypeError("amount must be a Decimal, int or str, not bool")
    if isinstance(value, Decimal):
        if not value.is_finite():
            raise ValidationError(f"invalid amount `{value}`: Failed to parse", "amount")
        return str(value)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return value
    raise TypeError(f"amount must be a Decimal, int or str, not {type(value).__name__}")


def optional_of(hint: Any) -> tuple[Any, bool]:
    """``X`` and whether the hint was ``X | None``."""
    args = get_args(hint)
    if len(args) == 2 and type(None) in args:
        return next(arg for arg in args if arg is not type(None)), True
    return hint, False


_Check = Callable[[str, Any], Any]


def _checker(hint: Any) -> _Check:
    """Checks one field's value by its declared type; returns the value to keep."""
    if get_origin(hint) is Annotated:
        base, *marks = get_args(hint)
        for mark in marks:
            if isinstance(mark, Bounds):
                return lambda name, value: check_int(name, value, mark)
            if isinstance(mark, HeaderText):
                return lambda name, value: check_text(name, value, header=True)
        return _checker(base)
    if hint == Amount:
        return _check_amount
    base, optional = optional_of(hint)
    if optional:
        inner = _checker(base)
        return lambda name, value: None if value is None else inner(name, value)
    if isinstance(base, type) and issubclass(base, Enum):
        return lambda name, value: member(base, value, name)
    if base is str:
        return check_text
    if isinstance(base, type):
        def instance(name: str, value: Any) -> Any:
            if not isinstance(value, base):
                raise TypeError(f"{name} must be a {base.__name__}, not {type(value).__name__}")
            return value
        return instance
    raise TypeError(f"no check for a field of type {hint}")


def _check_amount(name: str, value: Any) -> Any:
    error = amount_text_error(amount_text(value))
    if error is not None:
        raise error
    return value


@functools.cache
def _checkers(cls: Any) -> tuple[tuple[str, _Check], ...]:
    hints = get_type_hints(cls, include_extras=True)
    return tuple((item.name, _checker(hints[item.name])) for item in fields(cls))


def check_record(record: Any) -> None:
    """Checks every field of an input record by its declared type, keeping enumerations as their members.

    A field is named by the record's ``_field_prefix`` and its own name, as the engine names it.
    """
    cls: Any = type(record)
    prefix = cls._field_prefix
    for name, check in _checkers(cls):
        value = getattr(record, name)
        kept = check(prefix + name, value)
        if kept is not value:
            object.__setattr__(record, name, kept)  # frozen: set once, while being built
