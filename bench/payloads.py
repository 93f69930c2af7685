"""The benchmark's cases: the shop's payloads of tests/python/samples.py, as a host application sends them.

`BENCH_CASES` are the timed payloads; `CHECK_CASES` add the common failure
paths, which are only checked for identical answers. Everything is built
deterministically (the QR images are Base64 of seeded random bytes), so runs
are comparable across machines and commits.
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import NamedTuple

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

import samples  # noqa: E402
from samples import (SHOP_CONFIG, SHOP_GENERATE, SHOP_HOOK_HEADERS, SHOP_NOTIFICATION, SHOP_OK,  # noqa: E402
                     SHOP_PAYER_BANK, SHOP_STATUS, SHOP_TOKEN, SHOP_VERIFY, SHOP_WEBHOOK, Num, build, parse,
                     qr_image, render, shop_generated, webhook)


class Case(NamedTuple):
    label: str
    op: str
    payload: str
    target_us: float | None = None  # the engine's time per call must stay at or under this
    target_ratio: float | None = None  # baseline time / engine time must reach this


def envelope(data, *, message=SHOP_OK) -> dict:
    return samples.envelope(data, message=message)


def build_payload(input_, *, config=SHOP_CONFIG, token=SHOP_TOKEN) -> str:
    return render(build(input_, config, token))


def parse_payload(input_, status: int, body) -> str:
    return render(parse(input_, status, body))


def webhook_payload(body, *, headers=SHOP_HOOK_HEADERS, key=SHOP_WEBHOOK["key"],
                    value=SHOP_WEBHOOK["value"]) -> str:
    return render(webhook(body, headers, key, value))


def with_input(**changes) -> dict:
    return {**SHOP_GENERATE, **changes}


BENCH_CASES = [
    Case("version", "version", "", 0.2),
    Case("generate build", "qr.generate.build", build_payload(SHOP_GENERATE), 1.5, 10),
    Case("webhook parse", "qr.webhook.parse", webhook_payload(SHOP_NOTIFICATION), 1.2, 12),
    # The same notification as json.dumps writes it by default: every accented letter a \u escape.
    Case("webhook parse, ASCII", "qr.webhook.parse", json.dumps(json.loads(webhook_payload(SHOP_NOTIFICATION))),
         1.2, 12),
    Case(
        "verify parse",
        "qr.verify.parse",
        parse_payload(SHOP_VERIFY, 200, envelope(SHOP_STATUS, message="Consulta exitosa")),
        1.2,
        12,
    ),
    Case(
        "generate parse, 200 B QR",
        "qr.generate.parse",
        parse_payload(SHOP_GENERATE, 200, envelope(shop_generated(qr_image(200, seed=1)))),
        1.0,
        14,
    ),
    Case(
        "generate parse, 12 KB QR",
        "qr.generate.parse",
        parse_payload(SHOP_GENERATE, 200, envelope(shop_generated(qr_image(12288, seed=2)))),
        4.0,
        10,
    ),
]

_SMALL_OK = envelope(shop_generated(qr_image(200, seed=1)))
_BANK_ERRORS = [
    {"field": "monto", "message": "El monto excede el límite diario", "code": "E-0412"},
    {"message": "Solicitud rechazada"},
]

CHECK_CASES = [
    # build: valid variants
    Case("generate build mld, amount 100.00", "qr.generate.build",
         build_payload(with_input(kind="mld", amount=Num("100.00")))),
    Case("generate build, number amount 10.50", "qr.generate.build",
         build_payload(with_input(amount=Num("10.50"), description="  Café\tcon leche  "))),
    Case("generate build, base_url", "qr.generate.build",
         build_payload(SHOP_GENERATE, config={"client_id": "m-1", "base_url": "https://bank.test/api//"})),
    Case("verify build mld", "qr.verify.build", build_payload({"kind": "mld", "reference": "00012345"})),
    Case("cancel build", "qr.cancel.build", build_payload({"reference": "12345"})),
    # build: validation failures, in the order they are tested
    Case("generate: blank description", "qr.generate.build", build_payload(with_input(description=" \u3000 "))),
    Case("generate: blank name", "qr.generate.build", build_payload(with_input(establishment_name="\u00a0"))),
    Case("generate: name with hyphen", "qr.generate.build", build_payload(with_input(establishment_name="Tienda-Uno"))),
    Case("generate: name with accents", "qr.generate.build",
         build_payload(with_input(establishment_name=" Pastelería Ñandú 1º "))),
    Case("generate: reference with blank", "qr.generate.build", build_payload(with_input(reference=" 12"))),
    Case("generate: reference too large", "qr.generate.build", build_payload(with_input(reference="2147483648"))),
    Case("generate: zero amount", "qr.generate.build", build_payload(with_input(amount="0.00"))),
    Case("generate: three places", "qr.generate.build", build_payload(with_input(amount="1.005"))),
    Case("generate: zero expiry", "qr.generate.build", build_payload(with_input(expires_in=0))),
    Case("generate: zero establishment", "qr.generate.build", build_payload(with_input(establishment_id=0))),
    Case("generate: no webhook", "qr.generate.build", build_payload(with_input(webhook=None))),
    Case("generate: ftp webhook", "qr.generate.build",
         build_payload(with_input(webhook={**SHOP_WEBHOOK, "url": "ftp://x"}))),
    Case("generate: bad header name", "qr.generate.build",
         build_payload(with_input(webhook={**SHOP_WEBHOOK, "key": "X Token"}))),
    Case("generate: blank header value", "qr.generate.build",
         build_payload(with_input(webhook={**SHOP_WEBHOOK, "value": "  "}))),
    Case("generate: no token", "qr.generate.build", build_payload(SHOP_GENERATE, token=None)),
    Case("verify: non-digit reference", "qr.verify.build", build_payload({"reference": "12a"})),
    # parse: envelope outcomes
    Case("generate parse: 401 empty", "qr.generate.parse", parse_payload(SHOP_GENERATE, 401, "")),
    Case("generate parse: 403 description", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 403, {"error": "forbidden", "error_description": "  Token expirado "})),
    Case("generate parse: 500 html", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 500, "  <html><body>" + "Internal Server Error " * 20 + "</body></html>\n")),
    Case("generate parse: 404 text", "qr.generate.parse", parse_payload(SHOP_GENERATE, 404, "Not Found")),
    Case("generate parse: 429 text", "qr.generate.parse", parse_payload(SHOP_GENERATE, 429, "slow down")),
    Case("generate parse: 400 envelope", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 400, {"success": False, "message": "Datos inválidos", "errors": _BANK_ERRORS})),
    Case("generate parse: 503 envelope no message", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 503, {"data": None, "errors": []})),
    Case("generate parse: 200 success false", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 200, {"success": False, "message": "Límite excedido", "errors": _BANK_ERRORS})),
    Case("generate parse: 200 no data", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 200, {"success": True, "message": "ok", "data": None})),
    Case("generate parse: data without qr", "qr.generate.parse",
         parse_payload(SHOP_GENERATE, 200, envelope({k: v for k, v in _SMALL_OK["data"].items() if k != "qr"}))),
    Case("generate parse: mld, no currency", "qr.generate.parse",
         parse_payload(with_input(kind="mld"), 200,
                       envelope({k: v for k, v in _SMALL_OK["data"].items() if k != "moneda"}))),
    Case("verify parse: minimal status", "qr.verify.parse",
         parse_payload({"kind": "mld", "reference": "1"}, 200,
                       envelope({"numeroReferencia": "1", "estado": " expirado\n", "monto": "15.00",
                                 "clienteOrigen": {"nombreCliente": " ", "ciCliente": ""}}))),
    Case("cancel parse", "qr.cancel.parse",
         parse_payload({"reference": "104820017", "kind": "mld"}, 200,
                       envelope({**SHOP_STATUS, "estado": "CANCELADO", "importe": None, "monto": 100}))),
    # webhook
    Case("webhook: success code, importe", "qr.webhook.parse",
         webhook_payload({"numeroReferencia": "77", "importe": "20.10", "codigoRespuesta": " Success ",
                          "mensaje": "ok", "bancoOrigen": SHOP_PAYER_BANK},
                         headers={"x-webhook-token": SHOP_WEBHOOK["value"]})),
    Case("webhook: wrong value", "qr.webhook.parse",
         webhook_payload(SHOP_NOTIFICATION, value=SHOP_WEBHOOK["value"] + "x")),
    Case("webhook: missing header", "qr.webhook.parse",
         webhook_payload("not json", headers={"Host": "x"})),
    Case("webhook: empty expected value", "qr.webhook.parse", webhook_payload(SHOP_NOTIFICATION, value="")),
    Case("webhook: no amount", "qr.webhook.parse",
         webhook_payload({"numeroReferencia": "1", "codigoRespuesta": "PAGADO"})),
    Case("webhook: no code", "qr.webhook.parse",
         webhook_payload({"numeroReferencia": "1", "monto": 5, "codigoRespuesta": "  "})),
    # protocol
    Case("describe", "describe", ""),
    Case("unknown operation", "qr.refund.build", "{}"),
    Case("unknown stage", "qr.verify.BUILD", "{}"),
]
