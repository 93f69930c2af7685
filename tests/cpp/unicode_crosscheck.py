#!/usr/bin/env python3
"""Cross-checks the generated Unicode tables against Python's unicodedata.

    python3 unicode_crosscheck.py path/to/unicode_probe [--ucd /usr/share/unicode]

unicodedata has general categories but neither White_Space nor Alphabetic, so what is checked apart
from the UCD files the tables were generated from: every letter and number is alphanumeric, and any
other alphanumeric code point is of a category Other_Alphabetic reaches (Mn, Mc, So); White_Space is
exactly the separators plus tab to carriage return and U+0085, none of it alphanumeric. Only code
points assigned in both Unicode versions are compared.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import unicodedata
from pathlib import Path

LETTERS_AND_NUMBERS = {"Lu", "Ll", "Lt", "Lm", "Lo", "Nd", "Nl", "No"}
OTHER_ALPHABETIC_CATEGORIES = {"Mn", "Mc", "So"}
SEPARATORS = {"Zs", "Zl", "Zp"}
WHITE_SPACE_CONTROLS = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x85}


def version_tuple(text: str) -> tuple[int, ...]:
    return tuple(map(int, text.split(".")))


def assigned_by(ucd: Path, version: str) -> set[int]:
    """Code points assigned in `version` or earlier, from DerivedAge.txt."""
    wanted = version_tuple(version)
    assigned: set[int] = set()
    for line in (ucd / "DerivedAge.txt").read_text(encoding="utf-8").splitlines():
        data = line.split("#", 1)[0].strip()
        if not data:
            continue
        cps, age = (part.strip() for part in data.split(";"))
        if version_tuple(age) > wanted:
            continue
        first, _, last = cps.partition("..")
        assigned.update(range(int(first, 16), int(last or first, 16) + 1))
    return assigned


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("probe", nargs="+", help="the probe program, after its emulator if it needs one")
    parser.add_argument("--ucd", type=Path, default=Path("/usr/share/unicode"))
    args = parser.parse_args()

    run = subprocess.run(args.probe, capture_output=True, text=True, check=True)
    table_version, flags = run.stdout.split("\n")[:2]
    if len(flags) != 0x110000:
        print(f"probe gave {len(flags)} flags", file=sys.stderr)
        return 1

    # Code points that are new in the newer of the two versions are left out. When Python is the newer
    # one, its extra code points are found through the tables' own DerivedAge.txt.
    also_assigned_in_tables = None
    if version_tuple(unicodedata.unidata_version) > version_tuple(table_version):
        also_assigned_in_tables = assigned_by(args.ucd, table_version)

    faults, compared = [], 0
    for cp in range(0x110000):
        category = unicodedata.category(chr(cp))
        if category == "Cn" or (also_assigned_in_tables is not None and cp not in also_assigned_in_tables):
            continue
        compared += 1
        bits = int(flags[cp])
        white_space, alphanumeric = bool(bits & 1), bool(bits & 2)
        want_white_space = category in SEPARATORS or cp in WHITE_SPACE_CONTROLS
        if white_space != want_white_space:
            faults.append(f"U+{cp:04X} ({category}) White_Space is {white_space}")
        if category in LETTERS_AND_NUMBERS and not alphanumeric:
            faults.append(f"U+{cp:04X} ({category}) is a letter or number but not alphanumeric")
        if alphanumeric and category not in LETTERS_AND_NUMBERS | OTHER_ALPHABETIC_CATEGORIES:
            faults.append(f"U+{cp:04X} ({category}) is alphanumeric")
        if alphanumeric and white_space:
            faults.append(f"U+{cp:04X} is both White_Space and alphanumeric")

    for fault in faults[:40]:
        print(fault, file=sys.stderr)
    print(f"unicode crosscheck: tables {table_version}, Python unicodedata {unicodedata.unidata_version}, "
          f"{compared} code points compared, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
