"""A merchant-side webhook endpoint on loopback, for tests and the demo."""

from __future__ import annotations

import threading
from collections import deque
from collections.abc import Callable
from dataclasses import dataclass
from typing import TypeVar

from ..transport import header
from .server import HttpServer, Limits, Request, Response

__all__ = ["ReceivedWebhook", "WebhookHandler", "WebhookReceiver"]

_Self = TypeVar("_Self", bound="WebhookReceiver")


@dataclass(frozen=True)
class ReceivedWebhook:
    """One notification as it arrived, and the status the receiver answered."""

    path: str
    headers: tuple[tuple[str, str], ...]
    body: bytes
    status: int

    def header(self, name: str) -> str | None:
        return header(dict(self.headers), name)


WebhookHandler = Callable[[tuple[tuple[str, str], ...], bytes], int]


class WebhookReceiver:
    """Records every POST it receives.

    ``handler`` gets the raw headers and body and returns the HTTP status to
    answer (200 when no handler is given; 500 when it raises).
    """

    def __init__(self, handler: WebhookHandler | None = None, host: str = "127.0.0.1",
                 port: int = 0, path: str = "/webhook", *, limits: Limits = Limits()) -> None:
        self.handler = handler
        self.path = path
        self._received: deque[ReceivedWebhook] = deque()
        self._arrived = threading.Condition()
        self._server = HttpServer(self._serve, host, port, limits=limits, name="corvane-webhook-receiver")

    @property
    def url(self) -> str:
        return self._server.base_url + self.path

    def received(self) -> list[ReceivedWebhook]:
        with self._arrived:
            return list(self._received)

    def wait(self, count: int = 1, timeout: float = 5.0) -> list[ReceivedWebhook]:
        """Block until at least ``count`` notifications arrived; TimeoutError otherwise."""
        with self._arrived:
            if not self._arrived.wait_for(lambda: len(self._received) >= count, timeout):
                raise TimeoutError(f"{len(self._received)} of {count} notifications arrived")
            return list(self._received)

    def close(self) -> None:
        self._server.close()

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _serve(self, request: Request) -> Response:
        if request.method != "POST":
            return Response(405, headers=(("Allow", "POST"),))
        try:
            status = self.handler(request.headers, request.body) if self.handler is not None else 200
        except Exception:
            status = 500
        with self._arrived:
            self._received.append(ReceivedWebhook(request.target, request.headers, request.body, status))
            self._arrived.notify_all()
        return Response(status)
