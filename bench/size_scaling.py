"""Cost of the engine against payload size, 1 KB to 10 MB, as a Markdown table.

    python bench/size_scaling.py            # generate parse and webhook parse
    python bench/size_scaling.py --quick    # fewer rounds

Generate parse grows the QR image (Base64, ASCII); webhook parse grows the
notification's detail text (Spanish, so not all ASCII). Each answer is first
checked against the baseline's. Beside the engine's time stands a plain copy of
a bytes object of the payload's size (allocation and memcpy), timed in the same
rounds; times are medians of batches of thread CPU time.
"""

from __future__ import annotations

import argparse
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import baseline  # noqa: E402
import payloads  # noqa: E402
from compare import _native, batch_us, calibrate, engine_kernels  # noqa: E402

SIZES = [("1 KB", 1_000), ("10 KB", 10_000), ("100 KB", 100_000), ("1 MB", 1_000_000), ("10 MB", 10_000_000)]
DETAIL = "Pago realizado con éxito en la sucursal de Peñas; "


def generate_parse(image_chars: int) -> str:
    data = payloads.shop_generated(payloads.qr_image(max(4, image_chars // 4 * 4), seed=3))
    return payloads.parse_payload(payloads.SHOP_GENERATE, 200, payloads.envelope(data))


def webhook_parse(detail_chars: int) -> str:
    detail = (DETAIL * (detail_chars // len(DETAIL) + 1))[:max(1, detail_chars)]
    return payloads.webhook_payload({**payloads.SHOP_NOTIFICATION, "detalleRespuesta": detail})


def sized(build, size: int) -> str:
    """The payload of build() closest to `size` bytes of UTF-8."""
    fixed = len(build(0).encode())
    payload = build(size - fixed)
    return build(size - fixed - (len(payload.encode()) - size))


def measure(op: str, payload: str, rounds: int, batch_ms: float) -> tuple[float, float]:
    raw = payload.encode()
    columns = {
        "engine": (_native.call, op, payload),
        "copy": (lambda data, _: bytes(data), bytearray(raw), None),
    }
    calls = {name: calibrate(*column, batch_ms) for name, column in columns.items()}
    times: dict[str, list[float]] = {name: [] for name in columns}
    for r in range(rounds + 1):
        for name in (list(columns) if r % 2 else list(columns)[::-1]):
            got = batch_us(*columns[name], calls[name])
            if r:
                times[name].append(got)
    return statistics.median(times["engine"]), statistics.median(times["copy"])


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="few rounds and short batches")
    args = parser.parse_args(argv)
    rounds, batch_ms = (3, 2.0) if args.quick else (9, 10.0)
    print(engine_kernels() + "\n")
    print("| operation | payload | engine µs | ns per byte | engine GB/s | copy GB/s | engine ÷ copy |")
    print("|---|---|---|---|---|---|---|")
    for label, op, build in (("generate parse", "qr.generate.parse", generate_parse),
                             ("webhook parse", "qr.webhook.parse", webhook_parse)):
        for size_label, size in SIZES:
            payload = sized(build, size)
            answer = _native.call(op, payload)
            if not answer.startswith('{"ok":true') or answer != baseline.call(op, payload):
                sys.exit(f"{label} at {size_label}: the engine's answer is not the baseline's")
            n = len(payload.encode())
            engine, copy = measure(op, payload, rounds, batch_ms)
            print(f"| {label} | {size_label} | {engine:.2f} | {engine * 1000 / n:.2f} | "
                  f"{n / engine / 1000:.2f} | {n / copy / 1000:.2f} | {engine / copy:.1f}x |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
