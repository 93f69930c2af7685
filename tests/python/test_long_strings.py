"""Long strings through `call`, against the pure-Python baseline's answers.

The engine copies long strings block by block (8, 16 or 32 bytes, as the
machine allows) and the last bytes of a string as one block ending at its end;
a byte that needs attention at or next to any block boundary, or in that last
block, must come out exactly as the baseline writes it.
"""

from __future__ import annotations

import json
import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import baseline  # noqa: E402
from corvane_bo.qr._native import call  # noqa: E402
from samples import (SHOP_GENERATE, SHOP_NOTIFICATION, dumps, envelope, parse, qr_image, render,  # noqa: E402
                     shop_generated)

import payloads  # noqa: E402

# Bytes the writer or the reader treats specially: escaped in the answer, or not ASCII.
SPECIALS = ['"', "\\", "\n", "\x01", "\x1f", "é", "€", "😀", "/"]
BOUNDARIES = sorted({b + d for b in (8, 16, 32, 64, 96, 128) for d in (-1, 0, 1)})


def strings(length: int) -> list[str]:
    plain = qr_image(length, seed=length)
    out = [plain]
    for special in SPECIALS:
        for at in [*BOUNDARIES, length - 33, length - 32, length - 31, length - 17, length - 16, length - 1]:
            if 0 <= at < length:
                out.append(plain[:at] + special + plain[at + 1:])
    return out


def same_as_baseline(op: str, payload: str) -> None:
    answer = call(op, payload)
    assert answer.startswith('{"ok":true'), answer[:300]
    assert answer == baseline.call(op, payload)


@pytest.mark.parametrize("length", [40, 65, 130, 4099])
def test_generated_image(length: int) -> None:
    for image in strings(length):
        payload = render(parse(SHOP_GENERATE, 200, envelope(shop_generated(image))))
        same_as_baseline("qr.generate.parse", payload)


@pytest.mark.parametrize("length", [40, 65, 130, 4099])
def test_notification_detail(length: int) -> None:
    for detail in strings(length):
        same_as_baseline("qr.webhook.parse", payloads.webhook_payload({**SHOP_NOTIFICATION, "detalleRespuesta": detail}))


@pytest.mark.parametrize("length", [40, 130, 4099])
def test_notification_detail_sent_as_ascii(length: int) -> None:
    # As json.dumps writes by default: every character past ASCII a \u escape, in the payload and
    # in the bank's body inside it.
    for detail in strings(length):
        notification = {**SHOP_NOTIFICATION, "detalleRespuesta": detail}
        same_as_baseline("qr.webhook.parse", json.dumps(json.loads(payloads.webhook_payload(notification))))
        body = re.sub(r"[^\x00-\x7f]", lambda c: json.dumps(c.group())[1:-1], dumps(notification))
        same_as_baseline("qr.webhook.parse", json.dumps(json.loads(payloads.webhook_payload(body))))
