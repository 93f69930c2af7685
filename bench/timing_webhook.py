#!/usr/bin/env python3
"""Checks that the compiled webhook header comparison has no branch on the compared bytes, then
(with --time) runs the statistical timing test `timing_webhook` built from bench/timing_webhook.cpp.

    python bench/timing_webhook.py [BINARY ...] [--time PATH_TO_timing_webhook] [--samples N]

BINARY defaults to the installed extension module (corvane_bo.qr._native), the artifact that ships.

Method of the static check. `objdump -d` disassembles `webhook::equal_in_constant_time` from the
binary (AT&T syntax). Its loop is found as the span between a backward conditional jump and its
target. Inside the loop, a taint analysis follows the compared bytes:

  - a register written from memory (the loop's only memory reads are the two values) is tainted;
  - taint flows from source to destination through every two-operand instruction (mov, xor, or,
    and, add, ...), and `xor r, r` clears it;
  - the flags are tainted when the last instruction that set them had a tainted operand;
  - the analysis runs over the loop body until nothing changes, so that the accumulator, tainted on
    one iteration, is seen tainted on the next.

The loop passes when no conditional jump (and no call) inside it reads tainted flags: its only
branch is then the one on the index against the length. Branches outside the loop are listed but
allowed: before it they test the lengths (which the design lets be told apart at once), after it the
final result. A compiler that turned the loop back into an early exit would put a conditional jump on
tainted flags inside the loop, and fail this check.
"""

from __future__ import annotations

import argparse
import re
import shutil
import subprocess
import sys
from pathlib import Path

# The loop behind webhook::equal_in_constant_time, exported under this C name so that it survives the
# stripping of the installed module.
FUNCTION = "corvane_bo_equal_in_constant_time"

# Sub-registers of each 64-bit register, in AT&T names without the %.
_FAMILIES = {
    "rax": "rax eax ax al ah", "rbx": "rbx ebx bx bl bh", "rcx": "rcx ecx cx cl ch", "rdx": "rdx edx dx dl dh",
    "rsi": "rsi esi si sil", "rdi": "rdi edi di dil", "rbp": "rbp ebp bp bpl", "rsp": "rsp esp sp spl",
}
_FAMILIES.update({f"r{n}": f"r{n} r{n}d r{n}w r{n}b" for n in range(8, 16)})
REGISTER = {name: family for family, names in _FAMILIES.items() for name in names.split()}
FLAG_SETTERS = {"add", "sub", "and", "or", "xor", "cmp", "test", "inc", "dec", "neg", "adc", "sbb", "shl", "shr",
                "sar", "sal", "rol", "ror", "bt"}
FLAG_PRESERVING_MOVES = ("mov", "lea", "cmov", "set", "nop", "xchg", "push", "pop")


class Instruction:
    def __init__(self, address: int, mnemonic: str, operands: str):
        self.address = address
        self.mnemonic = mnemonic
        self.operands = operands

    def jump_target(self) -> int | None:
        match = re.match(r"([0-9a-f]+)\b", self.operands) or re.search(r"\b([0-9a-f]+) <", self.operands)
        return int(match.group(1), 16) if match else None

    def is_conditional_jump(self) -> bool:
        if self.mnemonic.startswith("j"):
            return self.mnemonic not in ("jmp", "jmpq")
        return self.mnemonic.startswith("b.") or self.mnemonic in ("cbz", "cbnz", "tbz", "tbnz")

    def split_operands(self) -> list[str]:
        # Commas inside a memory operand's parentheses do not separate operands.
        parts, depth, current = [], 0, ""
        for ch in self.operands.split("#")[0].strip():
            if ch == "(":
                depth += 1
            elif ch == ")":
                depth -= 1
            if ch == "," and depth == 0:
                parts.append(current.strip())
                current = ""
            else:
                current += ch
        if current.strip():
            parts.append(current.strip())
        return parts

    def __str__(self) -> str:
        return f"{self.address:x}: {self.mnemonic} {self.operands}"


def is_aarch64(binary: Path) -> bool:
    with binary.open("rb") as f:
        header = f.read(20)
    return header[:4] == b"\x7fELF" and int.from_bytes(header[18:20], "little") == 183  # EM_AARCH64


def objdump_for(binary: Path) -> str:
    if is_aarch64(binary) and shutil.which("aarch64-linux-gnu-objdump"):
        return "aarch64-linux-gnu-objdump"
    return "objdump"


