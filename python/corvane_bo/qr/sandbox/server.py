"""A small HTTP/1.1 server for the stand-in bank and the webhook receiver.

Connections are read by one event loop on a background thread, so an idle
keep-alive connection or a client that sends its request slowly costs a
buffer, not a thread; complete requests are handed to a bounded pool of
worker threads. Every limit a bank's front end has is enforced here: time
to send a request, size of its head and body, number of connections.
"""

from __future__ import annotations

import asyncio
import re
import socket
import threading
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from http import HTTPStatus
from typing import TypeVar

__all__ = ["HttpServer", "Limits", "Request", "Response"]

_Self = TypeVar("_Self", bound="HttpServer")

_END_OF_HEAD = re.compile(rb"\r?\n\r?\n")
_TOKEN = re.compile(r"[!#$%&'*+\-.^_`|~0-9A-Za-z]+")
_VERSION = re.compile(r"HTTP/(\d)\.(\d)")


@dataclass(frozen=True)
class Limits:
    """What one client may take of the server; times in seconds, sizes in bytes."""

    workers: int = 32
    backlog: int = 256
    max_connections: int = 512
    read_timeout: float = 10.0  # from the first byte of a request to its last
    idle_timeout: float = 15.0  # a keep-alive connection waiting for its next request
    write_timeout: float = 10.0
    max_head: int = 16 * 1024
    max_headers: int = 100
    max_body: int = 1024 * 1024


@dataclass(frozen=True)
class Request:
    method: str
    target: str
    path: str
    query: str
    headers: tuple[tuple[str, str], ...]
    body: bytes

    def header(self, name: str) -> str | None:
        """The last value of a header, its name compared without case."""
        wanted, found = name.lower(), None
        for key, value in self.headers:
            if key.lower() == wanted:
                found = value
        return found


@dataclass(frozen=True)
class Response:
    status: int
    body: bytes = b""
    headers: tuple[tuple[str, str], ...] = field(default_factory=tuple)


App = Callable[[Request], Response]


