"""The merchant's own bad arguments are ValidationErrors naming the field, raised before anything is sent;
only an argument of the wrong Python type is a TypeError. And these checks never refuse what the engine
accepts: on amount texts they agree with the engine, message for message."""

from __future__ import annotations

import json
import re
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvane_bo.qr import AccessToken, Client, Config, QrError, ValidationError, WebhookTarget
from corvane_bo.qr._native import call
from corvane_bo.qr.checks import amount_text_error
from samples import CONFIG, GENERATE, TOKEN, build, render

HOOK = WebhookTarget("https://shop.example/hook", "X-Hook", "s3cret")


def _never_sent(request: Any) -> Any:
    raise AssertionError(f"a request was sent: {request}")


def client() -> Client:
    return Client(Config("cid"), AccessToken("tok", expires_at=1), _never_sent, webhook=HOOK)


def generate(**changes: Any) -> Callable[[], Any]:
    args = {"amount": "25.50", "reference": "1001", "description": "Pedido", "establishment_id": 7,
            "establishment_name": "Tienda", "expires_in": 600, **changes}
    return lambda: client().generate(**args)


BEYOND_LATIN_1 = "tok€n"
REFUSED = [
    ("text amount", generate(amount="abc"), "amount", "invalid amount `abc`: Failed to parse"),
    ("huge exponent", generate(amount=Decimal("1e30")), "amount",
     "invalid amount `1E+30`: the exponent exceeds 28 in magnitude"),
    ("beyond 96 bits", generate(amount=2**96), "amount", f"invalid amount `{2**96}`: Failed to parse"),
    ("NaN", generate(amount=Decimal("NaN")), "amount", "invalid amount `NaN`: Failed to parse"),
    ("float", generate(amount=25.5), "amount",
     "must be a Decimal, int or str, not float (binary floating point cannot hold amounts exactly)"),
    ("negative expiry", generate(expires_in=-5), "expires_in", "must be greater than zero"),
    ("zero expiry (the engine's own check)", generate(expires_in=0), "expires_in", "must be greater than zero"),
    ("expiry beyond 64 bits", generate(expires_in=2**64), "expires_in", "must be at most 18446744073709551615"),
    ("negative establishment", generate(establishment_id=-1), "establishment_id", "must be greater than zero"),
    ("unknown kind", generate(kind="foo"), "kind", "unknown variant `foo`, expected `simple` or `mld`"),
    ("verify kind in capitals", lambda: client().verify("1", kind="MLD"), "kind",
     "unknown variant `MLD`, expected `simple` or `mld`"),
    ("lone surrogate", generate(description="Pedido \ud800"), "description",
     "must be valid Unicode text (lone surrogate at character 7)"),
    ("reference surrogate", lambda: client().cancel("1\udc00"), "reference",
     "must be valid Unicode text (lone surrogate at character 1)"),
    ("line break in token", lambda: AccessToken("tok\r\nX-Evil: 1"), "token.access_token",
     "cannot be sent in an HTTP header (a line break or NUL at character 3)"),
    ("token beyond Latin-1", lambda: AccessToken(BEYOND_LATIN_1), "token.access_token",
     "cannot be sent in an HTTP header (a character beyond Latin-1 at character 3)"),
    ("line feed in client id", lambda: Config("cid\n"), "config.client_id",
     "cannot be sent in an HTTP header (a line break or NUL at character 3)"),
    ("environment in capitals", lambda: Config("cid", environment="Sandbox"), "config.environment",
     "unknown variant `Sandbox`, expected one of `development`, `sandbox`, `production`"),
    ("expiry time beyond 64 bits", lambda: AccessToken("tok", expires_at=2**63), "token.expires_at",
     "must be at most 9223372036854775807"),
    ("webhook surrogate", lambda: WebhookTarget("https://x/\udfff", "K", "v"), "webhook.url",
     "must be valid Unicode text (lone surrogate at character 10)"),
]


