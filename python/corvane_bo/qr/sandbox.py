"""A local stand-in for the bank's QR API, and a webhook receiver, on loopback.

For tests and demonstrations only: state lives in memory, nothing is
persisted, and the checks are those a merchant integration needs to see
fail (headers, token, bad input, unknown references), not the bank's full
rule book.

    with SandboxBank() as bank:
        client = Client(bank.config(), bank.token())
        qr = client.generate(...)
        bank.pay(qr.reference)          # posts the notification to the webhook URL

Routes under ``bank.base_url``:

- ``POST qr/{simple|mld}/v2/generate``, ``GET qr/{simple|mld}/v2/verify/{ref}``,
  ``POST qr/simple/v2/cancel/{ref}``: the API, behind its five headers;
- ``POST _sandbox/pay/{ref}``: pays a QR, as :meth:`SandboxBank.pay`.

``vigencia`` (``expires_in``) is taken as seconds.
"""

from __future__ import annotations

import base64
import hashlib
import importlib
import io
import json
import re
import secrets
import struct
import threading
import zlib
from collections import deque
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, TypeVar, cast

from .models import AccessToken, Config
from .transport import HttpRequest, UrllibTransport, header

_Self = TypeVar("_Self", bound="_Background")

__all__ = [
    "Delivery",
    "ReceivedWebhook",
    "RecordedRequest",
    "SandboxBank",
    "WebhookReceiver",
    "qr_png",
]

_BOLIVIA = timezone(timedelta(hours=-4))
_API = re.compile(r"^/qr/(?:(simple|mld)/v2/(generate)|(simple|mld)/v2/(verify)/(\d+)|simple/v2/(cancel)/(\d+))$")
_PAY = re.compile(r"^/_sandbox/pay/(\d+)$")

PENDING, PAID, CANCELLED, EXPIRED = "PENDIENTE", "PAGADO", "CANCELADO", "EXPIRADO"


# --- QR image -------------------------------------------------------------------


def qr_png(content: str, scale: int = 4) -> bytes:
    """A PNG of the QR code for ``content``.

    Drawn by segno when the "demo" extra is installed; otherwise a valid PNG
    of a deterministic pattern derived from the content, which looks like a
    QR code but does not scan.
    """
    try:
        segno = importlib.import_module("segno")
    except ImportError:
        return _pattern_png(content, scale)
    buffer = io.BytesIO()
    segno.make(content, error="m").save(buffer, kind="png", scale=scale, border=4)
    return buffer.getvalue()


