"""Calls per second and client CPU per call of `verify`, over loopback, next to plain httpx + json.

The server runs in a child process, so the CPU time measured (`time.process_time`) is the client's
alone: building the request with the engine, sending it, reading and checking the answer. "plain"
is the loop a user would write without this package: one httpx client, the same headers, `json.loads`
of the answer and a look at its `data`. Async runs `--concurrency` calls at a time.

    python bench/http_client.py [--calls N] [--concurrency C] [--sandbox]

By default the server is the keep-alive loopback bank of tests/python/loopback.py; `--sandbox`
uses the stand-in bank.
Timings on a shared machine are rough: compare the columns of one run, not runs.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import subprocess
import sys
import time
from collections.abc import Awaitable, Callable
from pathlib import Path
from typing import Any

import httpx

from corvane_bo.qr import AccessToken, AsyncClient, Client, Config, WebhookTarget
from corvane_bo.qr.engine import invoke

ROOT = Path(__file__).resolve().parents[1]
SERVER = """
import sys
sys.path.insert(0, {tests!r})
if {sandbox!r}:
    from corvane_bo.qr.sandbox import SandboxBank
    server = SandboxBank(); url, token = server.base_url, server.access_token
else:
    from loopback import LoopbackServer
    server = LoopbackServer(); url, token = server.url, "tok"
print(url, token, flush=True)
sys.stdin.read()
server.close()
"""


def start(sandbox: bool) -> tuple[subprocess.Popen[str], str, str]:
    code = SERVER.format(tests=str(ROOT / "tests" / "python"), sandbox=sandbox)
    child = subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    assert child.stdout is not None
    url, token = child.stdout.readline().split()
    return child, url, token


def measure(label: str, calls: int, run: Callable[[], None]) -> dict[str, Any]:
    wall, cpu = time.perf_counter(), time.process_time()
    run()
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    row = {"variant": label, "calls_per_s": calls / wall, "cpu_us_per_call": cpu / calls * 1e6}
    print(f"{label:<28}{row['calls_per_s']:>10.0f}{row['cpu_us_per_call']:>12.0f}", flush=True)
    return row


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--concurrency", type=int, default=20)
    parser.add_argument("--sandbox", action="store_true")
    parser.add_argument("--json", type=Path)
    args = parser.parse_args()
    child, url, secret = start(args.sandbox)
    reference = "1"
    try:
        config, token = Config("sandbox-client" if args.sandbox else "cid", base_url=url), AccessToken(secret)
        if args.sandbox:
            with Client(config, token) as client:
                hook = WebhookTarget("http://127.0.0.1:9/hook", "X-Hook", "bench")
                reference = client.generate("1", "1", "bench", establishment_id=1, establishment_name="b",
                                            expires_in=3600, webhook=hook).reference
        request = invoke(None, "qr.verify.build", {"config": config.to_json(), "token": token.to_json(),
                                                   "input": {"kind": "simple", "reference": reference}})
        n, c = args.calls, args.concurrency
        print(f"{'variant':<28}{'calls/s':>10}{'CPU µs/call':>12}")
        rows = []

        with Client(config, token) as client:
            client.verify(reference)
            rows.append(measure("Client.verify", n, lambda: [client.verify(reference) for _ in range(n)] and None))

        with httpx.Client() as plain:
            def plain_loop() -> None:
                for _ in range(n):
                    answer = plain.get(request["url"], headers=request["headers"])
                    assert json.loads(answer.content)["data"]["numeroReferencia"] == reference
            plain_loop()
            rows.append(measure("plain httpx + json", n, plain_loop))

        async def batches(one: Callable[[], Awaitable[Any]]) -> None:
            for _ in range(n // c):
                await asyncio.gather(*(one() for _ in range(c)))

        async def async_client() -> None:
            async with AsyncClient(config, token) as client:
                await client.verify(reference)
                rows.append(await ameasure(f"AsyncClient.verify x{c}", lambda: batches(lambda: client.verify(reference))))

        async def async_plain() -> None:
            async with httpx.AsyncClient() as plain:
                async def one() -> None:
                    answer = await plain.get(request["url"], headers=request["headers"])
                    assert json.loads(answer.content)["data"]["numeroReferencia"] == reference
                await one()
                rows.append(await ameasure(f"plain httpx async x{c}", lambda: batches(one)))

        async def ameasure(label: str, run: Callable[[], Awaitable[None]]) -> dict[str, Any]:
            wall, cpu = time.perf_counter(), time.process_time()
            await run()
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
            done = n // c * c
            row = {"variant": label, "calls_per_s": done / wall, "cpu_us_per_call": cpu / done * 1e6}
            print(f"{label:<28}{row['calls_per_s']:>10.0f}{row['cpu_us_per_call']:>12.0f}", flush=True)
            return row

        asyncio.run(async_client())
        asyncio.run(async_plain())
        if args.json:
            args.json.write_text(json.dumps(rows, indent=2))
    finally:
        assert child.stdin is not None
        child.stdin.close()
        child.wait(10)


if __name__ == "__main__":
    main()
