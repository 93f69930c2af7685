"""Client for a bank network's QR payment API.

The protocol logic runs in the native engine ``corvane_bo.qr._native``
(``call(op, payload) -> answer``, JSON in and out); this package sends the
requests the engine describes and turns its answers into typed results and
exceptions.

    from corvane_bo.qr import Client, Config, AccessToken, WebhookTarget

    client = Client(Config(client_id="..."), AccessToken("...", expires_at=...))
    qr = client.generate("25.50", "1001", "Order 1001", establishment_id=7,
                         establishment_name="Tienda", expires_in=900,
                         webhook=WebhookTarget("https://shop.example/hook", "X-Hook", "s3cret"))
    client.verify(qr.reference)

The extension is imported on first use, so ``corvane_bo.qr.sandbox`` and the
records work without it.
"""

from .aclient import AsyncClient
from .client import Client, NativeCall, OpInfo, describe
from .errors import (
    AmbiguousError,
    ApiError,
    ApiFieldError,
    AuthenticationError,
    DecodeError,
    ProtocolError,
    QrError,
    TransportError,
    ValidationError,
    WebhookAuthError,
)
from .models import (
    AccessToken,
    Amount,
    Config,
    Environment,
    GeneratedQr,
    GenerateQr,
    Payer,
    PayerBank,
    PaymentNotification,
    PaymentStatus,
    QrKind,
    QrStatusInfo,
    WebhookTarget,
)
from .retry import RetryPolicy
from .pool import AsyncHttpxTransport, HttpxTransport
from .tokens import AsyncTokenProvider, TokenProvider
from .transport import DEFAULT_MAX_BODY, AsyncTransport, HttpRequest, Response, Transport, UrllibTransport
from .webhook import parse_webhook, pays_order, webhook_reply

# The engine's version (`_native.__version__`), kept here so that reading it needs no extension.
__version__ = "0.1.0"

__all__ = [
    "DEFAULT_MAX_BODY",
    "AccessToken",
    "AmbiguousError",
    "Amount",
    "AsyncClient",
    "AsyncHttpxTransport",
    "AsyncTokenProvider",
    "AsyncTransport",
    "ApiError",
    "ApiFieldError",
    "AuthenticationError",
    "Client",
    "Config",
    "DecodeError",
    "Environment",
    "GenerateQr",
    "GeneratedQr",
    "HttpRequest",
    "HttpxTransport",
    "NativeCall",
    "OpInfo",
    "Payer",
    "PayerBank",
    "PaymentNotification",
    "PaymentStatus",
    "ProtocolError",
    "QrError",
    "QrKind",
    "QrStatusInfo",
    "Response",
    "RetryPolicy",
    "Transport",
    "TokenProvider",
    "TransportError",
    "UrllibTransport",
    "ValidationError",
    "WebhookAuthError",
    "WebhookTarget",
    "describe",
    "parse_webhook",
    "pays_order",
    "webhook_reply",
]
