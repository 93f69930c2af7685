"""Properties of every answer, whatever the payload: random text, JSON-ish noise, and random
variations of valid payloads (structural edits and byte edits).

Every answer is one line of compact JSON whose object keys are unique and ascending at every level;
"ok" is true exactly when "value" is there; every error has "kind" and "retryable", and only an "api"
error may be retryable; the same call made twice answers the same text.

The valid payloads varied here are the catalogue in samples.py.
"""

from __future__ import annotations

import copy
import json
from typing import Any

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from corvane_bo.qr._native import call
from samples import FAILING_CALLS, VALID_CALLS, VALID_PAYLOADS, render

OPERATIONS = [
    "describe",
    "version",
    "qr.generate.build",
    "qr.generate.parse",
    "qr.verify.build",
    "qr.verify.parse",
    "qr.cancel.build",
    "qr.cancel.parse",
    "qr.webhook.parse",
]
NEAR_MISSES = ["qr.generate.", "qr.verify.BUILD", "qr.cancel", "qr.webhook.parse.build", "Describe", ""]

# ---- the properties -------------------------------------------------------------------------------


def _sorted_object(pairs: list[tuple[str, Any]]) -> dict:
    keys = [key for key, _ in pairs]
    # Python orders str by code point, which is the byte order of their UTF-8.
    assert all(a < b for a, b in zip(keys, keys[1:])), f"keys not unique and ascending: {keys}"
    return dict(pairs)


def _no_float(text: str) -> Any:
    raise AssertionError(f"answers carry no fractional or exponent number, got {text}")


def check_answer(answer: str) -> dict:
    """Asserts every property an answer text must have, and returns it decoded."""
    assert isinstance(answer, str)
    assert not any(ord(c) < 0x20 for c in answer), "one line, control characters escaped"
    decoded = json.loads(answer, object_pairs_hook=_sorted_object, parse_float=_no_float)
    # Compact and canonically escaped: exactly what a compact dump of the same value gives.
    assert json.dumps(decoded, ensure_ascii=False, separators=(",", ":")) == answer
    assert isinstance(decoded, dict)
    assert isinstance(decoded.get("ok"), bool)
    if decoded["ok"]:
        assert set(decoded) == {"ok", "value"}
    else:
        assert set(decoded) == {"error", "ok"}
        error = decoded["error"]
        assert isinstance(error, dict)
        assert isinstance(error.get("kind"), str)
        assert isinstance(error.get("retryable"), bool)
        if error["retryable"]:
            assert error["kind"] == "api", error
        # The fault guard's answer: an exception reached `call`, which is a bug even though it is caught.
        assert not (error["kind"] == "ffi" and str(error.get("message")).startswith("core panicked")), error
    return decoded


def check_call(op: str, payload: str) -> dict:
    answer = call(op, payload)
    assert call(op, payload) == answer, "the same call twice answers the same"
    return check_answer(answer)


@pytest.mark.parametrize(("op", "payload"), VALID_CALLS, ids=[op for op, _ in VALID_CALLS])
def test_catalogue_calls_succeed(op, payload):
    assert check_call(op, payload)["ok"] is True


@pytest.mark.parametrize(("op", "payload"), FAILING_CALLS, ids=[op for op, _ in FAILING_CALLS])
def test_catalogue_failures_are_well_formed(op, payload):
    assert check_call(op, payload)["ok"] is False


# ---- random text ------------------------------------------------------------------------------------

any_op = st.sampled_from(OPERATIONS + NEAR_MISSES)
JSONISH = '{}[]":,0123456789.-+eE \t\n\rntrufalsxyz\\/u"\x00\x1féÑ€😀'


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])
@given(op=any_op, payload=st.text(max_size=300))
def test_random_text(op, payload):
    check_call(op, payload)


@settings(max_examples=400)
@given(op=any_op, payload=st.text(alphabet=JSONISH, max_size=200))
def test_json_like_noise(op, payload):
    check_call(op, payload)


# ---- variations of valid payloads -----------------------------------------------------------------

