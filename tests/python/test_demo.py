"""The command line: the end-to-end demo and the raw `call` passthrough."""

from __future__ import annotations

import importlib.metadata
import io
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from corvane_bo.qr.demo import run_demo
from test_client_integration import _qr_operations_built

needs_qr = pytest.mark.skipif(not _qr_operations_built(), reason="the engine has no QR operations yet")


def run_cli(*args: str, stdin: str = "") -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "corvane_bo.qr", *args], input=stdin,
                          capture_output=True, text=True, timeout=120)


@needs_qr
def test_demo_runs_end_to_end(tmp_path: Path) -> None:
    out = tmp_path / "qr.png"
    result = run_cli("demo", "--amount", "0.30", "--out", str(out))
    assert result.returncode == 0, result.stdout + result.stderr
    assert out.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    steps = {line.split()[0]: line for line in result.stdout.splitlines() if line[:1].isalpha()}
    assert {"generate", "image", "pay", "webhook", "verify"} <= steps.keys()
    assert " paid " in steps["verify"] and "0.3 BOB" in result.stdout


def test_call_prints_the_engine_answer_and_sets_the_exit_status() -> None:
    result = run_cli("call", "version")
    assert result.returncode == 0 and json.loads(result.stdout) == {"ok": True, "value": {"core": "0.1.0", "protocol": 2}}
    result = run_cli("call", "qr.nope", stdin="{}")
    assert result.returncode == 1
    assert result.stdout.strip() == '{"error":{"kind":"ffi","message":"unknown operation `qr.nope`","retryable":false},"ok":false}'


def test_the_installed_command_is_the_same_entry_as_the_module() -> None:
    entries = importlib.metadata.entry_points(group="console_scripts", name="corvane-bo-qr")
    if not entries:
        pytest.skip("the package is imported from the checkout, not installed")
    assert [entry.value for entry in entries] == ["corvane_bo.qr.__main__:main"]
    script = shutil.which("corvane-bo-qr", path=str(Path(sys.executable).parent)) or shutil.which("corvane-bo-qr")
    assert script is not None
    result = subprocess.run([script, "call", "version"], capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout) == (0, run_cli("call", "version").stdout)
    # Each form names itself in its usage.
    usage = subprocess.run([script, "--help"], capture_output=True, text=True, timeout=120).stdout
    assert usage.startswith("usage: corvane-bo-qr ")
    assert run_cli("--help").stdout.startswith("usage: python -m corvane_bo.qr ")
def test_demo_into_a_missing_folder_says_so_in_one_line(tmp_path: Path) -> None:
    result = run_cli("demo", "--out", str(tmp_path / "no" / "such" / "qr.png"))
    assert result.returncode == 1 and not result.stderr
    assert result.stdout.splitlines() == [f"error    cannot write the QR image to {tmp_path}/no/such/qr.png: "
                                          "its folder does not exist"]


@needs_qr
def test_demo_removes_the_temporary_folder_it_made() -> None:
    stream = io.StringIO()
    assert run_demo("1", None, stream) == 0, stream.getvalue()
    (line,) = [line for line in stream.getvalue().splitlines() if line.startswith("image")]
    written = Path(line.split(" written to ")[1].split(" (removed")[0])
    assert written.name.endswith(".png") and not written.parent.exists()
