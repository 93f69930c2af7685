"""Hostile and careless clients against the stand-in bank: each gets the answer a bank would give, in
bounded time and memory, and the bank goes on serving."""

from __future__ import annotations

import asyncio
import socket
import threading
import time
from collections.abc import Iterator

import pytest

from corvane_bo.qr.sandbox import Limits, SandboxBank
from test_sandbox import API_HEADERS, TOKEN, generate_body, send

LIMITS = Limits(read_timeout=1.0, idle_timeout=1.0)


@pytest.fixture
def bank() -> Iterator[SandboxBank]:
    with SandboxBank(client_id="cid", access_token=TOKEN, limits=LIMITS) as bank:
        yield bank


def address(bank: SandboxBank) -> tuple[str, int]:
    host, port = bank.base_url.removeprefix("http://").split(":")
    return host, int(port)


def exchange(bank: SandboxBank, raw: bytes, *, half_close: bool = False) -> int:
    """Send raw bytes and read the answer's status; the server must answer within 3 s."""
    with socket.create_connection(address(bank), timeout=3) as sock:
        sock.sendall(raw)
        if half_close:
            sock.shutdown(socket.SHUT_WR)
        answer = b""
        while b"\r\n" not in answer:
            chunk = sock.recv(4096)
            if not chunk:
                break
            answer += chunk
    return int(answer.split(b" ", 2)[1])


def api_head(method: str, path: str, extra: str = "") -> bytes:
    headers = "".join(f"{k}: {v}\r\n" for k, v in API_HEADERS.items())
    return f"{method} {path} HTTP/1.1\r\nHost: x\r\n{headers}{extra}".encode()


def still_serving(bank: SandboxBank) -> None:
    started = time.monotonic()
    response, answer = send(bank, "GET", "qr/simple/v2/verify/424242")
    assert (response.status, answer["success"]) == (404, False) and time.monotonic() - started < 1


