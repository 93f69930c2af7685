"""The Python face of `_native`: argument matching, conversions, attributes and documentation."""

import importlib.metadata
import json
import pathlib
import platform

import pytest

import corvane_bo.qr
import samples
from corvane_bo.qr import _native

VERSION_ANSWER = '{"ok":true,"value":{"core":"0.1.0","protocol":2}}'


class Text(str):
    pass


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((), {}, "call() missing 2 required positional arguments: 'op' and 'payload'"),
        (("version",), {}, "call() missing 1 required positional argument: 'payload'"),
        ((), {"payload": ""}, "call() missing 1 required positional argument: 'op'"),
        ((), {"op": "version"}, "call() missing 1 required positional argument: 'payload'"),
        (("version", "", ""), {}, "call() takes 2 positional arguments but 3 were given"),
        (("a", "b", "c", "d"), {}, "call() takes 2 positional arguments but 4 were given"),
        (("version", ""), {"x": 1}, "call() got an unexpected keyword argument 'x'"),
        ((), {"Op": "version", "payload": ""}, "call() got an unexpected keyword argument 'Op'"),
        (("version",), {"op": "version"}, "call() got multiple values for argument 'op'"),
        (("version", ""), {"payload": ""}, "call() got multiple values for argument 'payload'"),
        # Keyword faults win over a surplus of positionals, as for a Python function.
        (("version", "", ""), {"op": "x"}, "call() got multiple values for argument 'op'"),
        (("version", "", ""), {"x": 1}, "call() got an unexpected keyword argument 'x'"),
        # Keywords are judged in the order given.
        (("version", ""), {"x": 1, "op": "v"}, "call() got an unexpected keyword argument 'x'"),
        (("version", ""), {"op": "v", "x": 1}, "call() got multiple values for argument 'op'"),
        ((1, ""), {}, "argument 'op': 'int' object is not an instance of 'str'"),
        (("version", None), {}, "argument 'payload': 'NoneType' object is not an instance of 'str'"),
        (("version", b"{}"), {}, "argument 'payload': 'bytes' object is not an instance of 'str'"),
        ((), {"payload": None, "op": 1}, "argument 'op': 'int' object is not an instance of 'str'"),
        ((None, 1), {}, "argument 'op': 'NoneType' object is not an instance of 'str'"),
        ((Outer.Inner(), ""), {}, "argument 'op': 'Outer.Inner' object is not an instance of 'str'"),
    ],
)
def test_bad_arguments_raise_type_error(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        _native.call(*args, **kwargs)
    assert str(caught.value) == message


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [(("version",), {"payload": ""}), ((), {"payload": "", "op": "version"}), ((Text("version"), Text("")), {})],
)
def test_arguments_by_position_or_keyword(args, kwargs):
    assert _native.call(*args, **kwargs) == VERSION_ANSWER


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [(("\ud800", ""), {}), (("version", "{\"x\":\"\udfff\"}"), {}), ((), {"op": "version", "payload": "\udc80"})],
)
def test_lone_surrogate_raises_unicode_encode_error(args, kwargs):
    with pytest.raises(UnicodeEncodeError):
        _native.call(*args, **kwargs)


def test_module_attributes_and_documentation():
    names = list(vars(_native))
    start = names.index("call")
    assert names[start : start + 3] == ["call", "__version__", "PROTOCOL_VERSION"]
    assert type(_native.__version__) is str and _native.__version__ == "0.1.0"
    assert type(_native.PROTOCOL_VERSION) is int and _native.PROTOCOL_VERSION == 2
    expected_kernels = {
        "x86_64": {"x86-64 AVX2 with AVX-512 VBMI2", "x86-64 AVX2", "x86-64 SSE2", "portable"},
        "aarch64": {"aarch64 NEON", "portable"},
    }
    assert _native.kernels in expected_kernels.get(platform.machine(), {"portable"})
    assert _native.__doc__ == ""
    assert type(_native.call).__name__ == "builtin_function_or_method" and _native.call.__self__ is _native
    assert _native.call.__text_signature__ == "(op, payload)"
    assert _native.call.__doc__ == (
        "Runs a QR operation; `payload` and the result are JSON strings\n(see `corvane_bo_core::ffi`)."
    )


def test_panic_type_escapes_ordinary_handlers():
    panic = _native.PanicException
    assert panic.__module__ == "corvane_bo.qr._native" and panic.__name__ == "PanicException"
    # A core fault must not be swallowed by `except Exception`.
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)


@pytest.mark.parametrize("payload", ["", "{}", "ñ", "\u20ac", "😀"])
@pytest.mark.parametrize(
    "op",
    [
        "qr.x",
        "qr.é",
        "\u00a0ÿ\u0080 Unión " * 3,
        "é" * 40 + "a" * 40 + "ñ",
        "qr.€",
        "é€ÿ",
        "ÿ😀",
        "\u0100",
        "a" * 5000 + "é",
        "é" * 3000,
    ],
)
def test_answers_come_back_as_written_whatever_their_characters(op, payload):
    # Answers in Latin-1 letters are handed over another way than the rest; both must give the text.
    expected = '{"error":{"kind":"ffi","message":"unknown operation `' + op + '`","retryable":false},"ok":false}'
    assert _native.call(op, payload) == expected


@pytest.mark.parametrize("name", ["María Fernanda", "Ñandú € Peñas", "Pago 😀 hecho", "Unión" * 40])
def test_a_payload_in_ascii_escapes_gets_the_answer_its_characters_get(name):
    # json.dumps writes ASCII by default: the answer carries the characters all the same, and both
    # forms of the payload get the same str.
    notification = {**samples.SHOP_NOTIFICATION, "clienteOrigen": {**samples.SHOP_PAYER, "nombreCliente": name}}
    payload = samples.render(samples.webhook(notification, samples.SHOP_HOOK_HEADERS, samples.SHOP_WEBHOOK["key"],
                                             samples.SHOP_WEBHOOK["value"]))
    escaped = json.dumps(json.loads(payload))
    assert escaped.isascii() and not payload.isascii()
    answer = _native.call("qr.webhook.parse", escaped)
    assert answer == _native.call("qr.webhook.parse", payload)
    assert json.loads(answer)["value"]["payer"]["name"] == name


def test_the_package_carries_the_engines_version():
    version = json.loads(_native.call("version", ""))["value"]["core"]
    assert corvane_bo.qr.__version__ == _native.__version__ == version
    tomllib = pytest.importorskip("tomllib")
    pyproject = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
    assert tomllib.loads(pyproject.read_text())["project"]["version"] == version
    try:
        assert importlib.metadata.version("corvane-bo-qr") == version
    except importlib.metadata.PackageNotFoundError:
        pass  # imported from the checkout, not installed
