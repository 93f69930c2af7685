"""Hostile payloads: each is answered (an error or a value, never a crash or a hang), the answer is
well formed, and the time taken grows linearly with the size.

Linearity is checked on two sizes of the same shape: the larger must not take more than
`SLACK` times its share (size ratio) of the smaller one's time, plus a fixed allowance for noise. A
quadratic path misses that by orders of magnitude; timing jitter does not. Run with `-s` to see the
times.
"""

from __future__ import annotations

import json
import resource
import time
from collections.abc import Callable

import pytest

from corvane_bo.qr._native import call
from samples import CONFIG, GENERATE, TOKEN
from test_properties import check_answer

SLACK = 5.0
NOISE_S = 0.1

CONFIG_TOKEN = f'"config":{json.dumps(CONFIG)},"token":{json.dumps(TOKEN)}'


def best_time(op: str, payload: str, repeat: int = 3) -> tuple[float, str]:
    best, answer = float("inf"), ""
    for _ in range(repeat):
        start = time.perf_counter()
        answer = call(op, payload)
        best = min(best, time.perf_counter() - start)
    return best, answer


def assert_linear(label: str, op: str, make: Callable[[int], str], small: int, large: int,
                  expect: Callable[[dict], None] | None = None) -> None:
    times = []
    for n in (small, large):
        payload = make(n)
        elapsed, answer = best_time(op, payload)
        decoded = check_answer(answer)
        if expect is not None:
            expect(decoded)
        times.append(elapsed)
        print(f"\n  {label:<44} n={n:>9,} {len(payload):>11,} bytes {elapsed * 1e3:9.2f} ms", end="")
        del payload
    limit = SLACK * (large / small) * times[0] + NOISE_S
    assert times[1] <= limit, f"{label}: {times[1]:.4f}s for {large} vs {times[0]:.4f}s for {small}"


def failure(kind: str, message_part: str = "") -> Callable[[dict], None]:
    def expect(answer: dict) -> None:
        assert answer["ok"] is False, answer
        assert answer["error"]["kind"] == kind, answer
        assert message_part in answer["error"].get("message", ""), answer["error"]
    return expect


def success(answer: dict) -> None:
    assert answer["ok"] is True, str(answer)[:300]


def generate(**changes: str) -> str:
    """A generate build payload with some input members given as raw JSON texts."""
    members = {key: json.dumps(value, ensure_ascii=False) for key, value in GENERATE.items()}
    members.update(changes)
    body = ",".join(f'"{key}":{text}' for key, text in members.items())
    return "{" + CONFIG_TOKEN + ',"input":{' + body + "}}"


def webhook(body: str, headers: str = '"X-Hook":"s3cret"', value: str = "s3cret") -> str:
    return '{"headers":{' + headers + '},"body":' + json.dumps(body) + f',"key":"X-Hook","value":"{value}"}}'


def bank(status: int, body: str, input_: str = '{"reference":"1"}') -> str:
    return '{"input":' + input_ + ',"response":{"status":' + str(status) + ',"body":' + json.dumps(body) + "}}"


def notification(**changes: str) -> str:
    members = {"numeroReferencia": '"1"', "monto": "1", "codigoRespuesta": '"PAGADO"'}
    members.update(changes)
    return "{" + ",".join(f'"{key}":{text}' for key, text in members.items()) + "}"


# ---- deep nesting -----------------------------------------------------------------------------------

DEEP_OPS = ["qr.generate.build", "qr.generate.parse", "qr.verify.build", "qr.verify.parse", "qr.cancel.build",
            "qr.cancel.parse", "qr.webhook.parse"]