BAD_REQUESTS = [
    ("not HTTP", b"GARBAGE\r\n\r\n", 400),
    ("a TLS hello", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(32)) + b"\r\n\r\n", 400),
    ("HTTP/2 preface", b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", 505),
    ("a 20 KB path", b"GET /" + b"a" * 20_000 + b" HTTP/1.1\r\n\r\n", 414),
    ("a 20 KB header", b"GET / HTTP/1.1\r\nX-Big: " + b"a" * 20_000 + b"\r\n\r\n", 431),
    ("200 headers", b"GET / HTTP/1.1\r\n" + b"X-A: 1\r\n" * 200 + b"\r\n", 431),
    ("a header without colon", b"GET / HTTP/1.1\r\nNoColon\r\n\r\n", 400),
    ("a bad Content-Length", b"POST /qr/simple/v2/generate HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", 400),
    ("two Content-Lengths", b"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400),
    ("a 2 MB body announced", api_head("POST", "/qr/simple/v2/generate", "Content-Length: 2000000\r\n\r\n"), 413),
    ("a chunked body", b"POST /qr/simple/v2/generate HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501),
    ("an unknown path", b"GET /admin HTTP/1.1\r\nConnection: close\r\n\r\n", 404),
    ("a wrong token", b"GET /qr/simple/v2/verify/1 HTTP/1.1\r\nAuthorization: Bearer guess\r\n\r\n", 401),
    ("a wrong method", api_head("DELETE", "/qr/simple/v2/verify/1", "\r\n"), 405),
    ("JSON nested 100000 deep", api_head("POST", "/qr/simple/v2/generate", "Content-Length: 100000\r\n\r\n")
     + b"[" * 100_000, 400),
    ("a page without token", b"GET / HTTP/1.1\r\n\r\n", 401),
]


@pytest.mark.parametrize("raw, status", [(raw, status) for _, raw, status in BAD_REQUESTS],
                         ids=[name for name, _, _ in BAD_REQUESTS])
def test_bad_input_gets_a_bank_answer_and_the_bank_goes_on(bank: SandboxBank, raw: bytes, status: int) -> None:
    started = time.monotonic()
    assert exchange(bank, raw) == status
    assert time.monotonic() - started < 1.5
    still_serving(bank)


def test_a_body_cut_short_is_refused(bank: SandboxBank) -> None:
    raw = api_head("POST", "/qr/simple/v2/generate", "Content-Length: 10\r\n\r\n") + b"{}"
    assert exchange(bank, raw, half_close=True) == 400
    still_serving(bank)


def test_half_sent_requests_pin_no_thread_and_time_out(bank: SandboxBank) -> None:
    threads = threading.active_count()
    socks = [socket.create_connection(address(bank), timeout=5) for _ in range(150)]
    try:
        for sock in socks:
            sock.sendall(b"GET /qr/simple/v2/veri")
        still_serving(bank)
        assert threading.active_count() - threads < 5
        assert all(s.recv(64).startswith(b"HTTP/1.1 408 ") for s in socks)  # after the 1 s read timeout
    finally:
        for sock in socks:
            sock.close()
    still_serving(bank)


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_a_huge_announced_body_reserves_nothing(bank: SandboxBank) -> None:
    before = resident_bytes()
    socks = [socket.create_connection(address(bank), timeout=3) for _ in range(5)]
    try:
        for sock in socks:
            sock.sendall(api_head("POST", "/qr/simple/v2/generate", "Content-Length: 8000000000\r\n\r\n{"))
        assert all(s.recv(64).startswith(b"HTTP/1.1 413 ") for s in socks)
    finally:
        for sock in socks:
            sock.close()
    assert resident_bytes() - before < 16 * 1024 * 1024
    still_serving(bank)


async def verify_many(bank: SandboxBank, count: int) -> list[float]:
    host, port = address(bank)
    request = api_head("GET", "/qr/simple/v2/verify/1", "Connection: close\r\n\r\n")

    async def one() -> float:
        started = time.monotonic()
        reader, writer = await asyncio.open_connection(host, port)
        writer.write(request)
        answer = await reader.read()
        writer.close()
        assert answer.startswith(b"HTTP/1.1 404 ")
        return time.monotonic() - started

    return await asyncio.wait_for(asyncio.gather(*(one() for _ in range(count))), 20)


def test_two_hundred_concurrent_clients_are_all_served(bank: SandboxBank) -> None:
    times = sorted(asyncio.run(verify_many(bank, 200)))
    assert len(times) == 200 and times[-1] < 3.0  # a queue of 5 gave some clients 3.9 s or a time-out


def test_idle_keep_alive_connections_hold_no_worker() -> None:
    with SandboxBank(client_id="cid", access_token=TOKEN, limits=Limits(workers=2, idle_timeout=30)) as bank:
        idle = [socket.create_connection(address(bank), timeout=3) for _ in range(10)]
        try:
            for sock in idle:  # one answered request each, then silence
                sock.sendall(api_head("GET", "/qr/simple/v2/verify/1", "\r\n"))
                assert sock.recv(4096).startswith(b"HTTP/1.1 404 ")
            still_serving(bank)
        finally:
            for sock in idle:
                sock.close()


@pytest.mark.parametrize("field, extra", [
    ("vigencia", {"vigencia": 10**15}),
    ("vigencia", {"vigencia": 366 * 24 * 3600 + 1}),
    ("monto", {"monto": "1E+50000000"}),
    ("monto", {"monto": "1E+26"}),
    ("monto", {"monto": "0.001"}),
    ("webhook", {"webhook": {"url": "file:///etc/passwd", "key": "X-Hook", "value": "v"}}),
    ("webhook", {"webhook": {"url": "http://127.0.0.1:9/", "key": "Bad Key", "value": "v"}}),
    ("webhook", {"webhook": {"url": "http://127.0.0.1:9/", "key": "X-Hook", "value": "a\r\nX-Evil: 1"}}),
])
def test_amounts_lifetimes_and_targets_are_the_banks_to_judge(bank: SandboxBank, field: str, extra: dict[str, object]) -> None:
    started = time.monotonic()
    response, answer = send(bank, "POST", "qr/simple/v2/generate", generate_body(**extra))
    assert response.status == 400 and [e["field"] for e in answer["errors"]] == [field]
    assert len(response.body) < 1000 and time.monotonic() - started < 1
    still_serving(bank)


def test_sandbox_controls_need_its_token(bank: SandboxBank) -> None:
    send(bank, "POST", "qr/simple/v2/generate", generate_body("5"))
    for headers in ({}, {"Authorization": "Bearer guess"}, API_HEADERS | {"Authorization": "Basic x"}):
        assert send(bank, "POST", "_sandbox/pay/5", headers=headers)[0].status == 401
    assert bank.status_of("5") == "PENDIENTE" and not bank.deliveries()
    form = {"Content-Type": "application/x-www-form-urlencoded"}
    raw = f"POST /_sandbox/expire/5 HTTP/1.1\r\nContent-Type: {form['Content-Type']}\r\n" \
          f"Content-Length: {len('token=' + TOKEN)}\r\n\r\ntoken={TOKEN}".encode()
    assert exchange(bank, raw) == 303 and bank.status_of("5") == "EXPIRADO"
