"""The timed QR operations as a speed-minded Python developer would write them: msgspec Structs
read the payloads, orjson writes the answers.

`call(op, payload) -> str` answers the same texts as `corvane_bo.qr._native.call` for the
operations in `OPERATIONS` (those bench/compare.py times). Amounts stay exact: the decoders hand
every JSON fraction to `Decimal` as its text (float_hook), so no binary float is ever made. The
rules, tables and messages are the baseline's, imported from bench/baseline.py so that both
apply the same checks; everything that reads or writes JSON is this module's own.

Known differences from the engine, all on malformed input only: decoder failures carry msgspec's
messages (without the engine's " at line L column C"; a missing field is reworded as the engine
words it), a key given twice keeps the last value, the positional (array) form of records is
refused, and amounts are exact `Decimal`s of any size rather than the engine's 96-bit numbers.
The establishment-name rule is the baseline's approximation (see its docstring).
"""

from __future__ import annotations

import hmac
from decimal import Decimal, InvalidOperation
from typing import Annotated, Any, Callable, Generic, Literal, TypeVar

import msgspec
import orjson
from msgspec import UNSET, Meta, Raw, Struct, UnsetType

from baseline import (
    CORE_VERSION, CURRENCY, ENVIRONMENTS, I64_MAX, I64_MIN, JSON_MEDIA_TYPE, MAX_REFERENCE,
    MESSAGE_KEYS, PROTOCOL_VERSION, QR_KINDS, U64_MAX, WHITE_SPACE, QrError, ShapeError,
    amount_text, api_error, is_retryable, map_status, numeric_reference, positive, preview,
    require_text, validate_amount, validate_webhook_target, validation,
)

I64 = Annotated[int, Meta(ge=I64_MIN, le=I64_MAX)]
U64 = Annotated[int, Meta(ge=0)]  # msgspec bounds stop at int64; read_generate() checks the top
U16 = Annotated[int, Meta(ge=0, le=65535)]
# A JSON number (an int, or a Decimal through float_hook) or a numeric text. msgspec has no
# type for "number or str", so the field is untyped and read_amount() checks it.
JsonAmount = Any
# Absent and null differ only where the engine refuses a field given under both of its names.
OptionalText = str | None | UnsetType

_T = TypeVar("_T")


# --- payload records ----------------------------------------------------------


class Record(Struct, gc=False):  # no record holds a cycle, so none needs tracking
    pass


class Config(Record):
    client_id: str
    environment: Literal["development", "sandbox", "production"] = "sandbox"
    base_url: str | None = None


class AccessToken(Record):
    access_token: str
    token_type: str
    expires_at: I64


class WebhookTarget(Record):
    url: str
    key: str
    value: str


class GenerateQr(Record):
    description: str
    amount: JsonAmount
    reference: str
    expires_in: U64
    establishment_id: U64
    establishment_name: str
    kind: Literal["simple", "mld"] = "simple"
    webhook: WebhookTarget | None = None


class VerifyQr(Record):
    reference: str
    kind: Literal["simple", "mld"] = "simple"


class HttpResponse(Record):
    status: U16
    body: str


class GenerateBuild(Record):
    config: Config
    input: GenerateQr
    token: AccessToken | None = None


class GenerateParse(Record):
    input: GenerateQr
    response: HttpResponse


class VerifyParse(Record):
    input: VerifyQr
    response: HttpResponse


class WebhookCall(Record):
    headers: dict[str, str]
    body: str
    key: str
    value: str


# --- bank records -------------------------------------------------------------

_NULL = Raw(b"null")


class FieldError(Record):
    message: str
    code: str | None = None
    field: str | None = None


class EnvelopeHead(Record):
    success: bool | None = None
    message: str | None = None
    errors: list[FieldError] = []


class Envelope(EnvelopeHead, Generic[_T]):
    data: _T | None = None  # read in the same pass; see open_envelope()


class RawEnvelope(EnvelopeHead):
    data: Raw = _NULL  # kept unread until the envelope says it is to be read


