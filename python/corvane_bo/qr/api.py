"""What the two clients share: configuration, the operation table and the calls they make."""

from __future__ import annotations

import random
from collections.abc import Callable, Mapping
from typing import Any

from .engine import NativeCall, OpInfo, describe
from .flow import Call, Settings
from .models import (Amount, Config, GeneratedQr, GenerateQr, QrKind, QrStatusInfo, WebhookTarget, qr_kind,
                     reference_text)
from .retry import RetryPolicy

__all__ = ["ClientBase"]


class ClientBase:
    def __init__(self, config: Config, max_retries: int, webhook: WebhookTarget | None,
                 retry: RetryPolicy | None, timeout: float | None, max_body: int | None,
                 rng: Callable[[], float], clock: Callable[[], float], call: NativeCall | None) -> None:
        self.config = config
        self.webhook = webhook
        self.retry = retry if retry is not None else RetryPolicy(max_retries=max_retries)
        self.timeout = timeout
        self.max_body = max_body
        self._rng = rng if rng is not None else random.random
        self._clock = clock
        self._call = call
        self._ops: dict[str, OpInfo] | None = None

    def operations(self) -> Mapping[str, OpInfo]:
        if self._ops is None:
            self._ops = describe(self._call)
        return self._ops

    def _info(self, op: str) -> OpInfo:
        return self.operations().get(op) or OpInfo(op, "operation")

    def _settings(self) -> Settings:
        return Settings(self.config, self.retry, self.timeout, self.max_body, self._rng, self._clock,
                        self._call)

    def _generate_call(self, amount: Amount, reference: str | int, description: str, *,
                       establishment_id: int, establishment_name: str, expires_in: int,
                       webhook: WebhookTarget | None, kind: QrKind | str) -> Call[GeneratedQr]:
        qr = GenerateQr(
            amount=amount,
            reference=reference_text(reference),
            description=description,
            establishment_id=establishment_id,
            establishment_name=establishment_name,
            expires_in=expires_in,
            webhook=webhook if webhook is not None else self.webhook,
            kind=qr_kind(kind),
        )
        return Call("qr.generate", qr.to_json(), GeneratedQr.from_json)

    def _verify_call(self, reference: str | int, kind: QrKind | str) -> Call[QrStatusInfo]:
        payload: dict[str, Any] = {"kind": qr_kind(kind).value, "reference": reference_text(reference)}
        return Call("qr.verify", payload, QrStatusInfo.from_json)

    def _cancel_call(self, reference: str | int) -> Call[QrStatusInfo]:
        return Call("qr.cancel", {"reference": reference_text(reference)}, QrStatusInfo.from_json)