def symbol_extent(binary: Path, function: str) -> tuple[int, int] | None:
    """Address and size of `function` in the static or the dynamic symbol table."""
    for table in ("-t", "-T"):
        out = subprocess.run([objdump_for(binary), table, "-C", str(binary)], capture_output=True, text=True).stdout
        for line in out.splitlines():
            fields = line.split()
            name = " ".join(fields[5:]) if table == "-t" else " ".join(fields[6:])
            if len(fields) >= 6 and (name == function or name.startswith(function + "(")) and ".text" in line:
                size_field = fields[4] if table == "-t" else fields[4]
                try:
                    return int(fields[0], 16), int(size_field, 16)
                except ValueError:
                    continue
    return None


def disassemble(binary: Path, function: str) -> list[Instruction]:
    out = subprocess.run([objdump_for(binary), "-d", "-C", "--no-show-raw-insn", str(binary)], check=True,
                         capture_output=True, text=True).stdout
    instructions: list[Instruction] = []
    inside = False
    extent = symbol_extent(binary, function)
    for line in out.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if header:
            name = header.group(1)
            base = name.split("@@")[0]  # a stripped module labels it by its dynamic symbol
            # The definition, not its PLT stub.
            inside = (base == function or base.startswith(function + "(")) and "@plt" not in name
            continue
        if inside:
            match = re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
            if match:
                address = int(match.group(1), 16)
                # Without a symbol table, nothing marks where the function ends but its size.
                if extent is not None and not extent[0] <= address < extent[0] + extent[1]:
                    inside = False
                    continue
                instructions.append(Instruction(address, match.group(2), match.group(3)))
            elif not line.strip():
                inside = False if instructions else inside
    return instructions


def registers_in(operand: str) -> set[str]:
    return {REGISTER[name] for name in re.findall(r"%(\w+)", operand) if name in REGISTER}


AARCH64_FLAG_SETTERS = ("cmp", "cmn", "tst", "ccmp", "ccmn", "adds", "subs", "ands", "bics", "negs", "adcs", "sbcs")


def aarch64_registers(operand: str) -> set[str]:
    return {f"r{n}" for n in re.findall(r"\b[xw](\d+)\b", operand)}


def aarch64_operands(ins: Instruction) -> list[str]:
    parts, depth, current = [], 0, ""
    for ch in ins.operands.split("//")[0].split("<")[0].strip():
        depth += ch == "["
        depth -= ch == "]"
        if ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += ch
    return parts + ([current.strip()] if current.strip() else [])


def aarch64_offenders(body: list[Instruction]) -> dict[int, Instruction]:
    """The same taint analysis in A64 terms: destination first, loads taint what they load, and a
    branch offends when it reads tainted flags (b.cond) or a tainted register (cbz, tbz)."""
    tainted: set[str] = set()
    flags_tainted = False
    offenders: dict[int, Instruction] = {}
    for _ in range(len(body) + 2):
        before = (frozenset(tainted), flags_tainted)
        for ins in body:
            m, ops = ins.mnemonic, aarch64_operands(ins)
            if m in ("bl", "blr"):
                offenders[ins.address] = ins
            elif m.startswith("b."):
                if flags_tainted:
                    offenders[ins.address] = ins
            elif m in ("cbz", "cbnz", "tbz", "tbnz"):
                if aarch64_registers(ops[0]) & tainted:
                    offenders[ins.address] = ins
            elif m.startswith("ld"):
                destinations = ops[:2] if m.startswith("ldp") else ops[:1]
                for op in destinations:
                    tainted |= aarch64_registers(op)
            elif m.startswith("st") or not ops:
                continue
            else:
                sources = set().union(*(aarch64_registers(op) for op in ops[1:])) if len(ops) > 1 else set()
                taint = bool(sources & tainted) or (m.startswith(("cs", "cinc", "cneg")) and flags_tainted)
                if m.startswith(AARCH64_FLAG_SETTERS[:5]):
                    flags_tainted = bool((aarch64_registers(ops[0]) | sources) & tainted)
                    continue
                for register in aarch64_registers(ops[0]):
                    (tainted.add if taint else tainted.discard)(register)
                if m in AARCH64_FLAG_SETTERS:
                    flags_tainted = taint
        if (frozenset(tainted), flags_tainted) == before:
            break
    return offenders