class _Refused(Exception):
    """A request that cannot be served; the connection is answered and closed."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


def _plain(status: int, message: str) -> Response:
    return Response(status, message.encode() + b"\n", (("Content-Type", "text/plain; charset=utf-8"),))


class HttpServer:
    """Serves ``app`` on ``host:port`` (0 picks a free port) until ``close``."""

    def __init__(self, app: App, host: str = "127.0.0.1", port: int = 0, *,
                 limits: Limits = Limits(), name: str = "corvane-http") -> None:
        self.app = app
        self.limits = limits
        self.connections_accepted = 0
        self._open = 0
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self._socket = socket.create_server((host, port), family=family, backlog=limits.backlog)
        self._pool = ThreadPoolExecutor(limits.workers, thread_name_prefix=f"{name}-worker")
        self._loop = asyncio.new_event_loop()
        self._tasks: set[asyncio.Task[None]] = set()
        self._ready = threading.Event()
        self._closed = False
        self._thread = threading.Thread(target=self._run, name=name, daemon=True)
        self._thread.start()
        self._ready.wait()

    @property
    def address(self) -> tuple[str, int]:
        host, port = self._socket.getsockname()[:2]
        return str(host), int(port)

    @property
    def base_url(self) -> str:
        host, port = self.address
        return f"http://[{host}]:{port}" if ":" in host else f"http://{host}:{port}"

    def close(self) -> None:
        if self._closed:
            return
        self._closed = True
        self._loop.call_soon_threadsafe(self._stopping.set)
        self._thread.join()
        self._loop.close()
        self._pool.shutdown(wait=True, cancel_futures=True)

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    # -- the loop thread --

    def _run(self) -> None:
        self._loop.run_until_complete(self._main())

    async def _main(self) -> None:
        self._stopping = asyncio.Event()
        server = await asyncio.start_server(self._connection, sock=self._socket, backlog=self.limits.backlog)
        self._ready.set()
        await self._stopping.wait()
        server.close()
        for task in list(self._tasks):
            task.cancel()
        await asyncio.gather(*self._tasks, return_exceptions=True)
        await server.wait_closed()

    async def _connection(self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
        self.connections_accepted += 1
        task = asyncio.current_task()
        assert task is not None
        self._tasks.add(task)
        self._open += 1
        try:
            if self._open > self.limits.max_connections:
                await self._write(writer, _plain(503, "too many connections"), close=True)
            else:
                await _Connection(self, reader, writer).serve()
        except (OSError, asyncio.TimeoutError):
            pass  # the client went away, or stopped reading its answer
        except asyncio.CancelledError:
            pass  # the server is closing; returning normally keeps asyncio from logging it
        finally:
            self._open -= 1
            self._tasks.discard(task)
            writer.close()

    async def _write(self, writer: asyncio.StreamWriter, response: Response, *, close: bool,
                     head_only: bool = False) -> None:
        reason = HTTPStatus(response.status).phrase if response.status in HTTPStatus._value2member_map_ else ""
        lines = [f"HTTP/1.1 {response.status} {reason}", "Server: CorvaneSandbox/2",
                 f"Content-Length: {len(response.body)}"]
        lines += [f"{name}: {value}" for name, value in response.headers]
        if close:
            lines.append("Connection: close")
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1", "replace")
        writer.write(head if head_only else head + response.body)  # one segment: no wait for a delayed ACK
        await asyncio.wait_for(writer.drain(), self.limits.write_timeout)

    async def _answer(self, request: Request) -> Response:
        try:
            return await self._loop.run_in_executor(self._pool, self.app, request)
        except Exception:  # the application's fault is the server's 500, never a dropped connection
            return _plain(500, "internal error")


class _Connection:
    """The requests of one connection, read one after another into one buffer."""

    def __init__(self, server: HttpServer, reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
        self.server, self.reader, self.writer = server, reader, writer
        self.limits = server.limits
        self.buffer = bytearray()

    async def serve(self) -> None:
        first = True
        while True:
            try:
                head = await self._head(first)
                if head is None:
                    return
                request, keep_alive = await self._request(head)
            except _Refused as refused:
                await self.server._write(self.writer, _plain(refused.status, str(refused)), close=True)
                return
            first = False
            response = await self.server._answer(request)
            await self.server._write(self.writer, response, close=not keep_alive,
                                     head_only=request.method == "HEAD")
            if not keep_alive:
                return

    async def _fill(self, deadline: float, size: int = 65536) -> bool:
        remaining = deadline - self.server._loop.time()
        if remaining <= 0:
            raise asyncio.TimeoutError
        chunk = await asyncio.wait_for(self.reader.read(size), remaining)
        self.buffer += chunk
        return bool(chunk)

    async def _head(self, first: bool) -> bytes | None:
        """The next request's head, or None when the client closed or stayed idle between requests."""
        loop = self.server._loop
        deadline = loop.time() + (self.limits.read_timeout if first else self.limits.idle_timeout)
        begun, scanned = False, 0
        while True:
            while self.buffer.startswith((b"\r\n", b"\n")):  # blank lines before a request are allowed
                del self.buffer[:2 if self.buffer[0] == 13 else 1]
            if self.buffer and not begun:
                begun = True  # once a request has begun, all of it must arrive within the read timeout
                deadline = min(deadline, loop.time() + self.limits.read_timeout)
            end = _END_OF_HEAD.search(self.buffer, max(0, scanned - 3), self.limits.max_head + 4)
            if end is not None:
                head = bytes(self.buffer[:end.start()])
                del self.buffer[:end.end()]
                return head
            if len(self.buffer) > self.limits.max_head:
                if b"\n" not in self.buffer[:self.limits.max_head]:
                    raise _Refused(414, "request line too long")
                raise _Refused(431, "request header fields too large")
            scanned = len(self.buffer)
            try:
                received = await self._fill(deadline)
            except asyncio.TimeoutError:
                if begun or first:
                    raise _Refused(408, "request not received in time") from None
                return None
            if not received:
                if begun:
                    raise _Refused(400, "incomplete request")
                return None

    async def _request(self, head: bytes) -> tuple[Request, bool]:
        lines = head.decode("latin-1").replace("\r\n", "\n").split("\n")
        parts = lines[0].split(" ")
        if len(parts) != 3 or not _TOKEN.fullmatch(parts[0]) or not parts[1]:
            raise _Refused(400, "malformed request line")
        method, target, version = parts
        if not (found := _VERSION.fullmatch(version)):
            raise _Refused(400, "malformed HTTP version")
        if found.group(1) != "1":
            raise _Refused(505, "only HTTP/1.0 and HTTP/1.1 are served")
        if len(lines) - 1 > self.limits.max_headers:
            raise _Refused(431, "too many header fields")
        headers = []
        for line in lines[1:]:
            name, colon, value = line.partition(":")
            if not colon or not _TOKEN.fullmatch(name):
                raise _Refused(400, "malformed header field")
            headers.append((name, value.strip(" \t")))
        request = Request(method, target, *_split_target(target), tuple(headers), b"")
        if request.header("Transfer-Encoding") is not None:
            raise _Refused(501, "Transfer-Encoding is not supported; send Content-Length")
        length = _content_length(request)
        if length > self.limits.max_body:
            raise _Refused(413, f"the body exceeds {self.limits.max_body} bytes")
        if length and (request.header("Expect") or "").lower() == "100-continue":
            self.writer.write(b"HTTP/1.1 100 Continue\r\n\r\n")
        body = await self._body(length)
        connection = (request.header("Connection") or "").lower()
        keep_alive = "close" not in connection and (found.group(2) != "0" or "keep-alive" in connection)
        return Request(method, target, request.path, request.query, request.headers, body), keep_alive

    async def _body(self, length: int) -> bytes:
        deadline = self.server._loop.time() + self.limits.read_timeout
        try:
            while len(self.buffer) < length:
                if not await self._fill(deadline, min(65536, length - len(self.buffer))):
                    raise _Refused(400, "the body ended early")
        except asyncio.TimeoutError:
            raise _Refused(408, "request body not received in time") from None
        body = bytes(self.buffer[:length])
        del self.buffer[:length]
        return body


def _split_target(target: str) -> tuple[str, str]:
    path, _, query = target.partition("?")
    return path, query


def _content_length(request: Request) -> int:
    values = {value for key, value in request.headers if key.lower() == "content-length"}
    if not values:
        return 0
    if len(values) > 1 or not all(v.isascii() and v.isdigit() for v in values):
        raise _Refused(400, "malformed Content-Length")
    text = values.pop()
    return int(text) if len(text) < 19 else 1 << 62