@pytest.mark.parametrize(("make", "field", "message"), [case[1:] for case in REFUSED], ids=[c[0] for c in REFUSED])
def test_bad_arguments_are_validation_errors_naming_the_field(make: Callable[[], Any], field: str,
                                                              message: str) -> None:
    with pytest.raises(QrError) as info:
        make()
    assert isinstance(info.value, ValidationError)
    assert (info.value.field, info.value.message) == (field, message)
    assert str(info.value) == f"{field}: {message}"
    assert BEYOND_LATIN_1 not in str(info.value)  # a secret is never quoted


WRONG_TYPES = [
    ("float amount", generate(amount=25.5)),
    ("bool amount", generate(amount=True)),
    ("None description", generate(description=None)),
    ("float reference", generate(reference=1.5)),
    ("str expiry", generate(expires_in="600")),
    ("bool establishment", generate(establishment_id=True)),
    ("kind as int", generate(kind=1)),
    ("webhook as dict", generate(webhook={"url": "https://x"})),
    ("float expiry time", lambda: AccessToken("tok", expires_at=1.5e9)),
    ("bytes client id", lambda: Config(b"cid")),
]


@pytest.mark.parametrize("make", [case[1] for case in WRONG_TYPES], ids=[c[0] for c in WRONG_TYPES])
def test_arguments_of_the_wrong_type_are_type_errors(make: Callable[[], Any]) -> None:
    with pytest.raises(TypeError):
        make()


def test_what_the_engine_accepts_is_still_accepted() -> None:
    # Empty, Latin-1 and odd-looking values: the engine takes them as they are.
    assert AccessToken("", token_type="", expires_at=-(2**63)).to_json()["access_token"] == ""
    assert Config("", environment="production", base_url="é").to_json()["environment"] == "production"
    assert AccessToken("tók\ten", expires_at=2**63 - 1).access_token == "tók\ten"
    assert Config("c\x01d").client_id == "c\x01d"
    for amount in ["  1_000.50 ", "1e28", "+.5", "5.", "1_e2", "79228162514264337593543950335", Decimal("1E+2"), 0]:
        assert amount_text_error(str(amount)) is None, amount


# ---- the amount reader agrees with the engine's ------------------------------------------------------

_POSITION = re.compile(r" at line \d+ column \d+$")


def engine_amount_error(text: str) -> str | None:
    """The engine's decoding message for this amount text, or None when it reads it."""
    answer = json.loads(call("qr.generate.build", render(build({**GENERATE, "amount": text}, CONFIG, TOKEN))))
    error = answer.get("error") or {}
    if error.get("kind") != "ffi":
        return None
    assert error["message"].startswith("invalid payload: invalid amount"), error
    return _POSITION.sub("", error["message"].removeprefix("invalid payload: "))


def python_amount_error(text: str) -> str | None:
    error = amount_text_error(text)
    return None if error is None else error.message


AMOUNT_CHARS = "0123456789._+-eE \u00a0x"
EDGES = ["79228162514264337593543950335.4", "79228162514264337593543950335.5", "7.9228162514264337593543950336e28",
         "0.5e-28", "1e-28", "-1e28", "._5", "1e+028", "1e5e5", "x1e30", "1.e1", ".e1", "e1", "1" * 40 + "e-20",
         "0." + "0" * 40 + "1", "9" * 250]


@pytest.mark.parametrize("text", EDGES)
def test_amount_edges_agree_with_the_engine(text: str) -> None:
    assert python_amount_error(text) == engine_amount_error(text)


@settings(max_examples=500, deadline=None)
@given(st.text(alphabet=AMOUNT_CHARS, max_size=14) | st.from_regex(r"\A[+-]?[0-9_]{0,30}(\.[0-9_]{0,30})?([eE][+-]?[0-9]{1,3})?\Z"))
def test_amount_texts_agree_with_the_engine(text: str) -> None:
    assert python_amount_error(text) == engine_amount_error(text)
