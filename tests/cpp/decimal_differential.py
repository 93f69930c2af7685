#!/usr/bin/env python3
"""Differential test of the amount reader against Python's decimal module.

    python3 decimal_differential.py path/to/decimal_probe [--seed N] [--count N]

Generates amount texts from a fixed seed and works out with `decimal` what each must read as (scale,
text, normalised text, order against the previous accepted value) or why it must be refused. The rule:
a text keeps the largest scale s, at most 28 and at most its own number of fractional places, at which
its exact value rounded half away from zero still has a mantissa below 2^96; an integer part beyond the
largest magnitude is refused outright.
"""

from __future__ import annotations

import argparse
import random
import re
import subprocess
import sys
from decimal import ROUND_HALF_UP, Context, Decimal

MAX = 2**96 - 1
MAX_SCALE = 28
CTX = Context(prec=1000, rounding=ROUND_HALF_UP, Emax=10**6, Emin=-(10**6))
UNPARSABLE = "Failed to parse"
DIGITS = "0123456789"


# ---------------------------------------------------------------- oracle


def read_mantissa(text: str) -> tuple[Decimal, int] | None:
    """The exact value and number of fractional digits of a plain decimal text, or None."""
    sign, body = (text[0], text[1:]) if text[:1] in ("+", "-") else ("", text)
    first_digit = next((i for i, c in enumerate(body) if c in DIGITS), None)
    if first_digit is None or "_" in body[:first_digit]:
        return None
    cleaned = body.replace("_", "")
    match = re.fullmatch(r"([0-9]*)(?:\.([0-9]*))?", cleaned)
    return None if match is None else (Decimal(sign + cleaned), len(match.group(2) or ""))


def fit(value: Decimal, places: int) -> tuple[Decimal, int] | None:
    """Rounds `value` to the largest scale that fits, as (rounded value, scale), or None."""
    if int(value.copy_abs()) > MAX:
        return None
    for scale in range(min(places, MAX_SCALE), -1, -1):
        rounded = value.quantize(Decimal(1).scaleb(-scale, CTX), rounding=ROUND_HALF_UP, context=CTX)
        if abs(int(rounded.scaleb(scale, CTX))) <= MAX:
            return rounded, scale
    return None


def oracle(text: str) -> tuple[Decimal, int] | str:
    """What reading `text` must give: (value, scale) or the failure message."""
    plain = read_mantissa(text)
    if plain is not None and (result := fit(*plain)) is not None:
        return result
    reason: tuple[Decimal, int] | str = UNPARSABLE
    if (e := re.search(r"[eE]", text)) is not None:
        reason = scientific(text[: e.start()], text[e.start() + 1 :])
        if not isinstance(reason, str):
            return reason
    return f"invalid amount `{text}`: {reason}"


def scientific(mantissa_text: str, exponent_text: str) -> tuple[Decimal, int] | str:
    if not re.fullmatch(r"[+-]?[0-9]+", exponent_text):
        return UNPARSABLE
    if (mantissa := read_mantissa(mantissa_text)) is None:
        return "the part before the exponent is not a decimal"
    if abs(exponent := int(exponent_text)) > MAX_SCALE:
        return "the exponent exceeds 28 in magnitude"
    value, places = mantissa
    result = fit(value.scaleb(exponent, CTX), max(0, places - exponent))
    return "the value exceeds the largest magnitude" if result is None else result


def plain(value: Decimal) -> str:
    text = format(value, "f")
    return text[1:] if value.is_zero() and text.startswith("-") else text


def normalized_text(value: Decimal) -> str:
    if value.is_zero():
        return "0"
    reduced = value.normalize(CTX)
    return plain(reduced.quantize(Decimal(1), context=CTX) if reduced.as_tuple().exponent > 0 else reduced)


def expected_lines(texts: list[str]) -> list[str]:
    lines, previous = [], Decimal(0)
    for text in texts:
        result = oracle(text)
        if isinstance(result, str):
            lines.append(f"err {result}")
            continue
        value, scale = result
        order = "<" if value < previous else ">" if value > previous else "="
        lines.append(f"ok {scale} {plain(value)} {normalized_text(value)} {order}")
        previous = value
    return lines


# ---------------------------------------------------------------- cases


def random_mantissa(rng: random.Random) -> str:
    zeros, significant = rng.choice([0, 0, 0, 1, 3]), rng.randint(1, 40)
    digits = "0" * zeros + rng.choice("123456789") + "".join(rng.choice(DIGITS) for _ in range(significant - 1))
    shape = rng.random()
    if shape < 0.25:
        body = digits
    elif shape < 0.35:
        body = digits + "."
    elif shape < 0.45:
        body = "." + "0" * rng.randint(0, 30) + digits
    else:
        point = rng.randint(1, len(digits) - 1) if len(digits) > 1 else 1
        body = digits[:point] + "." + digits[point:]
    if rng.random() < 0.2:  # underscores anywhere after the first digit
        out, seen_digit = [], False
        for c in body:
            out.append(c)
            seen_digit = seen_digit or c in DIGITS
            if seen_digit and rng.random() < 0.15:
                out.append("_" * rng.randint(1, 2))
        body = "".join(out)
    return rng.choice(["", "", "+", "-"]) + body


