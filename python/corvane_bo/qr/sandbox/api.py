"""The stand-in bank over HTTP: the QR API behind its headers, and the sandbox's page and controls."""

from __future__ import annotations

import base64
import secrets
import threading
from collections import deque
from collections.abc import Callable
from concurrent.futures import Future
from datetime import datetime, timedelta
from decimal import Decimal
from urllib.parse import parse_qs, quote

from . import wire
from .page import page, refused_page
from .records import Delivery, Qr, RecordedRequest
from .routes import Match, match
from .rules import read_generate
from .server import Request, Response
from .store import Store
from .wire import CANCELLED, EXPIRED, PAID, PENDING, Answer, fail, ok

__all__ = ["BankHttp"]

_MESSAGES = {PENDING: "QR pendiente de pago", PAID: "QR pagado", CANCELLED: "QR cancelado",
             EXPIRED: "QR expirado"}



def _not_allowed(found: Match) -> Answer:
    # The API's routes and the console's answer a known path with the wrong method alike.
    return fail(405, "método no permitido", headers={"Allow": ", ".join(found.allowed)})

class BankHttp:
    """The routes of :class:`SandboxBank`, over the state that it keeps."""

    client_id: str
    access_token: str
    _store: Store
    _lock: threading.Lock
    _clock: Callable[[], datetime]
    _failures: deque[Answer]
    _log: deque[RecordedRequest]

    @property
    def base_url(self) -> str:
        raise NotImplementedError

    def status_of(self, reference: str) -> str:
        raise NotImplementedError

    def _current(self, reference: str) -> Qr:
        raise NotImplementedError

    def _settle(self, reference: str, payer_name: str, deliver: bool) -> Future[Delivery] | None:
        raise NotImplementedError

    def _change(self, reference: str, status: str) -> None:
        raise NotImplementedError

    def _serve(self, request: Request) -> Response:
        response = self._route(request)
        # Recorded before answering, so a caller that got its response sees it counted.
        with self._lock:
            self._log.append(RecordedRequest(request.method, request.path, response.status))
        return response

    def _route(self, request: Request) -> Response:
        found = match(request.method, request.path)
        if found is None:
            return fail(404, "ruta no encontrada").response()
        if found.api:
            return self._api(found, request).response()
        if found.route is None:
            return _not_allowed(found).response()
        return self._console(found.route.name, found.params, request)

    def _api(self, found: Match, request: Request) -> Answer:
        with self._lock:
            if self._failures:
                return self._failures.popleft()
        problem = self._check_headers(request)
        if problem is not None:
            return Answer(401, {"error": "invalid_token", "error_description": problem},
                          {"WWW-Authenticate": 'Bearer realm="sandbox"'})
        if found.route is None:
            return _not_allowed(found)
        params = found.params
        name = found.route.name
        if name == "generate":
            return self._generate(params["kind"], request.body)
        return self._status(params["reference"], params.get("kind"), cancel=name == "cancel")

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

    # -- the sandbox's own page and controls --

    def _console(self, name: str, params: dict[str, str], request: Request) -> Response:
        form = parse_qs(request.body.decode("utf-8", "replace")) if _is_form(request) else {}
        given = _bearer(request) or (form.get("token") or parse_qs(request.query).get("token") or [""])[-1]
        if not secrets.compare_digest(given.encode(), self.access_token.encode()):
            if name == "page":
                return refused_page()
            return fail(401, "token del sandbox ausente o inválido",
                        headers={"WWW-Authenticate": 'Bearer realm="sandbox"'}).response()
        if name == "page":
            return page(self._store.latest(200), self._store.deliveries(limit=200), base_url=self.base_url,
                        client_id=self.client_id, token=self.access_token)
        reference = params["reference"]
        try:
            if name == "pay":
                self._settle(reference, "CLIENTE SANDBOX", True)
            else:
                self._change(reference, EXPIRED if name == "expire" else CANCELLED)
        except KeyError:
            return fail(404, "QR no encontrado").response()
        except ValueError as exc:
            return fail(409, str(exc)).response()
        if form:  # a button of the page: back to the page
            return Response(303, b"", (("Location", f"/?token={quote(self.access_token)}"),))
        return ok("Operación del sandbox", {"numeroReferencia": reference,
                                            "estado": self.status_of(reference)}).response()


def _is_form(request: Request) -> bool:
    media = (request.header("Content-Type") or "").split(";")[0].strip().lower()
    return media == "application/x-www-form-urlencoded"


def _bearer(request: Request) -> str:
    scheme, _, credential = (request.header("Authorization") or "").partition(" ")
    return credential.strip() if scheme.lower() == "bearer" else ""
