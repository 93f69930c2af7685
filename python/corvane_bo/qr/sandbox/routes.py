"""The stand-in bank's routes, each named, with its method and the parts of its path."""

from __future__ import annotations

import re
from dataclasses import dataclass

__all__ = ["Match", "Route", "ROUTES", "match"]


@dataclass(frozen=True)
class Route:
    name: str
    method: str
    pattern: re.Pattern[str]
    api: bool  # behind the API's headers and the queued failures of ``fail_next``


def _route(name: str, method: str, path: str) -> Route:
    return Route(name, method, re.compile(path), path.startswith("/qr/"))


_KIND, _REFERENCE = r"(?P<kind>simple|mld)", r"(?P<reference>[0-9]{1,64})"

ROUTES = (
    _route("generate", "POST", rf"/qr/{_KIND}/v2/generate"),
    _route("verify", "GET", rf"/qr/{_KIND}/v2/verify/{_REFERENCE}"),
    _route("cancel", "POST", rf"/qr/simple/v2/cancel/{_REFERENCE}"),
    _route("page", "GET", r"/"),
    _route("pay", "POST", rf"/_sandbox/pay/{_REFERENCE}"),
    _route("expire", "POST", rf"/_sandbox/expire/{_REFERENCE}"),
    _route("withdraw", "POST", rf"/_sandbox/cancel/{_REFERENCE}"),
)


@dataclass(frozen=True)
class Match:
    """The route for a path: ``route`` is None when the path exists only for other methods."""

    route: Route | None
    params: dict[str, str]
    api: bool
    allowed: tuple[str, ...]


def match(method: str, path: str) -> Match | None:
    """The route serving ``method`` on ``path``; None for a path no route knows."""
    found = [(route, m) for route in ROUTES if (m := route.pattern.fullmatch(path))]
    if not found:
        return None
    api = any(route.api for route, _ in found)
    allowed = tuple(sorted({route.method for route, _ in found}))
    for route, m in found:
        if route.method == method:
            return Match(route, {k: v for k, v in m.groupdict().items() if v is not None}, api, allowed)
    return Match(None, {}, api, allowed)
