"""Notifications in Starlette and FastAPI: the raw body, authenticated, never parsed as JSON first.

    app = FastAPI()
    notification = notification_dependency("X-Notify", SECRET)

    @app.post("/qr/notify")
    async def notify(note: PaymentNotification = Depends(notification)) -> dict[str, str]:
        ...  # process once per reference, check it against the order
        return {"status": "ok"}

A failed authentication answers 401 and an unreadable body 400, before the
endpoint runs.  See :mod:`corvane_bo.qr.webhook` for what a notification
does not prove.
"""

from __future__ import annotations

from collections.abc import Awaitable, Callable

from starlette.exceptions import HTTPException
from starlette.requests import Request

from .errors import DecodeError, WebhookAuthError
from .models import PaymentNotification
from .webhook import parse_webhook

__all__ = ["notification_dependency", "read_notification"]


async def read_notification(request: Request, key: str, value: str) -> PaymentNotification:
    """The notification posted in ``request``; HTTPException 401 or 400 when it is not one."""
    body = await request.body()
    try:
        return parse_webhook(request.headers.items(), body, key, value)
    except WebhookAuthError:
        raise HTTPException(401, "unauthorized") from None
    except DecodeError:
        raise HTTPException(400, "unreadable notification") from None


def notification_dependency(key: str, value: str) -> Callable[[Request], Awaitable[PaymentNotification]]:
    """A FastAPI dependency giving the endpoint the authenticated notification."""

    async def notification(request: Request) -> PaymentNotification:
        return await read_notification(request, key, value)

    return notification