class WirePayer(Record):
    nombreCliente: str | None = None
    numeroCuenta: str | None = None
    ciNitCliente: OptionalText = UNSET
    ciCliente: OptionalText = UNSET


class WireBank(Record):
    codigoBanco: str | None = None
    nombreBanco: str | None = None
    numeroOrdenAch: str | None = None
    fechaTransaccion: str | None = None


class Generated(Record):
    numeroReferencia: str
    estado: str
    monto: JsonAmount
    qr: str
    fechaExpiracion: str | None = None
    moneda: str | None = None
    numeroReferenciaOriginante: str | None = None


class Status(Record):
    numeroReferencia: str
    estado: str
    mensaje: str | None = None
    importe: JsonAmount = None
    monto: JsonAmount = None
    moneda: str | None = None
    numeroReferenciaOriginante: str | None = None
    clienteOrigen: WirePayer | None = None
    bancoOrigen: WireBank | None = None


class Notification(Record):
    numeroReferencia: str
    monto: JsonAmount = None
    importe: JsonAmount = None
    moneda: str | None = None
    codigoRespuesta: str | None = None
    estado: str | None = None
    detalleRespuesta: OptionalText = UNSET
    mensaje: OptionalText = UNSET
    fechaHoraTransaccion: str | None = None
    clienteOrigen: WirePayer | None = None
    bancoOrigen: WireBank | None = None


def _decoder(record: type[_T]) -> msgspec.json.Decoder[_T]:
    return msgspec.json.Decoder(record, float_hook=Decimal)


_read_generate_build = _decoder(GenerateBuild)
_read_generate_parse = _decoder(GenerateParse)
_read_verify_parse = _decoder(VerifyParse)
_read_webhook_call = _decoder(WebhookCall)
_read_raw_envelope = _decoder(RawEnvelope)
# Each result record: its whole envelope read in one pass, and the record alone.
_GENERATED = (_decoder(Envelope[Generated]), _decoder(Generated))
_STATUS = (_decoder(Envelope[Status]), _decoder(Status))
_read_notification = _decoder(Notification)
_read_any = msgspec.json.Decoder(float_hook=Decimal)
_DECODE_ERRORS = (msgspec.DecodeError, ShapeError, RecursionError)


def reason(exc: Exception) -> str:
    """The failure in the engine's words where they differ only in form."""
    text = str(exc)
    text, _, _ = text.partition(" - at `$")
    if text.startswith("Object missing required field "):
        return "missing field " + text[len("Object missing required field "):]
    return text


def decode(read: msgspec.json.Decoder[_T], payload: str | Raw) -> _T:
    try:
        return read.decode(payload)
    except _DECODE_ERRORS as exc:
        raise QrError("ffi", f"invalid payload: {reason(exc)}") from None


# --- values -------------------------------------------------------------------


def non_empty(text: str | None | UnsetType) -> str | None:
    if text is None or text is UNSET:
        return None
    return text.strip(WHITE_SPACE) or None  # type: ignore[union-attr]


def read_amount(value: object) -> Decimal:
    kind = type(value)
    if kind is Decimal:
        return value  # type: ignore[return-value]
    if kind is int:  # not bool: type() is exact
        return Decimal(value)  # type: ignore[arg-type]
    if kind is not str:
        raise ShapeError("expected a number, got " + compact(value))
    text = value.strip(WHITE_SPACE)  # type: ignore[attr-defined]
    # Decimal() would also skip U+001C..U+001F at either end, which are not white space.
    if text.isascii() and text[:1] not in "\x1c\x1d\x1e\x1f" and text[-1:] not in "\x1c\x1d\x1e\x1f":
        try:
            amount = Decimal(text)
        except InvalidOperation:
            pass
        else:
            if amount.is_finite():
                return amount
    raise ShapeError(f"invalid amount `{text}`: Failed to parse")


def optional_amount(value: object) -> Decimal | None:
    return None if value is None else read_amount(value)


