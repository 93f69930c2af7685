"""The stand-in bank's state in SQLite: one file that survives a restart, or memory.

Every change is one transaction. One connection serves every thread,
behind the store's lock.
"""

from __future__ import annotations

import json
import sqlite3
import threading
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from datetime import datetime
from decimal import Decimal
from typing import Any

from .records import Delivery, Qr

__all__ = ["Notification", "Store"]

_SCHEMA = """
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS qr (
    reference TEXT PRIMARY KEY, kind TEXT NOT NULL, amount TEXT NOT NULL, description TEXT NOT NULL,
    created_at TEXT NOT NULL, expires_at TEXT NOT NULL, webhook TEXT NOT NULL, image TEXT NOT NULL,
    status TEXT NOT NULL, payer TEXT, bank TEXT, seq INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS notification (
    id INTEGER PRIMARY KEY, reference TEXT NOT NULL, target TEXT NOT NULL, body TEXT NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0, done INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS attempt (
    notification INTEGER NOT NULL REFERENCES notification(id), number INTEGER NOT NULL,
    at TEXT NOT NULL, status INTEGER, error TEXT, excerpt TEXT NOT NULL,
    PRIMARY KEY (notification, number)
);
"""


@dataclass(frozen=True)
class Notification:
    """A notification to deliver: where, with which header, and how many attempts it has had."""

    id: int
    reference: str
    target: dict[str, str]
    body: str
    attempts: int


class Store:
    def __init__(self, path: str | None = None) -> None:
        self._db = sqlite3.connect(path or ":memory:", check_same_thread=False, isolation_level=None)
        self._lock = threading.RLock()
        with self._lock:
            self._db.execute("PRAGMA journal_mode=WAL" if path else "PRAGMA journal_mode=MEMORY")
            self._db.executescript(_SCHEMA)

    def close(self) -> None:
        with self._lock:
            self._db.close()

    @contextmanager
    def _transaction(self) -> Iterator[sqlite3.Connection]:
        with self._lock:
            self._db.execute("BEGIN IMMEDIATE")
            try:
                yield self._db
            except BaseException:
                self._db.execute("ROLLBACK")
                raise
            self._db.execute("COMMIT")

    def _write(self, sql: str, args: tuple[Any, ...]) -> sqlite3.Cursor:
        with self._transaction() as db:
            return db.execute(sql, args)

    def meta(self, key: str, default: str) -> str:
        """The stored value of ``key``, storing ``default`` first when there is none."""
        self._write("INSERT OR IGNORE INTO meta VALUES (?, ?)", (key, default))
        with self._lock:
            row = self._db.execute("SELECT value FROM meta WHERE key = ?", (key,)).fetchone()
        return str(row[0])

    # -- QR payments --

    def add(self, qr: Qr) -> bool:
        """Store a new QR; False when its reference is taken."""
        try:
            self._write("INSERT INTO qr VALUES (?,?,?,?,?,?,?,?,?,?,?, (SELECT COALESCE(MAX(seq), 0) + 1 FROM qr))",
                        _qr_row(qr))
        except sqlite3.IntegrityError:
            return False
        return True

    def save(self, qr: Qr) -> None:
        self._write("UPDATE qr SET status = ?, payer = ?, bank = ?, expires_at = ? WHERE reference = ?",
                    (qr.status, _json(qr.payer), _json(qr.bank), qr.expires_at.isoformat(), qr.reference))

    def get(self, reference: str) -> Qr | None:
        with self._lock:
            row = self._db.execute(f"SELECT {_QR_COLUMNS} FROM qr WHERE reference = ?", (reference,)).fetchone()
        return None if row is None else _qr(row)

    def latest(self, limit: int) -> list[Qr]:
        with self._lock:
            rows = self._db.execute(f"SELECT {_QR_COLUMNS} FROM qr ORDER BY seq DESC LIMIT ?", (limit,)).fetchall()
        return [_qr(row) for row in rows]

    # -- notifications --

    def notify(self, reference: str, target: dict[str, str], body: str) -> int:
        cursor = self._write("INSERT INTO notification (reference, target, body) VALUES (?, ?, ?)",
                             (reference, json.dumps(target), body))
        return int(cursor.lastrowid or 0)

    def attempted(self, notification: int, delivery: Delivery, done: bool) -> None:
        """Record an attempt and, in the same transaction, whether the notification needs another."""
        with self._transaction() as db:
            db.execute("INSERT INTO attempt VALUES (?, ?, ?, ?, ?, ?)",
                       (notification, delivery.attempt, delivery.at, delivery.status,
                        delivery.error, delivery.excerpt))
            db.execute("UPDATE notification SET attempts = ?, done = ? WHERE id = ?",
                       (delivery.attempt, int(done), notification))

    def pending(self) -> list[Notification]:
        """Notifications that still want an attempt, oldest first."""
        with self._lock:
            rows = self._db.execute("SELECT id, reference, target, body, attempts FROM notification "
                                    "WHERE done = 0 ORDER BY id").fetchall()
        return [Notification(i, r, json.loads(t), b, a) for i, r, t, b, a in rows]

    def deliveries(self, reference: str | None = None, limit: int = 1000) -> list[Delivery]:
        """Delivery attempts, newest first."""
        sql = ("SELECT n.target, n.body, a.status, a.error, n.reference, a.number, a.at, a.excerpt "
               "FROM attempt a JOIN notification n ON n.id = a.notification "
               + ("WHERE n.reference = ? " if reference is not None else "")
               + "ORDER BY a.notification DESC, a.number DESC LIMIT ?")
        args: tuple[Any, ...] = (reference, limit) if reference is not None else (limit,)
        with self._lock:
            rows = self._db.execute(sql, args).fetchall()
        return [Delivery(json.loads(t)["url"], b, s, e, r, n, at, x) for t, b, s, e, r, n, at, x in rows]


_QR_COLUMNS = ("reference, kind, amount, description, created_at, expires_at, webhook, image, "
               "status, payer, bank")


def _json(value: Any) -> str | None:
    return None if value is None else json.dumps(value)


def _qr_row(qr: Qr) -> tuple[Any, ...]:
    return (qr.reference, qr.kind, str(qr.amount), qr.description, qr.created_at.isoformat(),
            qr.expires_at.isoformat(), json.dumps(qr.webhook), qr.image, qr.status,
            _json(qr.payer), _json(qr.bank))


def _qr(row: tuple[Any, ...]) -> Qr:
    reference, kind, amount, description, created, expires, webhook, image, status, payer, bank = row
    return Qr(reference, kind, Decimal(amount), description, datetime.fromisoformat(created),
              datetime.fromisoformat(expires), json.loads(webhook), image, status,
              None if payer is None else json.loads(payer), None if bank is None else json.loads(bank))