def check(binary: Path, function: str = FUNCTION) -> bool:
    code = disassemble(binary, function)
    if not code:
        print(f"{binary}: {function} not found (inlined everywhere, or stripped)")
        return False
    loops = [(i.jump_target(), i.address) for i in code
             if i.is_conditional_jump() and i.jump_target() is not None and i.jump_target() <= i.address]
    if not loops:
        print(f"{binary}: no loop found in {function}; refusing to judge")
        return False
    ok = True
    arm = is_aarch64(binary)
    for start, end in loops:
        body = [i for i in code if start <= i.address <= end]
        if arm:
            offenders = aarch64_offenders(body)
        else:
            offenders = {}
            tainted: set[str] = set()
            flags_tainted = False
            for _ in range(len(body) + 2):  # to a fixed point over the loop-carried values
                before = (frozenset(tainted), flags_tainted)
                for ins in body:
                    ops = ins.split_operands()
                    mnemonic = ins.mnemonic
                    if mnemonic.startswith("call"):
                        offenders[ins.address] = ins
                        continue
                    if ins.is_conditional_jump():
                        if flags_tainted:
                            offenders[ins.address] = ins
                        continue
                    if not ops or mnemonic.startswith("nop"):
                        continue
                    sources, destination = ops[:-1], ops[-1]
                    if len(ops) == 1:  # inc, dec, neg, not: the operand is both
                        sources = ops
                    from_memory = any("(" in op for op in sources)
                    source_taint = from_memory or any(registers_in(op) & tainted for op in sources if "(" not in op)
                    destination_taint = bool(registers_in(destination) & tainted) if "(" not in destination else False
                    if mnemonic.startswith(("cmp", "test", "bt")):
                        flags_tainted = source_taint or destination_taint or "(" in destination
                        continue
                    if mnemonic.startswith("xor") and len(ops) == 2 and ops[0] == ops[1]:
                        result_taint = False  # zeroing idiom
                    elif mnemonic.startswith(FLAG_PRESERVING_MOVES):
                        result_taint = source_taint
                    else:
                        result_taint = source_taint or destination_taint
                    if "(" not in destination:
                        for register in registers_in(destination):
                            (tainted.add if result_taint else tainted.discard)(register)
                    if any(mnemonic.startswith(setter) for setter in FLAG_SETTERS):
                        flags_tainted = result_taint
                if (frozenset(tainted), flags_tainted) == before:
                    break
        branches = [i for i in body if i.is_conditional_jump()]
        print(f"{binary.name}: loop {start:x}-{end:x}, {len(body)} instructions, "
              f"{len(branches)} conditional jump(s): {', '.join(str(b) for b in branches)}")
        for ins in offenders.values():
            print(f"  DATA-DEPENDENT: {ins}")
            ok = False
    outside = [i for i in code if i.is_conditional_jump() and not any(s <= i.address <= e for s, e in loops)]
    for ins in outside:
        print(f"  outside the loop (lengths or final result): {ins}")
    print(f"{binary.name}: {'no branch on the compared bytes' if ok else 'BRANCHES ON THE COMPARED BYTES'}")
    return ok


def installed_module() -> Path | None:
    try:
        from corvane_bo.qr import _native
    except ImportError:
        return None
    return Path(_native.__file__)


def time_installed(probe: Path, samples: int) -> bool:
    """Runs the timing test on the comparison inside the installed module, found by its exported
    name, from this interpreter (which has the module loaded)."""
    import ctypes

    module = installed_module()
    if module is None:
        print("the package is not installed")
        return False
    compare = ctypes.cast(getattr(ctypes.CDLL(str(module)), FUNCTION), ctypes.c_void_p).value
    harness = ctypes.CDLL(str(probe.resolve()))
    harness.corvane_timing_webhook.argtypes = [ctypes.c_void_p, ctypes.c_long, ctypes.c_int]
    sys.stdout.flush()
    print(f"timing {FUNCTION} in {module}", flush=True)
    return harness.corvane_timing_webhook(compare, samples, 1) == 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binaries", nargs="*", type=Path)
    parser.add_argument("--time", type=Path, help="the timing_webhook program to run afterwards")
    parser.add_argument("--time-installed", type=Path, metavar="PROBE",
                        help="time the installed module's own comparison with this build of "
                             "libtiming_webhook_probe.so (loaded into this interpreter)")
    parser.add_argument("--samples", type=int, default=1_000_000)
    parser.add_argument("--function", default=FUNCTION,
                        help="another function to judge, e.g. the timing program's control "
                             "'(anonymous namespace)::early_exit', which must fail")
    args = parser.parse_args()
    if shutil.which("objdump") is None:
        print("objdump not found (Debian package binutils)")
        return 2
    binaries = args.binaries or [m for m in [installed_module()] if m is not None]
    if args.time:
        binaries.append(args.time)
    if not binaries and not args.time_installed:
        print("nothing to check: give a binary, or install the package")
        return 2
    ok = all([check(binary, args.function) for binary in binaries])
    if args.time_installed:
        ok = time_installed(args.time_installed, args.samples) and ok
    if args.time:
        ok = subprocess.run([str(args.time), "--samples", str(args.samples)]).returncode == 0 and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