def read_generate(qr: GenerateQr) -> Decimal:
    """What the record types cannot say of a generate input; answers its amount."""
    try:
        for count in (qr.expires_in, qr.establishment_id):
            if count > U64_MAX:
                raise ShapeError(f"invalid value: integer `{count}`, expected u64")
        return read_amount(qr.amount)
    except ShapeError as exc:
        raise QrError("ffi", f"invalid payload: {exc}") from None


_UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")


def compact(value: object) -> str:
    return orjson.dumps(value, default=str, option=orjson.OPT_SORT_KEYS).decode()


# --- answers ------------------------------------------------------------------
# Answers are dicts written in key order, so orjson needs no sorting pass; compare.py checks
# every answer against the engine's text before it times anything.


def ok(value: object) -> str:
    return orjson.dumps({"ok": True, "value": value}).decode()


def failed(exc: QrError) -> str:
    return orjson.dumps({"error": exc.answer_record(), "ok": False}, option=orjson.OPT_SORT_KEYS).decode()


# --- generate build -----------------------------------------------------------

def check_generate(qr: GenerateQr, amount: Decimal) -> tuple[str, dict[str, str]]:
    """The generate rules in the engine's order; answers the amount's text and the webhook."""
    require_text("description", qr.description)
    name = qr.establishment_name
    require_text("establishment_name", name)
    if not name.replace(" ", "").isalnum():
        raise validation("establishment_name", "only letters, digits and spaces are allowed")
    reference = qr.reference
    numeric_reference("reference", reference)
    significant = reference.lstrip("0")
    if len(significant) > 10 or int(significant or "0") > MAX_REFERENCE:
        raise validation(
            "reference", f"must be at most {MAX_REFERENCE} (Corvane stores it as a 32-bit integer)"
        )
    amount_str = validate_amount("amount", amount)
    positive("expires_in", qr.expires_in)
    positive("establishment_id", qr.establishment_id)
    if qr.webhook is None:
        raise validation("webhook", "is required by Corvane")
    webhook = {"key": qr.webhook.key, "url": qr.webhook.url, "value": qr.webhook.value}
    validate_webhook_target(webhook)
    return amount_str, webhook


def api_headers(config: Config, token: AccessToken | None) -> dict[str, str]:
    if token is None:
        raise validation("token", "an access token is required for this operation")
    access_token = token.access_token
    return {
        "Accept": JSON_MEDIA_TYPE,
        "Authorization": "Bearer " + access_token,
        "Content-Type": JSON_MEDIA_TYPE,
        "access_token": access_token,
        "client_id": config.client_id,
    }


def url(config: Config, path: str) -> str:
    base = ENVIRONMENTS[config.environment] if config.base_url is None else config.base_url
    return base.rstrip("/") + "/" + path


def generate_build(payload: str) -> str:
    call = decode(_read_generate_build, payload)
    qr = call.input
    amount, webhook = check_generate(qr, read_generate(qr))
    # orjson cannot write a Decimal as a number, so the body is written in two halves around
    # the amount's exact digits.
    head = orjson.dumps({
        "glosa": qr.description.strip(WHITE_SPACE),
        "idEstablecimiento": qr.establishment_id,
        "moneda": CURRENCY,
    })
    tail = orjson.dumps({
        "nombreEstablecimiento": qr.establishment_name.strip(WHITE_SPACE),
        "numeroReferencia": qr.reference,
        "vigencia": qr.expires_in,
        "webhook": webhook,
    })
    body = b"".join((head[:-1], b',"monto":', amount.encode(), b",", tail[1:])).decode()
    headers = api_headers(call.config, call.token)
    return ok({
        "body": body,
        "headers": headers,
        "method": "POST",
        "url": url(call.config, QR_KINDS[qr.kind] + "/generate"),
    })


# --- parse stages -------------------------------------------------------------


def message_from_body(body: str) -> str:
    try:
        value = _read_any.decode(body)
    except (msgspec.DecodeError, RecursionError):
        value = None
    if isinstance(value, dict):
        for key in MESSAGE_KEYS:
            text = value.get(key)
            if isinstance(text, str) and text.strip(WHITE_SPACE):
                return text.strip(WHITE_SPACE)
    return preview(body)


