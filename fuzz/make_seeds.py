#!/usr/bin/env python3
"""Writes the fuzz seed corpora: fuzz/seeds/call/ and fuzz/seeds/reader/.

A call seed is one byte naming the operation (its index in the names call_input.hpp builds) followed
by the payload. Every operation and stage gets payloads that succeed and payloads that stop at each
of its checks, and the parse stages carry bank answers of every shape the envelope tells apart, so
the fuzzer starts out past the record mapping. The reader seeds are the payloads alone plus the bank
bodies and webhook bodies found inside them.

Deterministic: running it twice gives the same files (named by content hash), so the committed
seeds only change when this script does.
"""

from __future__ import annotations

import hashlib
import json
import re
import shutil
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

import samples  # noqa: E402
from samples import (CANCEL, CONFIG, CONFIG_FULL, GENERATE, GENERATED, HOOK_HEADERS, NOTIFICATION,  # noqa: E402
                     STATUS, TOKEN, VERIFY, WEBHOOK, dumps)


def operation_table() -> list[str]:
    """The names in the order call_input.hpp builds them: "describe" of the built module, then the near misses."""
    try:
        from corvane_bo.qr import _native
    except ImportError as missing:
        raise SystemExit(f"make_seeds.py asks the built module for its operations: {missing}") from missing
    names = ["describe", "version"]
    for info in json.loads(_native.call("describe", ""))["value"]:
        names += [info["name"]] if info["kind"] == "handler" else [info["name"] + ".build", info["name"] + ".parse"]
    source = (HERE / "call_input.hpp").read_text(encoding="utf-8")
    block = source.split("// near-misses-begin", 1)[1].split("// near-misses-end", 1)[0]
    return names + [json.loads(m) for m in re.findall(r'^\s*("(?:[^"\\]|\\.)*"),\s*$', block, re.M)]


def envelope(data) -> str:
    return dumps(samples.envelope(data))


def responses(data) -> list[dict]:
    """Bank answers covering each row of the envelope's outcome table, around one good `data`."""
    ok = envelope(data)
    return [
        {"status": 200, "body": ok},
        {"status": 201, "body": dumps({"data": data})},
        {"status": 200, "body": dumps({"data": list(data.values())})},
        {"status": 200, "body": dumps({"success": True, "data": None})},
        {"status": 200, "body": dumps({"success": True, "data": {"numeroReferencia": 5}})},
        {"status": 200, "body": dumps({"data": {"estado": "x"}, "extra": [1, {"a": None}]})},
        {"status": 200, "body": "not json"},
        {"status": 200, "body": "[1, 2"},
        {"status": 200, "body": dumps({"errors": None})},
        {"status": 200, "body": dumps({"success": False, "message": "rechazado",
                                       "errors": [{"field": "monto", "message": "bad", "code": "E1"}]})},
        {"status": 400, "body": dumps({"errors": [{"message": "m"}, ["f", "m", "c"]]})},
        {"status": 401, "body": ""},
        {"status": 403, "body": dumps({"error_description": "  expired  ", "message": "m", "error": 3})},
        {"status": 408, "body": "timeout"},
        {"status": 429, "body": dumps({"message": "slow down"})},
        {"status": 500, "body": "<html><body>" + "ñ" * 210 + "</body></html>"},
        {"status": 503, "body": dumps({"success": False})},
        {"status": 302, "body": "   "},
        {"status": 65535, "body": ok},
    ]


def build_payloads(config_token_input: list[tuple]) -> list[str]:
    out = []
    for config, token, input_ in config_token_input:
        payload = {"config": config, "input": input_}
        if token is not ...:
            payload["token"] = token
        out.append(dumps(payload))
    return out


def generate_build() -> list[str]:
    cases = [(CONFIG, TOKEN, GENERATE), (CONFIG_FULL, TOKEN, {**GENERATE, "kind": "mld", "amount": 1e2}),
             (CONFIG, None, GENERATE), (CONFIG, ..., GENERATE)]
    # One input per check of the build stage, in the order they run.
    for change in [{"description": "  "}, {"establishment_name": ""}, {"establishment_name": "A&B"},
                   {"reference": " 1"}, {"reference": "2147483648"}, {"reference": "0000002147483647"},
                   {"amount": 0}, {"amount": "1.005"}, {"amount": "-3"}, {"amount": "1e-2"},
                   {"amount": "79228162514264337593543950335"}, {"expires_in": 0},
                   {"establishment_id": 0}, {"expires_in": 18446744073709551615}, {"webhook": None},
                   {"webhook": {**WEBHOOK, "url": "ftp://x"}}, {"webhook": {**WEBHOOK, "key": "a b"}},
                   {"webhook": {**WEBHOOK, "value": " "}}, {"webhook": ["http://", "k", "v"]}]:
        cases.append((CONFIG, TOKEN, {**GENERATE, **change}))
    out = build_payloads(cases)
    out.append(dumps([CONFIG, TOKEN, list(GENERATE.values())]))
    out.append(dumps([list(CONFIG_FULL.values()), None, list(GENERATE.values())[:-1]]))
    out.append(dumps({"config": CONFIG, "token": TOKEN, "input": GENERATE, "response": {"status": 200, "body": ""}},
                     compact=True))
    out.append('{"config":{"client_id":"m","environment":"development"},"token":{"access_token":"","token_type":"x",'
               '"expires_at":-9223372036854775808},"input":{"description":"d","amount":10.50,"reference":"7",'
               '"expires_in":1,"establishment_id":1,"establishment_name":"n","webhook":'
               '{"url":"HTTP://x","key":"k","value":"v"}}}')
    return out


