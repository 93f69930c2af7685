"""The stand-in bank: the QR API behind its headers, and the sandbox's own controls."""

from __future__ import annotations

import secrets
import threading
from collections import deque
from collections.abc import Callable
from concurrent.futures import Future
from concurrent.futures import TimeoutError as FutureTimeout
from datetime import datetime
from typing import Any, TypeVar
from urllib.parse import quote

from ..models import AccessToken, Config
from . import wire
from .api import BankHttp
from .notify import Notifier, RetryPolicy
from .records import Delivery, Qr, RecordedRequest
from .server import HttpServer, Limits
from .store import Store
from .wire import CANCELLED, EXPIRED, PAID, PENDING, Answer

__all__ = ["SandboxBank"]

_Self = TypeVar("_Self", bound="SandboxBank")

class SandboxBank(BankHttp):
    """The stand-in bank, serving on ``host`` (port 0 picks a free port) from background threads.

    ``state`` names an SQLite file that keeps QR payments and notification
    attempts across restarts (and the credentials, unless given); without it
    they live in memory.
    """

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = 0,
        *,
        client_id: str | None = None,
        access_token: str | None = None,
        state: str | None = None,
        clock: Callable[[], datetime] = wire.now,
        limits: Limits = Limits(),
        retry: RetryPolicy = RetryPolicy(),
    ) -> None:
        self._store = Store(state)
        self.client_id = client_id or self._store.meta("client_id", "sandbox-client")
        self.access_token = access_token or self._store.meta("access_token", secrets.token_urlsafe(24))
        self._clock = clock
        self._lock = threading.Lock()
        self._failures: deque[Answer] = deque()
        self._log: deque[RecordedRequest] = deque(maxlen=10_000)
        self._retry = retry
        self._notifier = Notifier(self._store, retry, clock)
        try:
            self._server = HttpServer(self._serve, host, port, limits=limits, name="corvane-sandbox-bank")
        except BaseException:
            self._notifier.close()
            self._store.close()
            raise

    @property
    def base_url(self) -> str:
        return self._server.base_url

    @property
    def connections_accepted(self) -> int:
        """TCP connections accepted so far (a keep-alive client reuses one)."""
        return self._server.connections_accepted

    @property
    def page_url(self) -> str:
        """The web page, with the sandbox's token that its buttons send."""
        return f"{self.base_url}/?token={quote(self.access_token)}"

    def config(self) -> Config:
        return Config(client_id=self.client_id, base_url=self.base_url)

    def token(self, lifetime: int = 3600) -> AccessToken:
        return AccessToken(access_token=self.access_token, token_type="Bearer",
                           expires_at=int(self._clock().timestamp()) + lifetime)

    def close(self) -> None:
        self._server.close()
        self._notifier.close()
        self._store.close()

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    # -- controls for tests and developers --

    def fail_next(self, n: int, status: int = 503, *, retry_after: int | None = None,
                  body: dict[str, Any] | None = None) -> None:
        """Answer the next ``n`` API requests with ``status``, before any other check.

        The default body carries a message but no ``success`` flag, which
        the client treats as a retryable failure for 408, 429 and 5xx.
        """
        headers = {} if retry_after is None else {"Retry-After": str(retry_after)}
        answer = Answer(status, body if body is not None else {"message": f"sandbox failure {status}"}, headers)
        with self._lock:
            self._failures.extend([answer] * n)

    def clear_failures(self) -> int:
        """Drop the failures that ``fail_next`` queued and not yet answered; returns how many."""
        with self._lock:
            dropped = len(self._failures)
            self._failures.clear()
        return dropped

    def requests(self, path_contains: str = "") -> list[RecordedRequest]:
        with self._lock:
            return [r for r in self._log if path_contains in r.path]

    def status_of(self, reference: str) -> str:
        with self._lock:
            return self._current(reference).status

    def qr_content(self, reference: str) -> str:
        """The text encoded in a QR's image."""
        with self._lock:
            return self._current(reference).content()

    def pay(self, reference: str, *, payer_name: str = "CLIENTE SANDBOX",
            deliver: bool = True) -> Delivery | None:
        """Mark a pending QR paid and notify its webhook, as the bank does when a customer pays.

        Raises KeyError for an unknown reference and ValueError for a QR
        that is no longer pending.  Returns the outcome of the first
        delivery attempt (None when ``deliver`` is false); a failed attempt
        leaves the QR paid and is retried in the background.
        """
        first = self._settle(reference, payer_name, deliver)
        if first is None:
            return None
        try:
            return first.result(timeout=self._retry.timeout + 5)
        except FutureTimeout:
            return None

    def expire(self, reference: str) -> None:
        """End a pending QR's life now, as if its time had run out."""
        self._change(reference, EXPIRED)

    def cancel(self, reference: str) -> None:
        """Cancel a pending QR, as the merchant's cancel request would."""
        self._change(reference, CANCELLED)

    def deliveries(self, reference: str | None = None) -> list[Delivery]:
        """Every notification attempt (of one QR, if given), newest first."""
        return self._store.deliveries(reference)

    def _settle(self, reference: str, payer_name: str, deliver: bool) -> Future[Delivery] | None:
        when = self._clock().isoformat()
        with self._lock:
            qr = self._pending(reference)
            qr.status = PAID
            qr.payer = {"nombreCliente": payer_name, "numeroCuenta": "1000200030", "ciNitCliente": "4455667"}
            qr.bank = {"codigoBanco": "1001", "nombreBanco": "BANCO SANDBOX",
                       "numeroOrdenAch": str(secrets.randbelow(10**9)), "fechaTransaccion": when}
            self._store.save(qr)
        if not deliver:
            return None
        notification = {
            "numeroReferencia": qr.reference, "monto": qr.amount, "moneda": "BOB",
            "codigoRespuesta": PAID, "detalleRespuesta": "Pago realizado",
            "fechaHoraTransaccion": when, "clienteOrigen": qr.payer, "bancoOrigen": qr.bank,
        }
        return self._notifier.send(qr.reference, qr.webhook, wire.dumps(notification))

    def _change(self, reference: str, status: str) -> None:
        with self._lock:
            qr = self._pending(reference)
            qr.status = status
            self._store.save(qr)

    # -- state (callers hold the lock) --

    def _current(self, reference: str) -> Qr:
        """The QR as of now: a pending one past its expiry is expired first."""
        qr = self._store.get(reference)
        if qr is None:
            raise KeyError(f"no QR with reference {reference}")
        if qr.status == PENDING and self._clock() >= qr.expires_at:
            qr.status = EXPIRED
            self._store.save(qr)
        return qr

    def _pending(self, reference: str) -> Qr:
        qr = self._current(reference)
        if qr.status != PENDING:
            raise ValueError(f"QR {reference} is {qr.status}, not {PENDING}")
        return qr
