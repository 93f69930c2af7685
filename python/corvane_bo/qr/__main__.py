"""Command line: ``python -m corvane_bo.qr sandbox``, ``... demo`` and ``... call OP``, also
installed as the ``corvane-bo-qr`` command."""

from __future__ import annotations

import argparse
import json
import os
import sys

from .demo import run_demo


def main(argv: list[str] | None = None) -> int:
    invoked_as_module = os.path.basename(sys.argv[0]) == "__main__.py"
    parser = argparse.ArgumentParser(prog="python -m corvane_bo.qr" if invoked_as_module else "corvane-bo-qr")
    commands = parser.add_subparsers(dest="command", required=True)

    sandbox = commands.add_parser("sandbox", help="run the local stand-in bank and its web page until Ctrl-C")
    sandbox.add_argument("--host", default="127.0.0.1", help="address to listen on (default: loopback only)")
    sandbox.add_argument("--port", type=int, default=8700, help="port to listen on (default 8700; 0 picks one)")
    sandbox.add_argument("--state", metavar="FILE",
                         help="SQLite file keeping QR payments and notifications across restarts")

    demo = commands.add_parser("demo", help="generate, pay and verify a QR against a local stand-in bank")
    demo.add_argument("--amount", default="12.50", help="amount in BOB (default 12.50)")
    demo.add_argument("--out", help="where to write the QR image (default: a new temporary directory)")

    call = commands.add_parser(
        "call", help="run one engine operation with the payload read from stdin; "
                     "exit status 1 when the answer is a failure")
    call.add_argument("op", help='operation name, e.g. "describe" or "qr.verify.build"')

    args = parser.parse_args(argv)
    if args.command == "sandbox":
        from .sandbox.cli import serve

        return serve(args.host, args.port, args.state)
    if args.command == "demo":
        return run_demo(args.amount, args.out)

    from . import _native

    answer = _native.call(args.op, sys.stdin.read())
    print(answer)
    try:
        return 0 if json.loads(answer).get("ok") is True else 1
    except ValueError:
        return 2


if __name__ == "__main__":
    sys.exit(main())
