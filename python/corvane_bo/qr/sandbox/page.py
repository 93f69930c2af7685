"""The sandbox's web page: every QR payment with its image and buttons, and the notification log.

Server-rendered, no script; every text from a request or a merchant's
endpoint goes through ``html.escape``, and the page's policy forbids
scripts should one slip through anyway.
"""

from __future__ import annotations

from collections.abc import Iterable
from datetime import datetime
from decimal import Decimal
from html import escape
from urllib.parse import quote

from .records import Delivery, Qr
from .server import Response
from .wire import PENDING

__all__ = ["page", "refused_page"]

REFRESH_SECONDS = 5

_HEADERS = (
    ("Content-Type", "text/html; charset=utf-8"),
    ("Cache-Control", "no-store"),
    ("X-Content-Type-Options", "nosniff"),
    ("Referrer-Policy", "no-referrer"),
    ("Content-Security-Policy",
     "default-src 'none'; img-src data:; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'"),
)

_STYLE = """
body { font: 15px/1.4 system-ui, sans-serif; margin: 1.5em; color: #1d2330; }
table { border-collapse: collapse; margin-bottom: 2em; }
th, td { border-bottom: 1px solid #d8dce4; padding: .4em .7em; text-align: left; vertical-align: middle; }
th { background: #f1f3f7; }
img.qr { width: 116px; height: 116px; image-rendering: pixelated; }
.status { font-weight: 600; }
.PAGADO { color: #17723a; } .PENDIENTE { color: #8a5a00; } .CANCELADO, .EXPIRADO { color: #777; }
form { display: inline; } button { margin: 0 .2em; }
.excerpt { font-family: monospace; max-width: 30em; overflow-wrap: anywhere; }
.muted { color: #667; }
"""


def _when(moment: datetime | str) -> str:
    try:
        when = datetime.fromisoformat(moment) if isinstance(moment, str) else moment
    except ValueError:
        return str(moment)
    return when.strftime("%Y-%m-%d %H:%M:%S")


def _money(amount: Decimal) -> str:
    exponent = amount.as_tuple().exponent
    return format(amount, ".2f" if isinstance(exponent, int) and exponent >= -2 else "f")


def _cells(*values: str) -> str:
    return "".join(f"<td>{value}</td>" for value in values)


def _button(action: str, reference: str, label: str, token: str) -> str:
    return (f'<form method="post" action="/_sandbox/{action}/{quote(reference)}">'
            f'<input type="hidden" name="token" value="{escape(token)}">'
            f'<button type="submit" class="{action}">{label}</button></form>')


def _qr_row(qr: Qr, token: str) -> str:
    reference = escape(qr.reference)
    actions = "".join(_button(action, qr.reference, label, token)
                      for action, label in (("pay", "Pay"), ("expire", "Expire"), ("cancel", "Cancel"))
                      ) if qr.status == PENDING else '<span class="muted">none</span>'
    image = f'<img class="qr" alt="QR code of {reference}" src="data:image/png;base64,{escape(qr.image)}">'
    return (f'<tr id="qr-{reference}" data-reference="{reference}">'
            + _cells(image, reference, f'<span class="amount">{escape(_money(qr.amount))}</span> BOB',
                     f'<span class="description">{escape(qr.description)}</span>',
                     f'<span class="status {escape(qr.status)}">{escape(qr.status)}</span>',
                     escape(_when(qr.created_at)), escape(_when(qr.expires_at)), actions)
            + "</tr>")


def _delivery_row(delivery: Delivery) -> str:
    outcome = str(delivery.status) if delivery.status is not None else "no answer"
    detail = delivery.excerpt if delivery.error is None else delivery.error
    return ('<tr class="delivery">'
            + _cells(escape(delivery.reference), str(delivery.attempt), escape(_when(delivery.at)),
                     escape(delivery.url), f'<span class="http-status">{escape(outcome)}</span>',
                     f'<span class="excerpt">{escape(detail)}</span>')
            + "</tr>")


def _table(table_id: str, heads: Iterable[str], rows: list[str], empty: str) -> str:
    head = "".join(f"<th>{h}</th>" for h in heads)
    body = "".join(rows) or f'<tr><td colspan="99" class="muted">{empty}</td></tr>'
    return f'<table id="{table_id}"><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>'


def page(qrs: list[Qr], deliveries: list[Delivery], *, base_url: str, client_id: str, token: str) -> Response:
    payments = _table("payments", ("QR", "Reference", "Amount", "Description", "Status", "Created", "Expires",
                                   "Actions"), [_qr_row(qr, token) for qr in qrs], "No QR payments yet.")
    log = _table("deliveries", ("Reference", "Attempt", "Time", "URL", "HTTP status", "Response or error"),
                 [_delivery_row(d) for d in deliveries], "No notifications sent yet.")
    html = (
        '<!doctype html><html lang="en"><head><meta charset="utf-8">'
        f'<meta http-equiv="refresh" content="{REFRESH_SECONDS}"><meta name="referrer" content="no-referrer">'
        f"<title>Stand-in bank</title><style>{_STYLE}</style></head><body>"
        "<h1>Stand-in bank</h1>"
        f'<p class="muted">API at <code>{escape(base_url)}</code>, client_id <code>{escape(client_id)}</code>. '
        f"This page refreshes every {REFRESH_SECONDS} seconds.</p>"
        f"<h2>QR payments</h2>{payments}<h2>Notification deliveries</h2>{log}</body></html>"
    )
    return Response(200, html.encode("utf-8"), _HEADERS)


def refused_page() -> Response:
    html = ('<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Stand-in bank</title></head>'
            "<body><h1>401 Unauthorized</h1><p>Open the page address that the sandbox command printed: "
            "it carries the sandbox's token.</p></body></html>")
    return Response(401, html.encode("utf-8"), _HEADERS)
