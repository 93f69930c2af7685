"""A local stand-in for the bank's QR API, and a webhook receiver, on loopback.

For tests, demonstrations and developing a checkout against: the checks
are those a merchant integration needs to see fail (headers, token, bad
input, unknown references), not the bank's full rule book.

    with SandboxBank() as bank:
        client = Client(bank.config(), bank.token())
        qr = client.generate(...)
        bank.pay(qr.reference)          # posts the notification to the webhook URL

Routes under ``bank.base_url`` (``routes.ROUTES`` names them):

- ``POST qr/{simple|mld}/v2/generate``, ``GET qr/{simple|mld}/v2/verify/{ref}``,
  ``POST qr/simple/v2/cancel/{ref}``: the API, behind its five headers;
- ``GET /?token=...``: the web page of QR payments and notification deliveries;
- ``POST _sandbox/{pay|expire|cancel}/{ref}``: the page's buttons, behind the sandbox's token.

``vigencia`` (``expires_in``) is taken as seconds.
"""

from .bank import SandboxBank
from .notify import RetryPolicy
from .records import Delivery, RecordedRequest
from .receiver import ReceivedWebhook, WebhookHandler, WebhookReceiver
from .server import Limits
from .wire import qr_png

__all__ = [
    "Delivery",
    "Limits",
    "ReceivedWebhook",
    "RecordedRequest",
    "RetryPolicy",
    "SandboxBank",
    "WebhookHandler",
    "WebhookReceiver",
    "qr_png",
]