def verify_or_cancel_build(input_, extra_inputs) -> list[str]:
    cases = [(CONFIG, TOKEN, input_), (CONFIG_FULL, None, input_), ({"client_id": "m"}, ..., input_)]
    cases += [(CONFIG, TOKEN, other) for other in extra_inputs]
    out = build_payloads(cases)
    out.append(dumps([CONFIG, TOKEN, list(input_.values())]))
    out.append(dumps({"config": {**CONFIG, "base_url": "///"}, "token": TOKEN, "input": input_}, compact=True))
    return out


def parse_payloads(input_, data) -> list[str]:
    out = [dumps({"input": input_, "response": response}) for response in responses(data)]
    out.append(dumps([input_, [200, envelope(data)]]))
    return out


def webhook_calls() -> list[str]:
    headers = HOOK_HEADERS
    call = {**samples.WEBHOOK_CALL, "body": dumps(NOTIFICATION)}
    bodies = [
        NOTIFICATION,
        {"numeroReferencia": "", "importe": "20", "codigoRespuesta": "  ", "estado": "CANCELADO", "mensaje": "m"},
        {"numeroReferencia": "1", "monto": -1, "codigoRespuesta": " success "},
        {"numeroReferencia": "1", "monto": "0", "estado": "00"},
        {"numeroReferencia": "1"},
        {"numeroReferencia": "1", "monto": 1},
        {"numeroReferencia": 1, "monto": 1, "estado": "x"},
        ["1", 5, None, None, "PAGADO"],
        [],
    ]
    out = [dumps({**call, "body": dumps(body)}) for body in bodies]
    out.append(dumps({**call, "body": '{"numeroReferencia":"1","mensaje":"a","detalleRespuesta":"b"}'}))
    out.append(dumps({**call, "body": "not json"}))
    out.append(dumps({**call, "value": ""}))
    out.append(dumps({**call, "value": "hook-secret-2"}))
    out.append(dumps({**call, "headers": {}}))
    out.append(dumps({**call, "headers": {"X-CORVANE-HOOK": "hook-secret-1", "x-corvane-hook": "other"}}))
    out.append(dumps({**call, "key": "", "headers": {"": "hook-secret-1"}}))
    out.append(dumps([headers, dumps(NOTIFICATION), WEBHOOK["key"], WEBHOOK["value"]]))
    return out


def call_seeds(ops: list[str]) -> dict[str, list[str]]:
    meta = ["", "{}", "not json"]
    seeds = {
        "describe": meta,
        "version": meta,
        "qr.generate.build": generate_build(),
        "qr.generate.parse": parse_payloads(GENERATE, GENERATED) + [
            dumps({"input": {**GENERATE, "kind": "mld"},
                   "response": {"status": 200, "body": envelope({**GENERATED, "moneda": None})}})],
        "qr.verify.build": verify_or_cancel_build(VERIFY, [{"reference": "0" * 30}, {"reference": "١٢"},
                                                           {"reference": " "}, {"kind": "MLD", "reference": "1"}]),
        "qr.verify.parse": parse_payloads(VERIFY, STATUS) + [
            dumps({"input": {"reference": "1"},
                   "response": {"status": 200, "body": envelope({"numeroReferencia": "1", "estado": "x"})}})],
        "qr.cancel.build": verify_or_cancel_build(CANCEL, [{"kind": "mld", "reference": "99"}, {"reference": "1.5"}]),
        "qr.cancel.parse": parse_payloads(CANCEL, STATUS),
        "qr.webhook.parse": webhook_calls(),
    }
    # The near misses only need something that would be a valid payload for the name they resemble.
    for op in ops:
        seeds.setdefault(op, [seeds["qr.verify.build"][0]])
    return seeds


def inner_texts(payload: str) -> list[str]:
    """Bank bodies and webhook bodies carried as strings inside a payload."""
    try:
        value = json.loads(payload)
    except ValueError:
        return []
    found = []
    if isinstance(value, dict):
        body = value.get("body")
        if isinstance(body, str):
            found.append(body)
        response = value.get("response")
        if isinstance(response, dict) and isinstance(response.get("body"), str):
            found.append(response["body"])
    return found


def write_corpus(directory: Path, items: list[bytes]) -> int:
    if directory.exists():
        shutil.rmtree(directory)
    directory.mkdir(parents=True)
    names = set()
    for data in items:
        name = hashlib.sha1(data).hexdigest()
        if name not in names:
            names.add(name)
            (directory / name).write_bytes(data)
    return len(names)


def main() -> int:
    ops = operation_table()
    if len(ops) > 256:
        raise SystemExit("the operation table must fit one byte")
    seeds = call_seeds(ops)
    unknown = set(seeds) - set(ops)
    if unknown:
        raise SystemExit(f"seeds for operations that describe does not list: {sorted(unknown)}")
    call_items, reader_items = [], []
    for op, payloads in seeds.items():
        index = ops.index(op)
        for payload in payloads:
            encoded = payload.encode("utf-8")
            call_items.append(bytes([index]) + encoded)
            reader_items.append(encoded)
            reader_items += [text.encode("utf-8") for text in inner_texts(payload)]
    n_call = write_corpus(HERE / "seeds" / "call", call_items)
    n_reader = write_corpus(HERE / "seeds" / "reader", reader_items)
    print(f"{n_call} call seeds, {n_reader} reader seeds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