def field_errors(errors: list[FieldError]) -> list[dict[str, str | None]]:
    return [{"code": e.code, "field": e.field, "message": e.message} for e in errors]


def open_envelope(
    response: HttpResponse, readers: tuple[msgspec.json.Decoder[Envelope[_T]], msgspec.json.Decoder[_T]]
) -> _T:
    """Judges a bank response; answers its `data` read as a result record."""
    status, body = response.status, response.body
    if status in (401, 403):
        raise QrError("authentication", message_from_body(body), status=status)
    ok_status = 200 <= status <= 299
    read_whole, read_data = readers
    envelope: Envelope[_T] | RawEnvelope
    try:
        envelope = read_whole.decode(body)
    except _DECODE_ERRORS:
        # Which part failed decides the answer, and the data may not matter: read again,
        # leaving the data unread.
        try:
            envelope = _read_raw_envelope.decode(body)
        except _DECODE_ERRORS as exc:
            if ok_status:
                raise QrError("decode", f"invalid JSON body: {reason(exc)}") from None
            raise api_error(status, preview(body), [], is_retryable(status)) from None
    message = envelope.message
    if message is None:
        message = f"request failed with HTTP {status}"
    if envelope.success is False:
        raise api_error(status, message, field_errors(envelope.errors), False)
    if not ok_status:
        raise api_error(status, message, field_errors(envelope.errors), is_retryable(status))
    data = envelope.data
    if data is None or data == _NULL:
        raise QrError("decode", "response has no `data` field")
    if type(data) is not Raw:
        return data  # type: ignore[return-value]
    try:
        return read_data.decode(data)  # type: ignore[arg-type]
    except _DECODE_ERRORS as exc:
        raise QrError("decode", f"unexpected payload shape: {reason(exc)}") from None


def shape_checked(convert: Callable[[_T], dict[str, Any]], data: _T) -> dict[str, Any]:
    try:
        return convert(data)
    except ShapeError as exc:
        raise QrError("decode", f"unexpected payload shape: {exc}") from None


def into_payer(payer: WirePayer | None) -> dict[str, str | None] | None:
    if payer is None:
        return None
    if payer.ciNitCliente is not UNSET and payer.ciCliente is not UNSET:
        raise ShapeError("duplicate field `ciNitCliente`")
    document = payer.ciCliente if payer.ciNitCliente is UNSET else payer.ciNitCliente
    record = {
        "account_number": non_empty(payer.numeroCuenta),
        "document_id": non_empty(document),
        "name": non_empty(payer.nombreCliente),
    }
    return record if any(v is not None for v in record.values()) else None


def into_bank(bank: WireBank | None) -> dict[str, str | None] | None:
    if bank is None:
        return None
    record = {
        "ach_order_number": non_empty(bank.numeroOrdenAch),
        "bank_code": non_empty(bank.codigoBanco),
        "bank_name": non_empty(bank.nombreBanco),
        "transaction_date": non_empty(bank.fechaTransaccion),
    }
    return record if any(v is not None for v in record.values()) else None


def generate_parse(payload: str) -> str:
    call = decode(_read_generate_parse, payload)
    read_generate(call.input)  # the parse stage reads its input as strictly as the build
    kind = call.input.kind

    def convert(data: Generated) -> dict[str, Any]:
        amount = read_amount(data.monto)
        return {
            "amount": amount_text(amount),
            "currency": CURRENCY if data.moneda is None else data.moneda,
            "expires_at": non_empty(data.fechaExpiracion),
            "kind": kind,
            "merchant_reference": non_empty(data.numeroReferenciaOriginante),
            "qr_image_base64": data.qr,
            "raw_status": data.estado,
            "reference": data.numeroReferencia,
            "status": map_status(data.estado),
        }

    return ok(shape_checked(convert, open_envelope(call.response, _GENERATED)))


