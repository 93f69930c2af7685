"""The stand-in bank as a developer runs it: the command, its state file, notifications and the page."""

from __future__ import annotations

import signal
import subprocess
import sys
import time
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import pytest

from corvane_bo.qr.sandbox import RetryPolicy, SandboxBank, WebhookReceiver
from test_sandbox import API_HEADERS, TOKEN, generate_body, send

FAST = RetryPolicy(attempts=3, backoff=0.05, timeout=2.0)


@pytest.fixture
def bank() -> Iterator[SandboxBank]:
    with SandboxBank(client_id="cid", access_token=TOKEN, retry=FAST) as bank:
        yield bank


@dataclass
class At:
    base_url: str


def start_cli(state: Path) -> tuple[subprocess.Popen[str], dict[str, str]]:
    process = subprocess.Popen([sys.executable, "-m", "corvane_bo.qr", "sandbox", "--port", "0",
                                "--state", str(state)], stdout=subprocess.PIPE, text=True)
    printed: dict[str, str] = {}
    assert process.stdout is not None
    deadline = time.monotonic() + 30
    while "Ctrl-C" not in printed.get("sandbox", "") and time.monotonic() < deadline:
        label, _, text = process.stdout.readline().partition(" ")
        if not label:
            break
        printed[label] = text.strip()
    return process, printed


def stop_cli(process: subprocess.Popen[str]) -> str:
    process.send_signal(signal.SIGINT)
    out, _ = process.communicate(timeout=30)
    assert process.returncode == 0
    return out


def test_command_serves_until_ctrl_c_and_keeps_state(tmp_path: Path) -> None:
    state = tmp_path / "bank.sqlite"
    process, printed = start_cli(state)
    try:
        assert printed["base_url"].startswith("http://127.0.0.1:") and printed["client_id"]
        assert printed["page"] == f"{printed['base_url']}/?token={printed['token']}"
        headers = {**API_HEADERS, "Authorization": f"Bearer {printed['token']}",
                   "access_token": printed["token"], "client_id": printed["client_id"]}
        created = send(At(printed["base_url"]), "POST", "qr/simple/v2/generate", generate_body("77"), headers)
        assert created[0].status == 200
    finally:
        assert "stopped" in stop_cli(process)

    process, again = start_cli(state)
    try:
        assert again["token"] == printed["token"] and again["client_id"] == printed["client_id"]
        response, answer = send(At(again["base_url"]), "GET", "qr/simple/v2/verify/77", headers=headers)
        assert response.status == 200 and answer["data"]["estado"] == "PENDIENTE"
    finally:
        stop_cli(process)


@pytest.mark.parametrize("extra, said", [([], "cannot listen"), (["--state", "/nonexistent/dir/x.db"], "cannot open")])
def test_command_reports_a_busy_port_or_bad_state_in_one_line(bank: SandboxBank, extra: list[str], said: str) -> None:
    port = bank.base_url.rsplit(":", 1)[1]
    result = subprocess.run([sys.executable, "-m", "corvane_bo.qr", "sandbox", "--port", port, *extra],
                            capture_output=True, text=True, timeout=30)
    assert result.returncode == 1 and said in result.stdout and not result.stderr
    assert len(result.stdout.splitlines()) == 1


def pay(bank: SandboxBank, reference: str, token: str = TOKEN) -> Any:
    return send(bank, "POST", f"_sandbox/pay/{reference}", headers={"Authorization": f"Bearer {token}"})


def test_notifications_are_retried_with_backoff_and_recorded(bank: SandboxBank) -> None:
    answers = iter([500, 503])
    with WebhookReceiver(lambda headers, body: next(answers, 200)) as receiver:
        send(bank, "POST", "qr/simple/v2/generate", generate_body("5", url=receiver.url))
        started = time.monotonic()
        assert pay(bank, "5")[0].status == 200
        arrived = receiver.wait(3)
        assert time.monotonic() - started >= FAST.backoff * 3  # waited 0.05 s, then 0.1 s
    assert [r.status for r in arrived] == [500, 503, 200]
    assert all(r.header("X-Hook") == "s3cret" and b'"numeroReferencia":"5"' in r.body for r in arrived)
    deadline = time.monotonic() + 5
    while len(bank.deliveries("5")) < 3 and time.monotonic() < deadline:
        time.sleep(0.01)
    assert [(d.attempt, d.status) for d in bank.deliveries("5")] == [(3, 200), (2, 503), (1, 500)]
    assert bank.status_of("5") == "PAGADO"


def test_attempts_are_bounded_and_a_slow_endpoint_blocks_no_request(bank: SandboxBank) -> None:
    def slow(headers: Any, body: bytes) -> int:
        time.sleep(0.5)
        return 500

    with WebhookReceiver(slow) as receiver:
        send(bank, "POST", "qr/simple/v2/generate", generate_body("6", url=receiver.url))
        started = time.monotonic()
        assert pay(bank, "6")[0].status == 200
        assert send(bank, "GET", "qr/simple/v2/verify/6")[1]["data"]["estado"] == "PAGADO"
        assert time.monotonic() - started < 0.4
        receiver.wait(3, timeout=10)
        time.sleep(0.5)
        assert len(receiver.received()) == FAST.attempts
    assert [d.status for d in bank.deliveries("6")] == [500, 500, 500]


def test_unreachable_endpoint_is_recorded_as_an_error(bank: SandboxBank) -> None:
    send(bank, "POST", "qr/simple/v2/generate", generate_body("8", url="http://127.0.0.1:1/nobody"))
    delivery = bank.pay("8")
    assert delivery is not None and delivery.status is None and delivery.error and not delivery.delivered
    assert pay(bank, "8")[0].status == 409 and pay(bank, "9")[0].status == 404


def test_notifications_owed_at_shutdown_are_sent_after_a_restart(tmp_path: Path) -> None:
    state, answers = str(tmp_path / "bank.sqlite"), [500]
    with WebhookReceiver(lambda headers, body: answers.pop() if answers else 200) as receiver:
        with SandboxBank(state=state, retry=RetryPolicy(attempts=3, backoff=60)) as first:
            api = {**API_HEADERS, "Authorization": f"Bearer {first.access_token}",
                   "access_token": first.access_token, "client_id": first.client_id}
            send(first, "POST", "qr/simple/v2/generate", generate_body("9", url=receiver.url), api)
            delivery = first.pay("9")
            assert delivery is not None and delivery.status == 500  # the next attempt is a minute away
        with SandboxBank(state=state, retry=FAST) as second:
            assert [r.status for r in receiver.wait(2)] == [500, 200]
            assert second.status_of("9") == "PAGADO"
