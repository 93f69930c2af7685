"""The README's examples marked `<!-- run: NAME -->` are run here, so they cannot drift from the code."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Any

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
SNIPPETS = dict(re.findall(r"<!-- run: (\w+) -->\n```python\n(.*?)```", README.read_text(), re.S))
NOTIFY = {"X-Notify": "secret", "Content-Type": "application/json"}
PAYMENT = b'{"numeroReferencia":"5521","monto":245.90,"moneda":"BOB","codigoRespuesta":"PAGADO"}'
SHORT = PAYMENT.replace(b"245.90", b"24.59")


def run(name: str) -> dict[str, Any]:
    namespace: dict[str, Any] = {"__name__": f"readme_{name}"}
    exec(compile(SNIPPETS[name], f"README.md ({name})", "exec"), namespace)
    return namespace


def test_the_marked_examples_are_found() -> None:
    assert set(SNIPPETS) == {"engine", "client", "async", "fastapi", "flask"}


def test_async_example_runs_against_the_stand_in_bank(capsys: pytest.CaptureFixture[str]) -> None:
    run("async")
    assert capsys.readouterr().out.strip() == "5521 {'pending'}"


def post_all(post: Any) -> list[int]:
    return [post(PAYMENT, NOTIFY), post(PAYMENT, NOTIFY), post(SHORT, NOTIFY),
            post(PAYMENT, {"X-Notify": "guess"}), post(b"{", NOTIFY)]


def test_fastapi_example_processes_a_payment_once() -> None:
    pytest.importorskip("fastapi")
    from fastapi.testclient import TestClient

    ns = run("fastapi")
    client = TestClient(ns["app"])
    statuses = post_all(lambda body, headers: client.post("/qr/notify", content=body, headers=headers).status_code)
    assert statuses == [200, 200, 200, 401, 400] and ns["paid"] == ["5521"]


def test_flask_example_processes_a_payment_once() -> None:
    pytest.importorskip("flask")
    ns = run("flask")
    client = ns["app"].test_client()
    statuses = post_all(lambda body, headers: client.post("/qr/notify", data=body, headers=headers).status_code)
    assert statuses == [200, 200, 200, 401, 400] and ns["paid"] == ["5521"]


def test_engine_example_reads_the_verify_answer() -> None:
    ns = run("engine")
    assert ns["request"]["method"] == "GET" and '"status":"paid"' in ns["answer"]


def test_client_example_runs_a_payment_against_the_stand_in_bank(capsys: pytest.CaptureFixture[str]) -> None:
    run("client")
    assert capsys.readouterr().out.splitlines()[-1] == "5521 245.9 paid"
