"""Calls into the native engine: encoding payloads, unwrapping answers, its operation table."""

from __future__ import annotations

import json
from collections.abc import Callable
from dataclasses import dataclass
from decimal import Decimal
from typing import Any

from .errors import ProtocolError, error_from_answer

__all__ = ["NativeCall", "OpInfo", "describe", "invoke"]

NativeCall = Callable[[str, str], str]


def _native_call() -> NativeCall:
    # Imported on first use so that the pure-Python parts (sandbox, models)
    # stay importable while the extension is being rebuilt.
    from . import _native

    return _native.call


def _unwrap(answer: str) -> Any:
    try:
        envelope = json.loads(answer, parse_float=Decimal)
    except ValueError as exc:
        raise ProtocolError(f"engine answer is not JSON: {answer[:200]!r}") from exc
    if isinstance(envelope, dict):
        if envelope.get("ok") is True and "value" in envelope:
            return envelope["value"]
        if envelope.get("ok") is False:
            raise error_from_answer(envelope.get("error"))
    raise ProtocolError(f"engine answer is not an answer envelope: {answer[:200]!r}")


def invoke(call: NativeCall | None, op: str, payload: Any) -> Any:
    """Run one engine operation; return its value or raise its error.

    ``payload`` is encoded as compact JSON unless it is already a str.
    """
    text = payload if isinstance(payload, str) else json.dumps(
        payload, ensure_ascii=False, separators=(",", ":")
    )
    return _unwrap((call or _native_call())(op, text))


@dataclass(frozen=True)
class OpInfo:
    """One entry of the engine's operation table."""

    name: str
    kind: str
    idempotent: bool = False
    timeout_secs: int | None = None


def describe(call: NativeCall | None = None) -> dict[str, OpInfo]:
    """The engine's operations by name, as its "describe" reports them."""
    value = invoke(call, "describe", "")
    if not isinstance(value, list):
        raise ProtocolError("describe did not answer a list")
    table: dict[str, OpInfo] = {}
    for entry in value:
        if not isinstance(entry, dict) or not isinstance(entry.get("name"), str):
            raise ProtocolError(f"describe answered a malformed entry: {entry!r}")
        timeout = entry.get("timeout_secs")
        table[entry["name"]] = OpInfo(
            name=entry["name"],
            kind=str(entry.get("kind")),
            idempotent=entry.get("idempotent") is True,
            timeout_secs=timeout if isinstance(timeout, int) and not isinstance(timeout, bool) else None,
        )
    return table