@pytest.mark.parametrize("op", DEEP_OPS)
def test_a_megabyte_of_brackets_is_refused_without_stack_overflow(op):
    # Record readers stop at the first member of the wrong type; the unknown member makes the reader
    # skip the whole depth, and the generic reader behind `data` and webhook bodies reads it all.
    for opening in ("[", "{\"a\":", "[{\"a\":"):
        deep = opening * ((1 << 20) // len(opening))
        failure("ffi", "invalid payload")(check_answer(call(op, deep)))
        failure("ffi", "recursion limit exceeded")(check_answer(call(op, '{"unknown":' + deep)))


LIMIT = 128


def nested(levels: int) -> str:
    return "[" * levels + "]" * levels


def limit_column(text: str) -> int:
    """The column of the opening bracket one level past the limit (its column counts it)."""
    depth = 0
    for at, ch in enumerate(text):
        depth += ch in "[{"
        depth -= ch in "]}"
        if depth > LIMIT:
            return at + 1
    raise AssertionError("the text stays within the limit")


STATUS_DATA = '"numeroReferencia":"1","estado":"PAGADO"'
NOTIFICATION = '"numeroReferencia":"1","monto":1,"codigoRespuesta":"PAGADO"'

# Each place the reader runs, as (op, text, carry, kind, prefix): `text(n)` reaches exactly n levels
# counting its outermost object, and `carry` puts it where that place reads it. Bank and webhook
# bodies count afresh from their own outermost value.
LIMIT_PLACES = [
    ("qr.verify.build", lambda n: "{" + CONFIG_TOKEN + ',"input":{"reference":"1"},"x":' + nested(n - 1) + "}",
     str, "ffi", "invalid payload: "),
    ("qr.verify.build", lambda n: "{" + CONFIG_TOKEN + ',"input":{"reference":"1","x":' + nested(n - 2) + "}}",
     str, "ffi", "invalid payload: "),
    ("qr.verify.parse", lambda n: '{"data":{' + STATUS_DATA + ',"x":' + nested(n - 2) + "}}",
     lambda body: bank(200, body), "decode", "invalid JSON body: "),
    ("qr.verify.parse", lambda n: '{"data":{' + STATUS_DATA + '},"x":' + nested(n - 1) + "}",
     lambda body: bank(200, body), "decode", "invalid JSON body: "),
    ("qr.webhook.parse", lambda n: "{" + NOTIFICATION + ',"x":' + nested(n - 1) + "}",
     webhook, "decode", "invalid webhook payload: "),
]


@pytest.mark.parametrize("op, text, carry, kind, prefix", LIMIT_PLACES)
def test_nesting_is_accepted_up_to_the_limit_and_refused_one_level_deeper(op, text, carry, kind, prefix):
    success(check_answer(call(op, carry(text(LIMIT)))))
    error = check_answer(call(op, carry(text(LIMIT + 1))))["error"]
    assert (error["kind"], error["message"]) == (
        kind, f"{prefix}recursion limit exceeded at line 1 column {limit_column(text(LIMIT + 1))}")


def test_brackets_inside_bodies():
    deep = "[" * (1 << 20)
    for op, payload, kind in [
        ("qr.webhook.parse", webhook(deep), "decode"),
        ("qr.verify.parse", bank(200, deep), "decode"),
        ("qr.verify.parse", bank(200, '{"data":' + deep), "decode"),
        ("qr.verify.parse", bank(500, deep), "api"),
        ("qr.verify.parse", bank(403, deep), "authentication"),
    ]:
        failure(kind)(check_answer(call(op, payload)))
    assert_linear("brackets in a bank body's data", "qr.verify.parse", lambda n: bank(200, '{"data":' + "[" * n),
                  1 << 17, 1 << 20, failure("decode", "recursion limit exceeded"))


# ---- sheer size -------------------------------------------------------------------------------------


def test_a_hundred_megabyte_payload():
    # The bulk sits where the engine only has to walk over it (an unknown member) or keep it once (a
    # bank body whose preview is answered); payloads are built in one piece to keep the test's own
    # memory near the payload size.
    def skipped(n: int) -> str:
        return "".join(["{", CONFIG_TOKEN, ',"input":{"reference":"1"},"padding":"', "x" * n, '"}'])

    def kept(n: int) -> str:
        return "".join(['{"input":{"reference":"1"},"response":{"status":500,"body":"', "é" * (n // 2), '"}}'])

    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert_linear("100 MB skipped member", "qr.verify.build", skipped, 10_000_000, 100_000_000, success)
    assert_linear("100 MB bank body (preview answered)", "qr.verify.parse", kept, 10_000_000, 100_000_000,
                  failure("api"))
    grown_mb = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024
    print(f"\n  peak RSS growth {grown_mb:.0f} MB", end="")
    # The payload str, its engine copy when kept, and allocator slack; never a multiple of it per step.
    assert grown_mb < 600


# ---- many members -----------------------------------------------------------------------------------


def test_a_hundred_thousand_keys_in_one_object():
    def unknown_keys(n: int) -> str:
        return "{" + CONFIG_TOKEN + ',"input":{"reference":"1"},' + ",".join(f'"k{i}":{i}' for i in range(n)) + "}"

    def data_keys(n: int) -> str:
        # Read into a generic value and ordered there; the keys arrive in descending order.
        keys = ",".join(f'"k{i:07d}":"v"' for i in reversed(range(n)))
        return bank(200, '{"data":{' + keys + ',"numeroReferencia":"1","estado":"PAGADO"}}')

    def body_keys(n: int) -> str:
        return webhook(notification(**{f"k{i}": "null" for i in range(n)}))

    def duplicate_keys(n: int) -> str:
        return "{" + CONFIG_TOKEN + ',"input":{"reference":"1"},' + ",".join('"k":1' for _ in range(n)) + "}"

    assert_linear("100k unknown payload keys", "qr.verify.build", unknown_keys, 10_000, 100_000, success)
    assert_linear("100k keys in the bank's data", "qr.verify.parse", data_keys, 10_000, 100_000, success)
    assert_linear("100k keys in a webhook body", "qr.webhook.parse", body_keys, 10_000, 100_000, success)
    assert_linear("100k repeats of one unknown key", "qr.verify.build", duplicate_keys, 10_000, 100_000, success)


def test_a_hundred_thousand_headers():
    def headers(n: int, last: str) -> str:
        listed = ",".join(f'"h-{i:06d}":"v{i}"' for i in range(n))
        return webhook(notification(), headers=listed + "," + last)

    # The wanted header sorts after all the others; then absent; then present but wrong.
    assert_linear("100k headers, match last", "qr.webhook.parse", lambda n: headers(n, '"x-hook":"s3cret"'),
                  10_000, 100_000, success)
    assert_linear("100k headers, none matching", "qr.webhook.parse", lambda n: headers(n, '"y":"s3cret"'),
                  10_000, 100_000, failure("webhook_auth", "missing"))
    assert_linear("100k headers, value differs", "qr.webhook.parse", lambda n: headers(n, '"X-HOOK":"s3creT"'),
                  10_000, 100_000, failure("webhook_auth", "does not match"))


# ---- long numbers -----------------------------------------------------------------------------------

MILLION = 1_000_000


@pytest.mark.parametrize(("label", "op", "make", "expect"), [
    ("million-digit u64 (expires_in)", "qr.generate.build", lambda n: generate(expires_in="1" + "0" * n),
     failure("ffi", "invalid payload")),
    ("million-digit fraction (expires_in)", "qr.generate.build", lambda n: generate(expires_in="1." + "5" * n),
     failure("ffi", "expected u64")),
    ("million-digit u16 (status)", "qr.verify.parse", lambda n: '{"input":{"reference":"1"},"response":{"status":'
     + "9" * n + ',"body":""}}', failure("ffi", "invalid payload")),
    ("million-digit i64 (expires_at)", "qr.verify.build", lambda n: '{"config":' + json.dumps(CONFIG)
     + ',"token":{"access_token":"t","token_type":"B","expires_at":-' + "9" * n + '},"input":{"reference":"1"}}',
     failure("ffi", "invalid payload")),
    ("million-digit number, unknown member", "qr.verify.build",
     lambda n: "{" + CONFIG_TOKEN + ',"input":{"reference":"1"},"n":-0.' + "1" * n + "e-999999}", success),
    ("million-digit amount number", "qr.generate.build", lambda n: generate(amount="1" * n),
     failure("ffi", "invalid amount")),
    ("million-digit amount number in the bank data", "qr.verify.parse",
     lambda n: bank(200, '{"data":{"numeroReferencia":"1","estado":"x","monto":0.' + "1" * n + "}}"), success),
    ("million-digit amount number in a webhook", "qr.webhook.parse",
     lambda n: webhook(notification(monto="2" * n)), failure("decode", "invalid amount")),
    ("million-digit number read as a generic value", "qr.verify.parse",
     lambda n: bank(200, '{"data":[' + "7" * n + "]}"), failure("decode", "unexpected payload shape")),
])
def test_a_million_digits(label, op, make, expect):
    assert_linear(label, op, make, MILLION // 10, MILLION, expect)


@pytest.mark.parametrize(("label", "op", "make", "expect"), [
    ("million-digit amount string", "qr.generate.build", lambda n: generate(amount='"' + "1" * n + '"'),
     failure("ffi", "invalid amount")),
    ("million-digit amount string, fraction", "qr.generate.build",
     lambda n: generate(amount='" 0.' + "0" * n + '1 "'), failure("validation", "greater than zero")),
    ("million-digit amount string, rounds", "qr.generate.build",
     lambda n: generate(amount='"1.' + "9" * n + '"'), success),
    ("million-digit amount string, exponent", "qr.generate.build",
     lambda n: generate(amount='"' + "1" * n + 'e-999"'), failure("ffi", "invalid amount")),
    ("million-digit amount string in the bank data", "qr.generate.parse",
     lambda n: bank(200, json.dumps({"data": {"numeroReferencia": "1", "estado": "x", "monto": "3" * n,
                                              "qr": ""}}), json.dumps(GENERATE)), failure("decode", "invalid amount")),
    ("million-digit amount string in a webhook", "qr.webhook.parse",
     lambda n: webhook(notification(importe='"0.' + "4" * n + '"', monto="null")), success),
])
def test_a_million_digit_amount_string(label, op, make, expect):
    assert_linear(label, op, make, MILLION // 10, MILLION, expect)


# ---- escapes and NUL --------------------------------------------------------------------------------

ESCAPES = r"\"\\\/\b\f\n\r\t\u0000\u001f\u00e9\u20ac\ud83d\ude00"


def test_strings_full_of_escapes():
    def kept(n: int) -> str:  # description is trimmed, checked and sent in the request body
        return generate(description='"' + ESCAPES * n + '"')

    def skipped(n: int) -> str:
        return "{" + CONFIG_TOKEN + ',"input":{"reference":"1"},"x":["' + ESCAPES * n + '"]}'

    def twice(n: int) -> str:  # escapes inside a webhook body, itself a string of the payload
        return webhook(notification(detalleRespuesta='"' + ESCAPES * n + '"'))

    def header_value(n: int) -> str:
        return webhook(notification(), headers='"X-Hook":"' + ESCAPES * n + '"')

    assert_linear("escapes, kept and sent", "qr.generate.build", kept, 5_000, 50_000, success)
    assert_linear("escapes, skipped", "qr.verify.build", skipped, 5_000, 50_000, success)
    assert_linear("escapes inside an escaped body", "qr.webhook.parse", twice, 5_000, 50_000, success)
    assert_linear("escapes in a compared header", "qr.webhook.parse", header_value, 5_000, 50_000,
                  failure("webhook_auth", "does not match"))


def test_escapes_come_back_decoded_and_rewritten():
    answer = check_answer(call("qr.webhook.parse", webhook(notification(detalleRespuesta='"' + ESCAPES + '"'))))
    assert answer["value"]["response_detail"] == "\"\\/\b\f\n\r\t\x00\x1féé€😀".replace("éé", "é")


@pytest.mark.parametrize(("op", "payload", "expect"), [
    ("qr.verify.build", "\x00" * 1000, failure("ffi", "expected value")),
    ("qr.verify.build", "{" + CONFIG_TOKEN + ',"input":{"reference":"1\x00"}}', failure("ffi", "control character")),
    ("qr.verify.build", "{" + CONFIG_TOKEN + ',"x":"\x00","input":{"reference":"1"}}',
     failure("ffi", "control character")),
    ("qr.verify.build", "{" + CONFIG_TOKEN + ',"input":{"reference":"1"}}\x00', failure("ffi", "trailing characters")),
    ("qr.verify.build", "{" + CONFIG_TOKEN + ',"input":{"reference":"1\\u0000"}}',
     failure("validation", "only digits")),
    ("qr.webhook.parse", webhook(notification(numeroReferencia='"\\u0000"')), success),
    ("qr.webhook.parse", webhook(notification(), headers='"X-Hook":"s3cret\\u0000"'), failure("webhook_auth")),
    ("qr.webhook.parse", webhook(notification(), headers='"X-Hook":"s3cret\\u0000"', value="s3cret\\u0000"), success),
    ("qr.webhook.parse", webhook(notification(), headers='"X-Hook\\u0000":"s3cret"'), failure("webhook_auth")),
    ("version\x00", "", failure("ffi", "unknown operation")),
    ("qr.verify.parse", bank(500, "\x00" * 300), failure("api")),
])
def test_nul_bytes(op, payload, expect):
    expect(check_answer(call(op, payload)))


def test_nul_bytes_at_scale():
    def nuls(n: int) -> str:
        return webhook(notification(numeroReferencia='"' + "\\u0000" * n + '"'))

    assert_linear("escaped NULs kept and written", "qr.webhook.parse", nuls, 100_000, MILLION, success)
    answer = check_answer(call("qr.webhook.parse", nuls(3)))
    assert answer["value"]["reference"] == "\x00\x00\x00"