def _pattern_png(content: str, scale: int) -> bytes:
    size, border = 25, 4
    bits = int.from_bytes(hashlib.shake_256(content.encode()).digest(size * size // 8 + 1), "big")
    grid = [[bool(bits >> (r * size + c) & 1) for c in range(size)] for r in range(size)]
    for top, left in ((0, 0), (0, size - 7), (size - 7, 0)):  # the three finder squares
        for r in range(7):
            for c in range(7):
                ring = max(abs(r - 3), abs(c - 3))
                grid[top + r][left + c] = ring != 2
    side = (size + 2 * border) * scale
    rows = []
    for y in range(side):
        r = y // scale - border
        row = bytearray(b"\x00")  # filter type: none
        for x in range(side):
            c = x // scale - border
            dark = 0 <= r < size and 0 <= c < size and grid[r][c]
            row.append(0 if dark else 255)
        rows.append(bytes(row))

    def chunk(tag: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    header_ = struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)  # 8-bit greyscale
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header_)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


# --- JSON with exact numbers -------------------------------------------------------


def _dumps(value: Any) -> str:
    """Compact JSON where a Decimal is written as a number with its exact digits."""
    if isinstance(value, Decimal):
        return format(value, "f")
    if isinstance(value, dict):
        return "{" + ",".join(json.dumps(str(k)) + ":" + _dumps(v) for k, v in value.items()) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(_dumps(v) for v in value) + "]"
    return json.dumps(value, ensure_ascii=False)


def _now() -> datetime:
    return datetime.now(_BOLIVIA).replace(microsecond=0)


# --- Records ----------------------------------------------------------------------


@dataclass(frozen=True)
class RecordedRequest:
    """One request the sandbox received and what it answered."""

    method: str
    path: str
    status: int


@dataclass(frozen=True)
class Delivery:
    """The outcome of posting a notification to the merchant's webhook URL."""

    url: str
    body: str
    status: int | None = None
    error: str | None = None


@dataclass
class _Qr:
    reference: str
    kind: str
    amount: Decimal
    description: str
    expires_at: datetime
    webhook: dict[str, str]
    status: str = PENDING
    payer: dict[str, str] | None = None
    bank: dict[str, str] | None = None

    def content(self) -> str:
        return f"corvane-sandbox:qr?kind={self.kind}&ref={self.reference}&amount={self.amount}&currency=BOB"


@dataclass(frozen=True)
class _Answer:
    status: int
    body: dict[str, Any]
    headers: Mapping[str, str] = field(default_factory=dict)


def _ok(message: str, data: dict[str, Any]) -> _Answer:
    return _Answer(200, {"success": True, "message": message, "data": data})


def _fail(status: int, message: str, errors: list[dict[str, str]] | None = None) -> _Answer:
    return _Answer(status, {"success": False, "message": message, "errors": errors or []})


class _Background:
    """A loopback HTTP server on its own thread, stopped by ``close`` or by leaving a ``with`` block."""

    _server: _Server
    _thread: threading.Thread
    _closed: bool

    def _serve(self, host: str, port: int, handler: type[BaseHTTPRequestHandler], name: str) -> None:
        self._server = _Server((host, port), handler, self)
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.05}, name=name, daemon=True
        )
        self._thread.start()
        self._closed = False

    def close(self) -> None:
        if self._closed:
            return
        self._closed = True
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class SandboxBank(_Background):
    """The stand-in bank, serving on ``host`` (port 0 picks a free port) from a background thread."""

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = 0,
        *,
        client_id: str = "sandbox-client",
        access_token: str | None = None,
    ) -> None:
        self.client_id = client_id
        self.access_token = access_token if access_token is not None else secrets.token_urlsafe(24)
        self._lock = threading.Lock()
        self._qrs: dict[str, _Qr] = {}
        self._failures: deque[_Answer] = deque()
        self._log: list[RecordedRequest] = []
        self._serve(host, port, _BankHandler, "corvane-sandbox-bank")

    @property
    def base_url(self) -> str:
        host, port = self._server.server_address[:2]
        return f"http://{host!s}:{port}"

    def config(self) -> Config:
        return Config(client_id=self.client_id, base_url=self.base_url)

    def token(self, lifetime: int = 3600) -> AccessToken:
        return AccessToken(
            access_token=self.access_token,
            token_type="Bearer",
            expires_at=int(_now().timestamp()) + lifetime,
        )

    def fail_next(self, n: int, status: int = 503, *, retry_after: int | None = None,
                  body: dict[str, Any] | None = None) -> None:
        """Answer the next ``n`` API requests with ``status``, before any other check.

        The default body carries a message but no ``success`` flag, which
        the client treats as a retryable failure for 408, 429 and 5xx.
        """
        headers = {} if retry_after is None else {"Retry-After": str(retry_after)}
        answer = _Answer(status, body if body is not None else {"message": f"sandbox failure {status}"},
                         headers)
        with self._lock:
            self._failures.extend([answer] * n)

    def requests(self, path_contains: str = "") -> list[RecordedRequest]:
        with self._lock:
            return [r for r in self._log if path_contains in r.path]

    def status_of(self, reference: str) -> str:
        with self._lock:
            qr = self._get(reference)
            self._expire(qr)
            return qr.status

    def qr_content(self, reference: str) -> str:
        """The text encoded in a QR's image."""
        with self._lock:
            return self._get(reference).content()

    def pay(self, reference: str, *, payer_name: str = "CLIENTE SANDBOX",
            deliver: bool = True) -> Delivery | None:
        """Mark a pending QR paid and post the notification to its webhook.

        Raises KeyError for an unknown reference and ValueError for a QR
        that is no longer pending.  Returns the delivery outcome (None when
        ``deliver`` is false); a failed delivery leaves the QR paid.
        """
        when = _now().isoformat()
        with self._lock:
            qr = self._get(reference)
            self._expire(qr)
            if qr.status != PENDING:
                raise ValueError(f"QR {reference} is {qr.status}, not {PENDING}")
            qr.status = PAID
            qr.payer = {"nombreCliente": payer_name, "numeroCuenta": "1000200030",
                        "ciNitCliente": "4455667"}
            qr.bank = {"codigoBanco": "1001", "nombreBanco": "BANCO SANDBOX",
                       "numeroOrdenAch": str(secrets.randbelow(10**9)), "fechaTransaccion": when}
            notification = {
                "numeroReferencia": qr.reference, "monto": qr.amount, "moneda": "BOB",
                "codigoRespuesta": PAID, "detalleRespuesta": "Pago realizado",
                "fechaHoraTransaccion": when, "clienteOrigen": qr.payer, "bancoOrigen": qr.bank,
            }
            target = dict(qr.webhook)
        if not deliver:
            return None
        return self._deliver(target, _dumps(notification))

    # -- internals (callers hold the lock where state is touched) --

    def _get(self, reference: str) -> _Qr:
        try:
            return self._qrs[reference]
        except KeyError:
            raise KeyError(f"no QR with reference {reference}") from None

    def _expire(self, qr: _Qr) -> None:
        if qr.status == PENDING and _now() >= qr.expires_at:
            qr.status = EXPIRED

    @staticmethod
    def _deliver(target: dict[str, str], body: str) -> Delivery:
        url = target["url"].strip()
        request = HttpRequest("POST", url, {target["key"]: target["value"],
                                            "Content-Type": "application/json"}, body)
        try:
            response = UrllibTransport(timeout=5.0)(request)
        except (OSError, ValueError) as exc:
            return Delivery(url, body, error=str(exc))
        return Delivery(url, body, status=response.status)

    def _handle(self, method: str, path: str, headers: Mapping[str, str], body: bytes) -> _Answer:
        if method == "POST" and (m := _PAY.match(path)):
            return self._pay_route(m.group(1))
        route = _API.match(path)
        if route is None:
            return _fail(404, "ruta no encontrada")
        with self._lock:
            if self._failures:
                return self._failures.popleft()
        problem = self._check_headers(headers)
        if problem is not None:
            return _Answer(401, {"error": "invalid_token", "error_description": problem},
                           {"WWW-Authenticate": 'Bearer realm="sandbox"'})
        g = route.groups()
        if g[1] and method == "POST":
            return self._generate(g[0], body)
        if g[3] and method == "GET":
            return self._status(g[4], g[2], cancel=False)
        if g[5] and method == "POST":
            return self._status(g[6], None, cancel=True)
        return _fail(405, "método no permitido")

    def _check_headers(self, headers: Mapping[str, str]) -> str | None:
        def media(name: str) -> str:
            return (header(headers, name) or "").split(";")[0].strip().lower()

        expected = {
            "Authorization": f"Bearer {self.access_token}",
            "access_token": self.access_token,
            "client_id": self.client_id,
        }
        for name, value in expected.items():
            if not secrets.compare_digest((header(headers, name) or "").encode(), value.encode()):
                return f"missing or invalid `{name}` header"
        if media("Content-Type") != "application/json":
            return "`Content-Type` must be application/json"
        if "application/json" not in (header(headers, "Accept") or "").lower():
            return "`Accept` must include application/json"
        return None

    def _generate(self, kind: str, raw: bytes) -> _Answer:
        try:
            body = json.loads(raw, parse_float=Decimal)
        except ValueError:
            return _fail(400, "cuerpo JSON inválido")
        if not isinstance(body, dict):
            return _fail(400, "cuerpo JSON inválido")
        errors = []
        checks: list[tuple[str, Callable[[Any], bool]]] = [
            ("glosa", lambda v: isinstance(v, str) and bool(v.strip())),
            ("monto", lambda v: isinstance(v, (Decimal, int)) and not isinstance(v, bool) and v > 0),
            ("moneda", lambda v: v == "BOB"),
            ("numeroReferencia", lambda v: isinstance(v, str) and v.isascii() and v.isdigit()),
            ("idEstablecimiento", lambda v: type(v) is int and v > 0),
            ("nombreEstablecimiento", lambda v: isinstance(v, str) and bool(v.strip())),
            ("vigencia", lambda v: type(v) is int and v > 0),
            ("webhook", lambda v: isinstance(v, dict)
             and all(isinstance(v.get(k), str) for k in ("url", "key", "value"))),
        ]
        for key, ok in checks:
            if not ok(body.get(key)):
                errors.append({"field": key, "message": "valor inválido", "code": "INVALIDO"})
        if errors:
            return _fail(400, "datos inválidos", errors)
        reference = body["numeroReferencia"]
        qr = _Qr(reference, kind, Decimal(body["monto"]), body["glosa"],
                 _now() + timedelta(seconds=body["vigencia"]), dict(body["webhook"]))
        with self._lock:
            if reference in self._qrs:
                return _fail(409, f"numeroReferencia {reference} ya registrado")
            self._qrs[reference] = qr
        image = base64.b64encode(qr_png(qr.content())).decode("ascii")
        return _ok("QR generado correctamente", {
            "numeroReferencia": reference, "estado": PENDING,
            "fechaExpiracion": qr.expires_at.isoformat(), "moneda": "BOB",
            "monto": qr.amount, "numeroReferenciaOriginante": reference, "qr": image,
        })

    def _status(self, reference: str, kind: str | None, *, cancel: bool) -> _Answer:
        with self._lock:
            qr = self._qrs.get(reference)
            if qr is None or (kind is not None and qr.kind != kind):
                return _fail(404, "QR no encontrado")
            self._expire(qr)
            if cancel:
                if qr.status in (PAID, EXPIRED):
                    return _fail(409, f"el QR está {qr.status} y no puede cancelarse")
                qr.status = CANCELLED
            message = {PENDING: "QR pendiente de pago", PAID: "QR pagado",
                       CANCELLED: "QR cancelado", EXPIRED: "QR expirado"}[qr.status]
            return _ok("Consulta exitosa", {
                "numeroReferencia": qr.reference, "estado": qr.status, "mensaje": message,
                "monto": qr.amount, "moneda": "BOB", "numeroReferenciaOriginante": qr.reference,
                "clienteOrigen": qr.payer, "bancoOrigen": qr.bank,
            })

    def _pay_route(self, reference: str) -> _Answer:
        try:
            delivery = self.pay(reference)
        except KeyError:
            return _fail(404, "QR no encontrado")
        except ValueError as exc:
            return _fail(409, str(exc))
        assert delivery is not None
        return _ok("Pago simulado", {"estado": PAID, "webhookStatus": delivery.status,
                                     "webhookError": delivery.error})

    def _record(self, entry: RecordedRequest) -> None:
        with self._lock:
            self._log.append(entry)


