"""A scripted HTTP/1.1 server on 127.0.0.1 that misbehaves on request, counting what it sees.

It keeps connections alive, counts accepted connections and requests, and
answers each request with what its script returns: well-formed bank
answers, or cut, trickled, oversized and endless ones.  Every connection
thread stops when the server closes, and every write loop is bounded.
The stand-in bank serves the well-behaved cases; this one serves the faults.
"""

from __future__ import annotations

import json
import socket
import threading
import time
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass, field
from typing import Any

STATUS_DATA = {"numeroReferencia": "1", "estado": "PENDIENTE", "mensaje": "QR pendiente de pago",
               "monto": 10.5, "moneda": "BOB"}
GENERATED_DATA = {"numeroReferencia": "1", "estado": "PENDIENTE", "fechaExpiracion": "2030-01-01T00:00:00-04:00",
                  "moneda": "BOB", "monto": 10.5, "numeroReferenciaOriginante": "1", "qr": "iVBORw0KGgo="}
LONGEST_WRITE_S = 20.0


@dataclass(frozen=True)
class Request:
    index: int
    method: str
    path: str
    headers: dict[str, str]
    body: bytes


@dataclass(frozen=True)
class Reply:
    """Bytes to write (one block, or an iterable of them), ``pause`` seconds apart byte by byte
    when ``trickle`` is set, then close the connection when ``close`` is set."""

    data: bytes | Iterable[bytes]
    trickle: float = 0.0
    close: bool = False


def answer(status: int, body: bytes | str | dict[str, Any], headers: dict[str, str] | None = None,
           content_length: int | None = None, close: bool = False, trickle: float = 0.0) -> Reply:
    raw = body if isinstance(body, bytes) else (body if isinstance(body, str) else json.dumps(body)).encode()
    lines = [f"HTTP/1.1 {status} X", "Content-Type: application/json",
             f"Content-Length: {len(raw) if content_length is None else content_length}"]
    lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
    return Reply(("\r\n".join(lines) + "\r\n\r\n").encode() + raw, trickle, close)


def bank_ok(request: Request) -> Reply:
    data = GENERATED_DATA if request.path.endswith("/generate") else STATUS_DATA
    return answer(200, {"success": True, "message": "ok", "data": data})


def endless_chunked(status: int = 200) -> Reply:
    def chunks() -> Iterator[bytes]:
        yield f"HTTP/1.1 {status} X\r\nTransfer-Encoding: chunked\r\n\r\n".encode()
        block = b"%x\r\n%s\r\n" % (65536, b"7" * 65536)
        while True:
            yield block
    return Reply(chunks(), close=True)


@dataclass
class LoopbackServer:
    script: Callable[[Request], Reply] = bank_ok
    accepted: int = 0
    requests: list[Request] = field(default_factory=list)
    sent_bytes: int = 0

    def __post_init__(self) -> None:
        self._sock = socket.create_server(("127.0.0.1", 0))
        self._sock.settimeout(0.1)
        self._stop = threading.Event()
        self._lock = threading.Lock()
        self._threads: list[threading.Thread] = []
        self._accepter = threading.Thread(target=self._accept, daemon=True)
        self._accepter.start()

    @property
    def url(self) -> str:
        return "http://127.0.0.1:%d" % self._sock.getsockname()[1]

    def __enter__(self) -> LoopbackServer:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        self._stop.set()
        self._accepter.join(5)
        for thread in list(self._threads):
            thread.join(5)
        self._sock.close()

    def _accept(self) -> None:
        while not self._stop.is_set():
            try:
                conn, _ = self._sock.accept()
            except OSError:
                continue
            with self._lock:
                self.accepted += 1
            thread = threading.Thread(target=self._serve, args=(conn,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, conn: socket.socket) -> None:
        conn.settimeout(0.2)
        buffer = b""
        with conn:
            while not self._stop.is_set():
                while b"\r\n\r\n" not in buffer:
                    try:
                        data = conn.recv(65536)
                    except socket.timeout:
                        if self._stop.is_set():
                            return
                        continue
                    except OSError:
                        return
                    if not data:
                        return
                    buffer += data
                head, _, buffer = buffer.partition(b"\r\n\r\n")
                line, *fields = head.decode("latin-1").split("\r\n")
                method, path, _ = line.split(" ", 2)
                headers = dict(f.split(": ", 1) for f in fields if ": " in f)
                length = int(next((v for k, v in headers.items() if k.lower() == "content-length"), "0"))
                while len(buffer) < length:
                    try:
                        buffer += conn.recv(65536)
                    except OSError:
                        return
                body, buffer = buffer[:length], buffer[length:]
                with self._lock:
                    request = Request(len(self.requests), method, path, headers, body)
                    self.requests.append(request)
                reply = self.script(request)
                if not self._write(conn, reply) or reply.close:
                    return

    def _write(self, conn: socket.socket, reply: Reply) -> bool:
        blocks = [reply.data] if isinstance(reply.data, bytes) else reply.data
        started = time.monotonic()
        for block in blocks:
            pieces = [block[i:i + 1] for i in range(len(block))] if reply.trickle else [block]
            for piece in pieces:
                if self._stop.is_set() or time.monotonic() - started > LONGEST_WRITE_S:
                    return False
                try:
                    conn.sendall(piece)
                except OSError:
                    return False
                with self._lock:
                    self.sent_bytes += len(piece)
                if reply.trickle:
                    time.sleep(reply.trickle)
        return True
