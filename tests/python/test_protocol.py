"""The call protocol as the host sees it: meta operations, routing by exact name, answer framing."""

import json

import pytest
from hypothesis import given
from hypothesis import strategies as st

from corvane_bo.qr._native import PROTOCOL_VERSION, call

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
def test_version_ignores_payload(payload):
    assert call("version", payload) == VERSION_ANSWER


@pytest.mark.parametrize("payload", IGNORED_PAYLOADS, ids=range(len(IGNORED_PAYLOADS)))
def test_describe_ignores_payload(payload):
    assert isinstance(json.loads(call("describe", payload))["value"], list)


def test_describe_lists_the_qr_registry():
    assert call("describe", "") == DESCRIBE_ANSWER


def test_protocol_version_matches_version_answer():
    assert json.loads(call("version", ""))["value"]["protocol"] == PROTOCOL_VERSION


@pytest.mark.parametrize(
    "op",
    [
        "",
        "Describe",
        "VERSION",
        " version",
        "version ",
        "version\n",
        "describe\x00",
        "qr.generate",
        "qr.verify",
        "qr.webhook.parse.build",
        "qr.generatex.build",
        "line\nbreak\t\"quoted\"\\/",
    ],
)
def test_names_match_byte_for_byte(op):
    assert call(op, "{}") == unknown(op)


@given(op=st.text().filter(lambda op: op not in ("describe", "version") and not op.startswith("qr.")))
def test_any_other_name_is_unknown(op):
    assert call(op, "") == unknown(op)


def test_operation_failure_is_an_answer_not_an_exception():
    answer = json.loads(call("qr.generate.build", "{"))
    assert answer["ok"] is False
    assert answer["error"]["kind"] == "ffi"
    assert answer["error"]["message"].startswith("invalid payload: ")


@pytest.mark.parametrize(
    ("op", "payload"),
    [
        ("version", "\n\n"),
        ("describe", "\r\n"),
        ("\n", "\n"),
        ("\r", "\r"),
        ("qr.generate.build", "{\n"),
        ("qr.webhook.parse", "[\n"),
    ],
)
def test_every_answer_is_one_line(op, payload):
    answer = call(op, payload)
    assert "\n" not in answer and "\r" not in answer
