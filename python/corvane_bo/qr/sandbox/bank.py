"""The stand-in bank: the QR API behind its headers, and the sandbox's own controls."""

from __future__ import annotations

import base64
import secrets
import threading
from collections import deque
from collections.abc import Callable
from datetime import datetime, timedelta
from decimal import Decimal
from typing import Any, TypeVar

from ..models import AccessToken, Config
from . import wire
from .records import Delivery, Qr, RecordedRequest
from .routes import match
from .rules import read_generate
from .server import HttpServer, Limits, Request, Response
from .store import Store
from .wire import CANCELLED, EXPIRED, PAID, PENDING, Answer, fail, ok

__all__ = ["SandboxBank"]

_Self = TypeVar("_Self", bound="SandboxBank")

_MESSAGES = {PENDING: "QR pendiente de pago", PAID: "QR pagado", CANCELLED: "QR cancelado",
             EXPIRED: "QR expirado"}


class SandboxBank:
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
    ) -> None:
        self._store = Store(state)
        self.client_id = client_id or self._store.meta("client_id", "sandbox-client")
        self.access_token = access_token or self._store.meta("access_token", secrets.token_urlsafe(24))
        self._clock = clock
        self._lock = threading.Lock()
        self._failures: deque[Answer] = deque()
        self._log: deque[RecordedRequest] = deque(maxlen=10_000)
        try:
            self._server = HttpServer(self._serve, host, port, limits=limits, name="corvane-sandbox-bank")
        except BaseException:
            self._store.close()
            raise

    @property
    def base_url(self) -> str:
        return self._server.base_url

    @property
    def connections_accepted(self) -> int:
        """TCP connections accepted so far (a keep-alive client reuses one)."""
        return self._server.connections_accepted

    def config(self) -> Config:
        return Config(client_id=self.client_id, base_url=self.base_url)

    def token(self, lifetime: int = 3600) -> AccessToken:
        return AccessToken(access_token=self.access_token, token_type="Bearer",
                           expires_at=int(self._clock().timestamp()) + lifetime)

    def close(self) -> None:
        self._server.close()
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
        """Mark a pending QR paid and post the notification to its webhook.

        Raises KeyError for an unknown reference and ValueError for a QR
        that is no longer pending.  Returns the delivery outcome (None when
        ``deliver`` is false); a failed delivery leaves the QR paid.
        """
        when = self._clock().isoformat()
        with self._lock:
            qr = self._pending(reference)
            qr.status = PAID
            qr.payer = {"nombreCliente": payer_name, "numeroCuenta": "1000200030", "ciNitCliente": "4455667"}
            qr.bank = {"codigoBanco": "1001", "nombreBanco": "BANCO SANDBOX",
                       "numeroOrdenAch": str(secrets.randbelow(10**9)), "fechaTransaccion": when}
            self._store.save(qr)
        notification = {
            "numeroReferencia": qr.reference, "monto": qr.amount, "moneda": "BOB",
            "codigoRespuesta": PAID, "detalleRespuesta": "Pago realizado",
            "fechaHoraTransaccion": when, "clienteOrigen": qr.payer, "bancoOrigen": qr.bank,
        }
        if not deliver:
            return None
        return self._deliver(qr, wire.dumps(notification))

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

    @staticmethod
    def _deliver(qr: Qr, body: str) -> Delivery:
        from ..transport import HttpRequest, UrllibTransport

        target = qr.webhook
        url = target["url"].strip()
        request = HttpRequest("POST", url, {target["key"]: target["value"], "Content-Type": "application/json"},
                              body)
        try:
            response = UrllibTransport(timeout=5.0)(request)
        except (OSError, ValueError) as exc:
            return Delivery(url, body, error=str(exc))
        return Delivery(url, body, status=response.status)

    # -- HTTP --

    def _serve(self, request: Request) -> Response:
        answer = self._route(request)
        # Recorded before answering, so a caller that got its response sees it counted.
        with self._lock:
            self._log.append(RecordedRequest(request.method, request.path, answer.status))
        return answer.response()

    def _route(self, request: Request) -> Answer:
        found = match(request.method, request.path)
        if found is None:
            return fail(404, "ruta no encontrada")
        if found.api:
            with self._lock:
                if self._failures:
                    return self._failures.popleft()
            problem = self._check_headers(request)
            if problem is not None:
                return Answer(401, {"error": "invalid_token", "error_description": problem},
                              {"WWW-Authenticate": 'Bearer realm="sandbox"'})
        if found.route is None:
            return fail(405, "método no permitido", headers={"Allow": ", ".join(found.allowed)})
        params = found.params
        name = found.route.name
        if name == "generate":
            return self._generate(params["kind"], request.body)
        if name in ("verify", "cancel"):
            return self._status(params["reference"], params.get("kind"), cancel=name == "cancel")
        if name == "pay":
            return self._pay_route(params["reference"])
        return fail(404, "ruta no encontrada")

    def _check_headers(self, request: Request) -> str | None:
        def media(name: str) -> str:
            return (request.header(name) or "").split(";")[0].strip().lower()

        expected = {"Authorization": f"Bearer {self.access_token}", "access_token": self.access_token,
                    "client_id": self.client_id}
        for name, value in expected.items():
            if not secrets.compare_digest((request.header(name) or "").encode(), value.encode()):
                return f"missing or invalid `{name}` header"
        if media("Content-Type") != "application/json":
            return "`Content-Type` must be application/json"
        if "application/json" not in (request.header("Accept") or "").lower():
            return "`Accept` must include application/json"
        return None

    def _generate(self, kind: str, raw: bytes) -> Answer:
        body, errors = read_generate(raw)
        if body is None:
            return fail(400, "datos inválidos", errors) if errors else fail(400, "cuerpo JSON inválido")
        reference = body["numeroReferencia"]
        created = self._clock()
        qr = Qr(reference, kind, Decimal(body["monto"]), body["glosa"], created,
                created + timedelta(seconds=body["vigencia"]), dict(body["webhook"]))
        qr.image = base64.b64encode(wire.qr_png(qr.content())).decode("ascii")
        with self._lock:
            if not self._store.add(qr):
                return fail(409, f"numeroReferencia {reference} ya registrado")
        return ok("QR generado correctamente", {
            "numeroReferencia": reference, "estado": PENDING, "fechaExpiracion": qr.expires_at.isoformat(),
            "moneda": "BOB", "monto": qr.amount, "numeroReferenciaOriginante": reference, "qr": qr.image,
        })

    def _status(self, reference: str, kind: str | None, *, cancel: bool) -> Answer:
        with self._lock:
            try:
                qr = self._current(reference)
            except KeyError:
                return fail(404, "QR no encontrado")
            if kind is not None and qr.kind != kind:
                return fail(404, "QR no encontrado")
            if cancel:
                if qr.status in (PAID, EXPIRED):
                    return fail(409, f"el QR está {qr.status} y no puede cancelarse")
                qr.status = CANCELLED
                self._store.save(qr)
        return ok("Consulta exitosa", {
            "numeroReferencia": qr.reference, "estado": qr.status, "mensaje": _MESSAGES[qr.status],
            "monto": qr.amount, "moneda": "BOB", "numeroReferenciaOriginante": qr.reference,
            "clienteOrigen": qr.payer, "bancoOrigen": qr.bank,
        })

    def _pay_route(self, reference: str) -> Answer:
        try:
            delivery = self.pay(reference)
        except KeyError:
            return fail(404, "QR no encontrado")
        except ValueError as exc:
            return fail(409, str(exc))
        assert delivery is not None
        return ok("Pago simulado", {"estado": PAID, "webhookStatus": delivery.status,
                                    "webhookError": delivery.error})