def verify_parse(payload: str) -> str:
    call = decode(_read_verify_parse, payload)
    kind = call.input.kind

    def convert(data: Status) -> dict[str, Any]:
        importe = optional_amount(data.importe)
        monto = optional_amount(data.monto)
        payer = into_payer(data.clienteOrigen)
        amount = importe if importe is not None else monto
        return {
            "amount": None if amount is None else amount_text(amount),
            "currency": non_empty(data.moneda),
            "kind": kind,
            "merchant_reference": non_empty(data.numeroReferenciaOriginante),
            "message": non_empty(data.mensaje),
            "payer": payer,
            "payer_bank": into_bank(data.bancoOrigen),
            "raw_status": data.estado,
            "reference": data.numeroReferencia,
            "status": map_status(data.estado),
        }

    return ok(shape_checked(convert, open_envelope(call.response, _STATUS)))


# --- webhook ------------------------------------------------------------------


def authenticate(headers: dict[str, str], name: str, expected: str) -> None:
    if not expected:
        raise validation("value", "expected webhook header value must not be empty")
    # The first match in key order decides; bytes.lower() folds ASCII letters only, so a
    # match has the name's length.
    wanted = name.encode().lower()
    size = len(name)
    match = None
    for header in headers:
        if len(header) == size and header.encode().lower() == wanted and (match is None or header < match):
            match = header
    if match is None:
        raise QrError("webhook_auth", f"missing `{name}` header")
    if not hmac.compare_digest(headers[match].encode(), expected.encode()):
        raise QrError("webhook_auth", f"`{name}` header does not match")


def webhook_parse(payload: str) -> str:
    call = decode(_read_webhook_call, payload)
    authenticate(call.headers, call.key, call.value)
    try:
        wire = _read_notification.decode(call.body)
        if wire.detalleRespuesta is not UNSET and wire.mensaje is not UNSET:
            raise ShapeError("duplicate field `detalleRespuesta`")
        monto = optional_amount(wire.monto)
        importe = optional_amount(wire.importe)
        payer = into_payer(wire.clienteOrigen)
        bank = into_bank(wire.bancoOrigen)
    except _DECODE_ERRORS as exc:
        raise QrError("decode", f"invalid webhook payload: {reason(exc)}") from None

    amount = monto if monto is not None else importe
    if amount is None:
        raise QrError("decode", "webhook payload has no `monto`/`importe`")
    code = non_empty(wire.codigoRespuesta) or non_empty(wire.estado)
    if code is None:
        raise QrError("decode", "webhook payload has no `codigoRespuesta`/`estado`")
    status = "paid" if code.translate(_UPPER) == "SUCCESS" else map_status(code)
    detail = wire.mensaje if wire.detalleRespuesta is UNSET else wire.detalleRespuesta
    transaction_at = non_empty(wire.fechaHoraTransaccion)
    if transaction_at is None and bank is not None:
        transaction_at = bank["transaction_date"]
    return ok({
        "amount": amount_text(amount),
        "currency": non_empty(wire.moneda),
        "payer": payer,
        "payer_bank": bank,
        "reference": wire.numeroReferencia,
        "response_code": code,
        "response_detail": non_empty(detail),
        "status": status,
        "success": status == "paid",
        "transaction_at": transaction_at,
    })


# --- dispatch -----------------------------------------------------------------


def version(_payload: str) -> str:
    return ok({"core": CORE_VERSION, "protocol": PROTOCOL_VERSION})


HANDLERS: dict[str, Callable[[str], str]] = {
    "version": version,
    "qr.generate.build": generate_build,
    "qr.generate.parse": generate_parse,
    "qr.verify.parse": verify_parse,
    "qr.webhook.parse": webhook_parse,
}
OPERATIONS = frozenset(HANDLERS)


def call(op: str, payload: str) -> str:
    """Runs one of `OPERATIONS`; answers the compact JSON envelope text."""
    try:
        return HANDLERS[op](payload)
    except QrError as exc:
        return failed(exc)
