"""The call protocol as the host sees it: meta operations and routing by exact name. The framing of
every answer is checked over random payloads by test_properties.py."""

import json

import pytest
from hypothesis import given
from hypothesis import strategies as st

from corvane_bo.qr._native import call

VERSION_ANSWER = '{"ok":true,"value":{"core":"0.1.0","protocol":2}}'
DESCRIBE_ANSWER = (
    '{"ok":true,"value":['
    '{"idempotent":false,"kind":"operation","name":"qr.generate"},'
    '{"idempotent":true,"kind":"operation","name":"qr.verify"},'
    '{"idempotent":false,"kind":"operation","name":"qr.cancel"},'
    '{"kind":"handler","name":"qr.webhook.parse"}'
    "]}"
)

# The meta operations never look at their payload.
IGNORED_PAYLOADS = ["", "not json", "{", "null", "\x00", '{"a":' * 1000, "é" * (1 << 20)]


def unknown(op: str) -> str:
    # The writer escapes exactly what json.dumps does without ensure_ascii.
    message = json.dumps(f"unknown operation `{op}`", ensure_ascii=False)
    return '{"error":{"kind":"ffi","message":' + message + ',"retryable":false},"ok":false}'


@pytest.mark.parametrize("payload", IGNORED_PAYLOADS, ids=range(len(IGNORED_PAYLOADS)))
def test_meta_operations_ignore_their_payload(payload):
    assert call("version", payload) == VERSION_ANSWER
    assert call("describe", payload) == DESCRIBE_ANSWER


# Names under "qr." are routed by test_qr_operations.py.
@pytest.mark.parametrize("op", ["", "Describe", " version", "version\n", "describe\x00", "line\nbreak\t\"quoted\"\\/"])
def test_names_match_byte_for_byte(op):
    assert call(op, "{}") == unknown(op)


@given(op=st.text().filter(lambda op: op not in ("describe", "version") and not op.startswith("qr.")))
def test_any_other_name_is_unknown(op):
    assert call(op, "") == unknown(op)
