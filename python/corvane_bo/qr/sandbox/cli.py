"""``python -m corvane_bo.qr sandbox``: the stand-in bank as a server to point an application at."""

from __future__ import annotations

import signal
import sqlite3
import sys
import threading
from types import FrameType
from typing import TextIO

from .bank import SandboxBank

__all__ = ["serve"]


def serve(host: str = "127.0.0.1", port: int = 8700, state: str | None = None,
          stream: TextIO = sys.stdout, stop: threading.Event | None = None) -> int:
    """Run the stand-in bank in the foreground until Ctrl-C, SIGTERM or ``stop``."""
    stopped = stop or threading.Event()

    def on_signal(signum: int, frame: FrameType | None) -> None:
        stopped.set()

    try:
        bank = SandboxBank(host, port, state=state)
    except sqlite3.Error as exc:
        print(f"error     cannot open the state file {state}: {exc}", file=stream, flush=True)
        return 1
    except OSError as exc:
        print(f"error     cannot listen on {host}:{port}: {exc.strerror or exc}", file=stream, flush=True)
        return 1
    previous = None
    if threading.current_thread() is threading.main_thread():
        previous = signal.signal(signal.SIGTERM, on_signal)
    with bank:
        lines = [("sandbox", f"stand-in bank listening on {bank.base_url}"
                             + (f", state kept in {state}" if state else ", state kept in memory")),
                 ("base_url", bank.base_url), ("client_id", bank.client_id),
                 ("token", bank.access_token), ("page", bank.page_url),
                 ("config", f'Config(client_id="{bank.client_id}", base_url="{bank.base_url}"), '
                            f'AccessToken("{bank.access_token}")'),
                 ("sandbox", "press Ctrl-C to stop")]
        for label, text in lines:
            print(f"{label:<10}{text}", file=stream, flush=True)
        try:
            while not stopped.wait(0.5):
                pass
        except KeyboardInterrupt:
            pass
    if previous is not None:
        signal.signal(signal.SIGTERM, previous)
    print("sandbox   stopped", file=stream, flush=True)
    return 0