def random_exponent(rng: random.Random) -> str:
    value = rng.randint(-30, 30)
    sign = "-" if value < 0 else rng.choice(["", "+"])
    return rng.choice("eE") + sign + "0" * rng.choice([0, 0, 0, 2]) + str(abs(value))


def boundary_cases() -> list[str]:
    big = str(MAX)
    cases = [big, str(MAX + 1), str(MAX - 1), "0" * 5 + big, "-" + big, "+" + big, big + "0"]
    # The largest mantissa at every scale, with tails that round up, round down, or overflow.
    for point in range(0, len(big) + 1):
        for tail in ["", "4", "5", "49999999", "50000", "9", "0000"]:
            cases += [big[:point] + "." + big[point:] + tail, "-" + big[:point] + "." + big[point:] + tail]
    cases += [f"{MAX // 10}{d}.{t}" for d in range(10) for t in ("4", "5", "9")]
    cases += ["7922816251426433759354395033" + str(d) + ".5" for d in range(10)]
    # 2^96 and its neighbours moved by exponents.
    for e in range(-30, 31):
        cases += [f"{big}e{e}", f"7.9228162514264337593543950335E{e:+d}", f"7.9228162514264337593543950336e{e}"]
    # Around 28 places.
    for zeros in range(26, 31):
        for digit in "1459":
            cases += ["0." + "0" * zeros + digit, "-0." + "0" * zeros + digit + "9"]
    cases += ["1." + "0" * 27 + "1", "1." + "9" * 28, "1." + "9" * 29, "9." + "9" * 30, "0." + "9" * 40]
    cases += ["1e28", "1e29", "1e-28", "1e-29", "0e29", "0e-29", "10e28", "8e28", "7e28", "5e-29", "0.5e-28"]
    cases += ["1e+28", "1E-028", "1e0000000000000000000000000000000028", "1e0000000000000000000000000000000029"]
    # Texts that must be refused, each for a known reason.
    return cases + [
        "", "+", "-", ".", "+.", "-.", "_1", "-_1", "._5", "1_", "1__0", "1_.5", "1._5", ".5_", "1..5", "1.5.",
        "12,50", "12 .5", " 12.5", "12.5 ", "1e", "1e+", "1e-", "e5", "E", "1e5e3", "1e5.0", "1e_5", "1_e5",
        "1ee5", "1e+-5", "1E++5", "inf", "nan", "Infinity", "NaN", "0x10", "1/2", "--1", "+-1", "1-", "\t1",
        "١٢٣", "１２", "5e", ".e5", "-e5", "1.2.3e4", "abc", "1e5 ", "1e 5",
    ]


def generate(seed: int, count: int) -> list[str]:
    rng = random.Random(seed)
    cases = boundary_cases()
    while len(cases) < count:
        text = random_mantissa(rng)
        if rng.random() < 0.35:
            text += random_exponent(rng)
        if rng.random() < 0.08:
            pos = rng.randint(0, len(text))
            text = text[:pos] + rng.choice("._eE+- ,x_") + text[pos:]
        cases.append(text)
    return cases


# ---------------------------------------------------------------- run


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("probe", nargs="+", help="the probe program, after its emulator if it needs one")
    parser.add_argument("--seed", type=int, default=20240607)
    parser.add_argument("--count", type=int, default=20000)
    args = parser.parse_args()

    texts = generate(args.seed, args.count)
    want = expected_lines(texts)
    run = subprocess.run(args.probe, input="".join(t + "\n" for t in texts), capture_output=True, text=True,
                         encoding="utf-8")
    got = run.stdout.splitlines()
    if run.returncode != 0 or len(got) != len(want):
        print(f"probe exited with {run.returncode}, {len(got)} lines for {len(want)} texts: {run.stderr}", file=sys.stderr)
        return 1
    mismatches = [(t, w, g) for t, w, g in zip(texts, want, got) if w != g]
    for text, w, g in mismatches[:25]:
        print(f"text {text!r}\n  want {w}\n  got  {g}", file=sys.stderr)
    accepted = sum(line.startswith("ok ") for line in want)
    print(f"decimal differential: {len(texts)} cases ({accepted} accepted, {len(texts) - accepted} refused), "
          f"{len(mismatches)} mismatches")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
