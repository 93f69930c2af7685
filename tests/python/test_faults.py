"""The client against a bank that misbehaves the way networks and banks do, over loopback.

Each case asserts what is raised, how many requests reached the server (one, always, for generate
and cancel), and that the call ended well within a generous bound; the body cases also bound the
memory taken.  Both clients run every case: they drive the same flow with different I/O.
"""

from __future__ import annotations

import asyncio
import time
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import pytest

from corvane_bo.qr import (AccessToken, AmbiguousError, ApiError, AsyncClient, Client, Config, DecodeError, QrError,
                          RetryPolicy, TransportError, WebhookTarget)
from loopback import LoopbackServer, Reply, Request, answer, bank_ok, endless_chunked

OPS = ["verify", "generate", "cancel"]
HOOK = WebhookTarget("https://shop.example/hook", "X-Hook", "s3cret")
KINDS = ["sync", "async"]


def run_op(kind: str, server: LoopbackServer, op: str, **options: Any) -> Any:
    """One call of ``op`` through a fresh client of ``kind``; sleeps are recorded, not taken."""
    sleeps: list[float] = []
    common = dict(retry=RetryPolicy(max_retries=2), webhook=HOOK, **options)
    args = (Config("cid", base_url=server.url), AccessToken("tok", expires_at=0))

    def invoke(client: Any) -> Any:
        if op == "generate":
            return client.generate("10.50", "1", "Pedido", establishment_id=1, establishment_name="Tienda",
                                   expires_in=60)
        return getattr(client, op)("1")

    if kind == "sync":
        with Client(*args, sleep=sleeps.append, **common) as client:
            return invoke(client), sleeps

    async def main() -> Any:
        async def sleep(seconds: float) -> None:
            sleeps.append(seconds)
        async with AsyncClient(*args, sleep=sleep, **common) as client:
            return await invoke(client), sleeps
    return asyncio.run(main())


@pytest.fixture
def serve() -> Iterator[Callable[[Callable[[Request], Reply]], LoopbackServer]]:
    servers: list[LoopbackServer] = []

    def start(script: Callable[[Request], Reply]) -> LoopbackServer:
        servers.append(LoopbackServer(script))
        return servers[-1]
    yield start
    for server in servers:
        server.close()


def expect(kind: str, server: LoopbackServer, op: str, error: type[QrError], **options: Any) -> QrError:
    started = time.monotonic()
    with pytest.raises(QrError) as info:
        run_op(kind, server, op, **options)
    assert type(info.value) is error, repr(info.value)
    assert time.monotonic() - started < 5.0
    if op != "verify":  # sent once, whatever happened
        assert len(server.requests) == 1
    return info.value


def cut_body(request: Request) -> Reply:
    return answer(503, b'{"mess', content_length=1000, close=True)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("op", OPS)
def test_a_body_cut_short_is_retried_for_verify_and_ambiguous_otherwise(serve: Any, kind: str, op: str) -> None:
    server = serve(cut_body)
    failure = expect(kind, server, op, TransportError if op == "verify" else AmbiguousError)
    assert len(server.requests) == (3 if op == "verify" else 1)
    assert failure.__cause__ is not None  # the transport's own exception, kept for the logs


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("status, acted", [(500, True), (503, True), (504, True), (408, True),
                                           (429, False), (400, False), (409, False)])
@pytest.mark.parametrize("op", ["generate", "cancel"])
def test_statuses_after_which_the_bank_may_have_acted_are_ambiguous(
        serve: Any, kind: str, op: str, status: int, acted: bool) -> None:
    server = serve(lambda r: answer(status, {"success": False, "message": f"falla {status}"}))
    failure = expect(kind, server, op, AmbiguousError if acted else ApiError)
    engine_error = failure.__cause__ if acted else failure
    assert isinstance(engine_error, ApiError) and engine_error.status == status
    assert len(server.requests) == 1


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("op", ["generate", "cancel"])
def test_a_success_that_cannot_be_read_is_ambiguous(serve: Any, kind: str, op: str) -> None:
    server = serve(lambda r: answer(200, b"<html>gateway</html>"))
    failure = expect(kind, server, op, AmbiguousError)
    assert isinstance(failure.__cause__, DecodeError) and len(server.requests) == 1


def _trickled(head: bytes, body: bytes, part: str) -> Iterator[bytes]:
    """The whole answer a byte every 0.4 s, or the head at once and then the body so."""
    if part == "body":
        yield head
    for byte in (head if part == "headers" else b"") + body:
        time.sleep(0.4)
        yield bytes([byte])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("part", ["headers", "body"])
def test_a_trickled_answer_ends_at_the_deadline(serve: Any, kind: str, op: str, part: str) -> None:
    def trickle(request: Request) -> Reply:
        data = bank_ok(request).data
        assert isinstance(data, bytes)
        head, _, body = data.partition(b"\r\n\r\n")
        return Reply(_trickled(head + b"\r\n\r\n", body, part))

    server = serve(trickle)
    expect(kind, server, op, TransportError if op == "verify" else AmbiguousError, timeout=1.0)
    assert len(server.requests) == 1  # no time was left for another attempt of verify


def resident_mb() -> float:
    return int(Path("/proc/self/statm").read_text().split()[1]) * 4096 / 2**20


@pytest.mark.skipif(not Path("/proc/self/statm").exists(), reason="reads resident memory from /proc")
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("shape", ["declared", "chunked"])
def test_an_oversized_body_is_refused_without_being_read(serve: Any, kind: str, op: str, shape: str) -> None:
    big = 100 * 2**20

    def huge(request: Request) -> Reply:
        if shape == "chunked":
            return endless_chunked()
        head = f"HTTP/1.1 200 X\r\nContent-Length: {big}\r\n\r\n".encode()
        return Reply(iter([head] + [b"7" * 2**16] * (big // 2**16)), close=True)

    server = serve(huge)
    before = resident_mb()
    failure = expect(kind, server, op, DecodeError if op == "verify" else AmbiguousError, max_body=2**20)
    decode = failure if op == "verify" else failure.__cause__
    assert isinstance(decode, DecodeError) and "limit of 1048576 bytes" in str(decode)
    assert resident_mb() - before < 40
    assert len(server.requests) == 1
    assert server.sent_bytes < 40 * 2**20  # the client stopped reading; the server could not go on


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("value", ["9" * 400, "9" * 5000, "1" + "0" * 20, "Mon, 32 Foo 2015", "\u0661\u0662",
                                   "12.5", "-3", "0x10"], ids=lambda v: v[:12])
def test_retry_after_of_any_text_is_read_bounded_and_capped(serve: Any, kind: str, value: str) -> None:
    def busy_then_ok(request: Request) -> Reply:
        if request.index == 0:
            return answer(503, {"message": "ocupado"}, {"Retry-After": value})
        return bank_ok(request)

    server = serve(busy_then_ok)
    info, sleeps = run_op(kind, server, "verify", timeout=120.0)
    assert info.reference == "1" and len(sleeps) == 1 and 0 < sleeps[0] <= 60.0
    assert len(server.requests) == 2
