"""Pooled connections, concurrency and token renewal, over loopback.

The connection count is taken at the server (accepted sockets), the stand-in bank's or the scripted
loopback server's, which can also refuse tokens on cue.
"""

from __future__ import annotations

import asyncio
import threading
import time
from typing import Any

import httpx
import pytest

from corvane_bo.qr import (AccessToken, AsyncClient, AuthenticationError, Client, Config, HttpxTransport,
                          WebhookTarget)
from corvane_bo.qr.pool import _DeadlineBackend
from loopback import LoopbackServer, Reply, Request, answer, bank_ok

HOOK = WebhookTarget("https://shop.example/hook", "X-Hook", "s3cret")


def config(server: LoopbackServer) -> Config:
    return Config("cid", base_url=server.url)


def test_sequential_calls_share_one_connection() -> None:
    with LoopbackServer() as server, Client(config(server), AccessToken("tok")) as client:
        for _ in range(100):
            assert client.verify("1").reference == "1"
        assert server.accepted == 1 and len(server.requests) == 100


def test_sequential_calls_to_the_stand_in_bank_share_one_connection() -> None:
    from corvane_bo.qr.sandbox import SandboxBank

    with SandboxBank() as bank, Client(bank.config(), bank.token(), webhook=HOOK) as client:
        reference = client.generate("5", "77", "d", establishment_id=1, establishment_name="n",
                                    expires_in=600).reference
        for _ in range(100):
            assert client.verify(reference).reference == "77"
        assert bank.connections_accepted == 1


def test_the_pool_this_package_makes_holds_sockets_to_the_deadline() -> None:
    # Reached through httpx's internals (see pool._hold_to_deadlines): fails here, not silently, if they move.
    with HttpxTransport() as transport:
        pool = transport.client._transport._pool  # type: ignore[attr-defined]
        assert isinstance(pool._network_backend, _DeadlineBackend)


def test_an_httpx_client_of_your_own_is_used_and_left_open() -> None:
    with LoopbackServer() as server, httpx.Client() as own:
        with Client(config(server), AccessToken("tok"), own) as client:
            client.verify("1")
            client.verify("1")
        assert not own.is_closed and server.accepted == 1
        assert own.get(server.url + "/qr/simple/v2/verify/1").status_code == 200


def test_concurrent_async_calls_through_one_client_all_succeed() -> None:
    async def main(server: LoopbackServer) -> list[Any]:
        async with AsyncClient(config(server), AccessToken("tok")) as client:
            return await asyncio.gather(*(client.verify("1") for _ in range(200)))

    with LoopbackServer() as server:
        results = asyncio.run(main(server))
        assert len(results) == 200 and all(r.reference == "1" for r in results)
        assert len(server.requests) == 200


class Provider:
    """Hands out numbered tokens, each valid for ``lifetime`` seconds, slowly (as a token endpoint is)."""

    def __init__(self, lifetime: float) -> None:
        self.lifetime = lifetime
        self.calls = 0

    def __call__(self) -> AccessToken:
        self.calls += 1
        time.sleep(0.05)
        return AccessToken(f"tok{self.calls}", expires_at=int(time.time() + self.lifetime))


def bearer(request: Request) -> str:
    return next(v for k, v in request.headers.items() if k.lower() == "authorization")


def test_concurrent_calls_with_an_expiring_token_ask_the_provider_once() -> None:
    provider = Provider(lifetime=3600)
    sync_provider_calls: list[int] = []

    async def async_provider() -> AccessToken:
        await asyncio.sleep(0.05)
        return provider()

    async def main(server: LoopbackServer) -> None:
        async with AsyncClient(config(server), async_provider) as client:
            await asyncio.gather(*(client.verify("1") for _ in range(50)))

    with LoopbackServer() as server:
        asyncio.run(main(server))
        assert provider.calls == 1 and {bearer(r) for r in server.requests} == {"Bearer tok1"}

    sync = Provider(lifetime=3600)
    with LoopbackServer() as server, Client(config(server), sync) as client:
        threads = [threading.Thread(target=client.verify, args=("1",)) for _ in range(50)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(30)
        sync_provider_calls.append(sync.calls)
        assert len(server.requests) == 50
    assert sync_provider_calls == [1]


def test_a_token_near_its_expiry_is_renewed_before_it_is_sent() -> None:
    provider = Provider(lifetime=10)  # within the 30 s margin from the start
    with LoopbackServer() as server, Client(config(server), provider) as client:
        client.verify("1")
        client.verify("1")
        assert provider.calls == 2 and [bearer(r) for r in server.requests] == ["Bearer tok1", "Bearer tok2"]


def refuse_first_token(request: Request) -> Reply:
    if bearer(request) == "Bearer tok1":
        return answer(401, {"error": "invalid_token"})
    return bank_ok(request)


@pytest.mark.parametrize("op", ["verify", "generate", "cancel"])
def test_a_refused_token_is_renewed_and_the_request_sent_once_more(op: str) -> None:
    provider = Provider(lifetime=3600)
    with LoopbackServer(refuse_first_token) as server, Client(config(server), provider, webhook=HOOK) as client:
        if op == "generate":
            client.generate("1", "1", "d", establishment_id=1, establishment_name="n", expires_in=60)
        else:
            getattr(client, op)("1")
        assert provider.calls == 2 and len(server.requests) == 2


def test_a_token_refused_again_or_a_fixed_one_is_not_sent_a_third_time() -> None:
    with LoopbackServer(lambda r: answer(401, {"error": "invalid_token"})) as server:
        provider = Provider(lifetime=3600)
        with Client(config(server), provider) as client, pytest.raises(AuthenticationError):
            client.verify("1")
        assert provider.calls == 2 and len(server.requests) == 2
        with Client(config(server), AccessToken("tok1")) as client, pytest.raises(AuthenticationError):
            client.verify("1")
        assert len(server.requests) == 3


def test_async_clients_renew_a_refused_token_too() -> None:
    provider = Provider(lifetime=3600)

    async def main(server: LoopbackServer) -> None:
        async with AsyncClient(config(server), provider) as client:
            await client.cancel("1")

    with LoopbackServer(refuse_first_token) as server:
        asyncio.run(main(server))
        assert provider.calls == 2 and len(server.requests) == 2