class _Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address: tuple[str, int], handler: type[BaseHTTPRequestHandler],
                 owner: Any) -> None:
        self.owner = owner
        super().__init__(address, handler)


class _Handler(BaseHTTPRequestHandler):
    server_version = "CorvaneSandbox/1"

    def log_message(self, format: str, *args: Any) -> None:  # keep test output quiet
        pass

    def _body(self) -> bytes:
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
        return self.rfile.read(length) if length > 0 else b""

    def _send(self, status: int, body: bytes, headers: Mapping[str, str]) -> None:
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class _BankHandler(_Handler):
    def _serve(self) -> None:
        bank = cast(SandboxBank, cast(_Server, self.server).owner)
        path = self.path.split("?", 1)[0]
        headers = {k: str(v) for k, v in self.headers.items()}
        answer = bank._handle(self.command, path, headers, self._body())
        # Recorded before answering, so a caller that got its response sees it counted.
        bank._record(RecordedRequest(self.command, path, answer.status))
        self._send(answer.status, _dumps(answer.body).encode("utf-8"),
                   {"Content-Type": "application/json; charset=utf-8", **answer.headers})

    do_GET = do_POST = _serve


# --- Webhook receiver ---------------------------------------------------------------


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


class WebhookReceiver(_Background):
    """A merchant-side endpoint on loopback that records every POST it receives.

    ``handler`` gets the raw headers and body and returns the HTTP status to
    answer (200 when no handler is given; 500 when it raises).
    """

    def __init__(self, handler: WebhookHandler | None = None, host: str = "127.0.0.1",
                 port: int = 0, path: str = "/webhook") -> None:
        self.handler = handler
        self.path = path
        self._received: deque[ReceivedWebhook] = deque()
        self._arrived = threading.Condition()
        self._serve(host, port, _ReceiverHandler, "corvane-webhook-receiver")

    @property
    def url(self) -> str:
        host, port = self._server.server_address[:2]
        return f"http://{host!s}:{port}{self.path}"

    def received(self) -> list[ReceivedWebhook]:
        with self._arrived:
            return list(self._received)

    def wait(self, count: int = 1, timeout: float = 5.0) -> list[ReceivedWebhook]:
        """Block until at least ``count`` notifications arrived; TimeoutError otherwise."""
        with self._arrived:
            if not self._arrived.wait_for(lambda: len(self._received) >= count, timeout):
                raise TimeoutError(f"{len(self._received)} of {count} notifications arrived")
            return list(self._received)

    def _accept(self, path: str, headers: tuple[tuple[str, str], ...], body: bytes) -> int:
        try:
            status = self.handler(headers, body) if self.handler is not None else 200
        except Exception:
            status = 500
        with self._arrived:
            self._received.append(ReceivedWebhook(path, headers, body, status))
            self._arrived.notify_all()
        return status


class _ReceiverHandler(_Handler):
    def do_POST(self) -> None:
        receiver = cast(WebhookReceiver, cast(_Server, self.server).owner)
        headers = tuple((k, str(v)) for k, v in self.headers.items())
        status = receiver._accept(self.path, headers, self._body())
        self._send(status, b"", {})