interesting_text = st.sampled_from([
    "", " ", "\u00a0", "\u3000", "0", "00", "1", "-1", "1.005", "1.50", "1e3", "1E-2", "0.1", "1_000",
    "2147483647", "2147483648", "9" * 30, "١٢٣", "１２", "PAGADO", "pagado", "SUCCESS", "CANCELADO",
    "simple", "mld", "MLD", "sandbox", "production", "http://", "HTTPS://x", "ftp://x", "X-Hook", "x-hook",
    "s3cret", "s3cret ", "a\u0000b", "\ud7ff", "😀", "Ñandú", "tab\there", "quote\"back\\slash",
    "79228162514264337593543950335", "79228162514264337593543950336", "0.0000000000000000000000000001",
])
scalars = (st.none() | st.booleans() | st.integers(-(2**70), 2**70)
           | st.floats(allow_nan=False, allow_infinity=False) | st.text(max_size=12) | interesting_text
           | st.sampled_from([0, 1, 200, 299, 401, 403, 408, 429, 500, 65535, 65536, -1, 2**63, 2**64]))
json_values = st.recursive(scalars, lambda inner: st.lists(inner, max_size=3)
                           | st.dictionaries(st.text(max_size=6) | interesting_text, inner, max_size=3),
                           max_leaves=8)
KNOWN_KEYS = sorted({key for _, payload in VALID_PAYLOADS if isinstance(payload, dict)
                     for key in json.dumps(payload).split('"')[1::2]} | {"mensaje", "ciNitCliente", "importe"})


def _paths(value: Any, path: tuple = ()) -> list[tuple]:
    out = [path]
    if isinstance(value, dict):
        for key, child in value.items():
            out += _paths(child, path + (key,))
    elif isinstance(value, list):
        for index, child in enumerate(value):
            out += _paths(child, path + (index,))
    return out


def _get(value: Any, path: tuple) -> Any:
    for step in path:
        value = value[step]
    return value


@st.composite
def variations(draw):
    op, base = draw(st.sampled_from([c for c in VALID_PAYLOADS if isinstance(c[1], dict)]))
    value = copy.deepcopy(base)
    for _ in range(draw(st.integers(1, 4))):
        path = draw(st.sampled_from(_paths(value)))
        target = _get(value, path)
        edit = draw(st.sampled_from(["replace", "delete", "add", "as_array", "as_text"]))
        if edit == "replace" and path:
            _get(value, path[:-1])[path[-1]] = draw(json_values)
        elif edit == "delete" and path:
            del _get(value, path[:-1])[path[-1]]
        elif edit == "add" and isinstance(target, dict):
            target[draw(st.sampled_from(KNOWN_KEYS) | st.text(max_size=6))] = draw(json_values)
        elif edit == "add" and isinstance(target, list):
            target.append(draw(json_values))
        elif edit == "as_array" and isinstance(target, dict) and path:
            # Records also read from an array of their fields in declaration order.
            _get(value, path[:-1])[path[-1]] = list(target.values())
        elif edit == "as_text" and path and not isinstance(target, str):
            _get(value, path[:-1])[path[-1]] = render(target)
    return op, render(value)


@settings(max_examples=600, suppress_health_check=[HealthCheck.too_slow])
@given(case=variations())
def test_structural_variations(case):
    answer = check_call(*case)
    # --hypothesis-show-statistics shows how far the variations get.
    event("value" if answer["ok"] else answer["error"]["kind"])


@settings(max_examples=400)
@given(case=st.sampled_from(VALID_CALLS), data=st.data())
def test_byte_edits_of_valid_payloads(case, data):
    op, payload = case
    for _ in range(data.draw(st.integers(1, 3))):
        at = data.draw(st.integers(0, len(payload)))
        edit = data.draw(st.sampled_from(["insert", "delete", "truncate", "duplicate"]))
        if edit == "insert":
            payload = payload[:at] + data.draw(st.text(alphabet=JSONISH, min_size=1, max_size=3)) + payload[at:]
        elif edit == "delete":
            payload = payload[:at] + payload[at + data.draw(st.integers(1, 4)):]
        elif edit == "truncate":
            payload = payload[:at]
        else:
            payload = payload[:at] + payload[at:at + data.draw(st.integers(1, 40))] + payload[at:]
    check_call(op, payload)


@settings(max_examples=200)
@given(op=any_op, value=json_values)
def test_arbitrary_json_values(op, value):
    check_call(op, json.dumps(value, ensure_ascii=False))
