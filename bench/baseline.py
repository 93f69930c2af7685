"""Pure-Python implementation of the QR operations, the yardstick for the native engine.

`call(op, payload) -> str` answers the same compact JSON texts as
`corvane_bo.qr._native.call` for well-formed payloads: the build stage of
generate, verify and cancel, their parse stages, and webhook parsing, with the
validation, envelope and authentication failures those paths produce.

It is written the way the operations would be written in plain Python for
production use (json, decimal, dict access), not tuned against the engine and
not slowed down either. Known, deliberate differences from the engine, all on
malformed input only:

- Decoder failures carry Python's json messages, not the engine's texts with
  " at line L column C"; a key given twice is not detected (json.loads keeps
  the last one); the positional (array) form of records is not accepted.
- When a record has several faults, the first one in declaration order is
  reported, not the first one in reading order.
- Amount texts are read by `decimal.Decimal` (exact, arbitrary precision)
  rather than by a 96-bit reader that rounds beyond 28 places.
- The establishment-name test uses `str.isalnum()`, i.e. general categories
  L*, Nd, Nl, No. The engine's rule is Alphabetic or Nd/Nl/No; the two differ
  only on Other_Alphabetic marks (Indic vowel signs, circled letters and the
  like), which the engine accepts and this implementation refuses, and on the
  Unicode version of the interpreter's tables.

Run this file to execute its self-checks against hand-written answers.
"""

from __future__ import annotations

import hmac
import json
import sys
from decimal import Decimal, InvalidOperation
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

from samples import CONFIG, GENERATE, TOKEN, build, parse, render, webhook  # noqa: E402  (self-checks only)

CORE_VERSION = "0.1.0"
PROTOCOL_VERSION = 2

# The 25 code points with the Unicode White_Space property. str.strip() with no
# argument would also strip U+001C..U+001F, which are not white space.
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    "\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a"
    "\u2028\u2029\u202f\u205f\u3000"
)

ENVIRONMENTS = {
    "development": "https://qr-test.corvane.bo/desarrollo",
    "sandbox": "https://qr-test.corvane.bo/sandbox",
    "production": "https://qr.corvane.bo",
}
QR_KINDS = {"simple": "qr/simple/v2", "mld": "qr/mld/v2"}
STATUS_WORDS = {
    "PENDIENTE": "pending",
    "PAGADO": "paid",
    "CANCELADO": "cancelled",
    "EXPIRADO": "expired",
    "ERROR": "error",
}
JSON_MEDIA_TYPE = "application/json"
CURRENCY = "BOB"
MAX_REFERENCE = 2147483647
MAX_AMOUNT_PLACES = 2
U64_MAX = 2**64 - 1
I64_MIN, I64_MAX = -(2**63), 2**63 - 1
PREVIEW_CHARS = 200
MESSAGE_KEYS = ("error_description", "message", "error")

_ASCII_UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")
_HEADER_NAME_CHARS = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_")


# --- failures ---------------------------------------------------------------


class QrError(Exception):
    """A failure answered to the host: the error object of the answer."""

    def __init__(self, kind: str, message: str, **fields):
        super().__init__(message)
        self.record = {"kind": kind, "message": message, **fields}

    def answer_record(self) -> dict:
        record = dict(self.record)
        record["retryable"] = record["kind"] == "api" and record["retryable"]
        return record


def validation(field: str, message: str) -> QrError:
    return QrError("validation", message, field=field)


def api_error(status: int, message: str, errors: list, retryable: bool) -> QrError:
    return QrError("api", message, status=status, errors=errors, retryable=retryable)


class ShapeError(ValueError):
    """A JSON value that does not have the shape of the record being read."""


# --- JSON values ------------------------------------------------------------


# json.loads(text, parse_float=Decimal) and a compact json.dumps, with the
# decoder and encoder built once instead of on every call. Amounts must never
# pass through binary floating point, hence Decimal for every fractional number.
_decoder = json.JSONDecoder(parse_float=Decimal)
_encoder = json.JSONEncoder(sort_keys=True, separators=(",", ":"), ensure_ascii=False, default=str)


def loads(text: str):
    return _decoder.decode(text)


def compact(value) -> str:
    """Compact JSON text, keys sorted, non-ASCII kept as is."""
    return _encoder.encode(value)


def found(value) -> str:
    """How a decoder names the JSON value it got instead of the expected one."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return f"boolean `{'true' if value else 'false'}`"
    if isinstance(value, str):
        return "string " + json.dumps(value, ensure_ascii=False)
    if isinstance(value, list):
        return "sequence"
    if isinstance(value, dict):
        return "map"
    return "number"


def as_record(value, name: str) -> dict:
    if not isinstance(value, dict):
        raise ShapeError(f"invalid type: {found(value)}, expected struct {name}")
    return value


def required(record: dict, key: str):
    try:
        return record[key]
    except KeyError:
        raise ShapeError(f"missing field `{key}`") from None


def as_text(value) -> str:
    if not isinstance(value, str):
        raise ShapeError(f"invalid type: {found(value)}, expected a string")
    return value


def optional_text(record: dict, key: str) -> str | None:
    value = record.get(key)
    return None if value is None else as_text(value)


def as_integer(value, low: int, high: int, name: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise ShapeError(f"invalid type: {found(value)}, expected {name}")
    if not low <= value <= high:
        raise ShapeError(f"invalid value: integer `{value}`, expected {name}")
    return value


def as_variant(value, variants) -> str:
    if not isinstance(value, str):
        raise ShapeError(f"invalid type: {found(value)}, expected a string")
    if value not in variants:
        names = [f"`{name}`" for name in variants]
        expected = " or ".join(names) if len(names) == 2 else "one of " + ", ".join(names)
        raise ShapeError(f"unknown variant `{value}`, expected {expected}")
    return value


# --- texts ------------------------------------------------------------------


def trim(text: str) -> str:
    return text.strip(WHITE_SPACE)


def non_empty(text: str | None) -> str | None:
    if text is None:
        return None
    return trim(text) or None


def require_text(field: str, value: str) -> None:
    if not trim(value):
        raise validation(field, "must not be empty")


def numeric_reference(field: str, value: str) -> None:
    require_text(field, value)
    if not (value.isascii() and value.isdigit()):
        raise validation(field, "must contain only digits")


def positive(field: str, value: int) -> None:
    if value == 0:
        raise validation(field, "must be greater than zero")


# --- amounts ----------------------------------------------------------------


def amount_from_value(value) -> Decimal:
    if isinstance(value, Decimal):
        return value
    if isinstance(value, int) and not isinstance(value, bool):
        return Decimal(value)
    if not isinstance(value, str):
        raise ShapeError("expected a number, got " + compact(value))
    text = trim(value)
    try:
        amount = Decimal(text) if text.isascii() else None
    except InvalidOperation:
        amount = None
    if amount is None or not amount.is_finite():
        raise ShapeError(f"invalid amount `{text}`: Failed to parse")
    return amount


def optional_amount(record: dict, key: str) -> Decimal | None:
    value = record.get(key)
    return None if value is None else amount_from_value(value)


def amount_text(amount: Decimal) -> str:
    """Normalised plain notation: no exponent, no trailing fractional zeros."""
    text = format(amount, "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def validate_amount(field: str, amount: Decimal) -> str:
    """Checks an amount that is to be sent; returns its normalised text."""
    if amount <= 0:
        raise validation(field, "must be greater than zero")
    text = amount_text(amount)
    _, _, fraction = text.partition(".")
    if len(fraction) > MAX_AMOUNT_PLACES:
        raise validation(field, f"at most {MAX_AMOUNT_PLACES} decimal places are allowed")
    return text


def map_status(text: str) -> str:
    return STATUS_WORDS.get(trim(text).translate(_ASCII_UPPER), "unknown")


# --- payload records --------------------------------------------------------


def read_config(value) -> dict:
    record = as_record(value, "Config")
    environment = record.get("environment", "sandbox")
    return {
        "client_id": as_text(required(record, "client_id")),
        "environment": as_variant(environment, ENVIRONMENTS),
        "base_url": optional_text(record, "base_url"),
    }


def read_token(value) -> dict | None:
    if value is None:
        return None
    record = as_record(value, "AccessToken")
    access_token = as_text(required(record, "access_token"))
    as_text(required(record, "token_type"))
    as_integer(required(record, "expires_at"), I64_MIN, I64_MAX, "i64")
    return {"access_token": access_token}


def read_response(value) -> tuple[int, str]:
    record = as_record(value, "HttpResponse")
    status = as_integer(required(record, "status"), 0, 65535, "u16")
    return status, as_text(required(record, "body"))


def read_kind(record: dict) -> str:
    return as_variant(record["kind"], QR_KINDS) if "kind" in record else "simple"


def read_webhook_target(value) -> dict:
    record = as_record(value, "WebhookTarget")
    return {key: as_text(required(record, key)) for key in ("url", "key", "value")}


def read_generate(value) -> dict:
    record = as_record(value, "GenerateQr")
    webhook = record.get("webhook")
    return {
        "kind": read_kind(record),
        "description": as_text(required(record, "description")),
        "amount": amount_from_value(required(record, "amount")),
        "reference": as_text(required(record, "reference")),
        "expires_in": as_integer(required(record, "expires_in"), 0, U64_MAX, "u64"),
        "establishment_id": as_integer(required(record, "establishment_id"), 0, U64_MAX, "u64"),
        "establishment_name": as_text(required(record, "establishment_name")),
        "webhook": None if webhook is None else read_webhook_target(webhook),
    }


def read_verify(value) -> dict:
    record = as_record(value, "VerifyQr")
    return {"kind": read_kind(record), "reference": as_text(required(record, "reference"))}


def read_cancel(value) -> dict:
    record = as_record(value, "CancelQr")
    return {"reference": as_text(required(record, "reference"))}


def load_payload(payload: str, name: str) -> dict:
    try:
        return as_record(loads(payload), name)
    except (ValueError, RecursionError) as exc:
        raise QrError("ffi", f"invalid payload: {exc}") from None


def decode_build(payload: str, read_input) -> tuple[dict, dict | None, dict]:
    record = load_payload(payload, "Build")
    try:
        config = read_config(required(record, "config"))
        token = read_token(record.get("token"))
        input_ = read_input(required(record, "input"))
    except ShapeError as exc:
        raise QrError("ffi", f"invalid payload: {exc}") from None
    return config, token, input_


def decode_parse(payload: str, read_input) -> tuple[dict, tuple[int, str]]:
    record = load_payload(payload, "Parse")
    try:
        input_ = read_input(required(record, "input"))
        response = read_response(required(record, "response"))
    except ShapeError as exc:
        raise QrError("ffi", f"invalid payload: {exc}") from None
    return input_, response


# --- requests ---------------------------------------------------------------


def url(config: dict, path: str) -> str:
    base = config["base_url"]
    if base is None:
        base = ENVIRONMENTS[config["environment"]]
    return base.rstrip("/") + "/" + path.lstrip("/")


def api_headers(config: dict, token: dict | None) -> dict:
    if token is None:
        raise validation("token", "an access token is required for this operation")
    access_token = token["access_token"]
    return {
        "Authorization": "Bearer " + access_token,
        "access_token": access_token,
        "client_id": config["client_id"],
        "Content-Type": JSON_MEDIA_TYPE,
        "Accept": JSON_MEDIA_TYPE,
    }


def http_request(method: str, url_: str, headers: dict, body: str | None) -> dict:
    return {"method": method, "url": url_, "headers": headers, "body": body}


def validate_webhook_target(target: dict) -> None:
    if not trim(target["url"]).startswith(("https://", "http://")):
        raise validation("webhook.url", "must be an http(s) URL")
    key = target["key"]
    if not trim(key):
        raise validation("webhook.key", "must not be empty")
    if not _HEADER_NAME_CHARS.issuperset(key):
        raise validation("webhook.key", "must be a valid HTTP header name")
    if not trim(target["value"]):
        raise validation("webhook.value", "must not be empty")


def generate_request(config: dict, token: dict | None, qr: dict) -> dict:
    require_text("description", qr["description"])
    name = qr["establishment_name"]
    require_text("establishment_name", name)
    # Letters, digits and plain spaces only (see the module docstring for how
    # closely isalnum() follows the engine's Unicode rule).
    if not name.replace(" ", "").isalnum():
        raise validation("establishment_name", "only letters, digits and spaces are allowed")
    reference = qr["reference"]
    numeric_reference("reference", reference)
    # Compare digit counts first: int() refuses texts of thousands of digits.
    significant = reference.lstrip("0")
    if len(significant) > len(str(MAX_REFERENCE)) or int(significant or "0") > MAX_REFERENCE:
        raise validation(
            "reference", f"must be at most {MAX_REFERENCE} (Corvane stores it as a 32-bit integer)"
        )
    amount = validate_amount("amount", qr["amount"])
    positive("expires_in", qr["expires_in"])
    positive("establishment_id", qr["establishment_id"])
    webhook = qr["webhook"]
    if webhook is None:
        raise validation("webhook", "is required by Corvane")
    validate_webhook_target(webhook)

    # Every member but the amount is encoded by json; the amount goes out as a
    # JSON number written with its exact decimal digits.
    members = {
        "glosa": compact(trim(qr["description"])),
        "idEstablecimiento": str(qr["establishment_id"]),
        "moneda": compact(CURRENCY),
        "monto": amount,
        "nombreEstablecimiento": compact(trim(name)),
        "numeroReferencia": compact(reference),
        "vigencia": str(qr["expires_in"]),
        "webhook": compact(webhook),
    }
    body = "{" + ",".join(f'"{key}":{text}' for key, text in sorted(members.items())) + "}"
    path = QR_KINDS[qr["kind"]] + "/generate"
    return http_request("POST", url(config, path), api_headers(config, token), body)


def verify_request(config: dict, token: dict | None, qr: dict) -> dict:
    numeric_reference("reference", qr["reference"])
    path = QR_KINDS[qr["kind"]] + "/verify/" + qr["reference"]
    return http_request("GET", url(config, path), api_headers(config, token), None)


def cancel_request(config: dict, token: dict | None, qr: dict) -> dict:
    numeric_reference("reference", qr["reference"])
    path = QR_KINDS["simple"] + "/cancel/" + qr["reference"]
    return http_request("POST", url(config, path), api_headers(config, token), None)


# --- responses --------------------------------------------------------------


def is_retryable(status: int) -> bool:
    return status in (408, 429) or status >= 500


def preview(body: str) -> str:
    text = trim(body)
    return text[:PREVIEW_CHARS] if text else "empty response body"


def text_field(value, keys) -> str | None:
    if not isinstance(value, dict):
        return None
    for key in keys:
        text = value.get(key)
        if isinstance(text, str) and trim(text):
            return trim(text)
    return None


def message_from_body(body: str) -> str:
    try:
        message = text_field(loads(body), MESSAGE_KEYS)
    except (ValueError, RecursionError):
        message = None
    return message or preview(body)


def read_field_error(value) -> dict:
    record = as_record(value, "ApiFieldError")
    return {
        "code": optional_text(record, "code"),
        "field": optional_text(record, "field"),
        "message": as_text(required(record, "message")),
    }


def read_envelope(body: str) -> dict:
    record = as_record(loads(body), "SuccessWire")
    success = record.get("success")
    if success is not None and not isinstance(success, bool):
        raise ShapeError(f"invalid type: {found(success)}, expected a boolean")
    errors = record.get("errors", [])
    if not isinstance(errors, list):
        raise ShapeError(f"invalid type: {found(errors)}, expected a sequence")
    return {
        "success": success,
        "message": optional_text(record, "message"),
        "data": record.get("data"),
        "errors": [read_field_error(error) for error in errors],
    }


def open_envelope(response: tuple[int, str], read_data):
    """Judges a bank response; returns its `data` read by `read_data`."""
    status, body = response
    if status in (401, 403):
        raise QrError("authentication", message_from_body(body), status=status)
    ok_status = 200 <= status <= 299
    try:
        envelope = read_envelope(body)
    except (ValueError, RecursionError) as exc:
        if ok_status:
            raise QrError("decode", f"invalid JSON body: {exc}") from None
        raise api_error(status, preview(body), [], is_retryable(status)) from None

    message = envelope["message"]
    if message is None:
        message = f"request failed with HTTP {status}"
    if envelope["success"] is False:
        raise api_error(status, message, envelope["errors"], False)
    if not ok_status:
        raise api_error(status, message, envelope["errors"], is_retryable(status))
    if envelope["data"] is None:
        raise QrError("decode", "response has no `data` field")
    try:
        return read_data(envelope["data"])
    except ShapeError as exc:
        raise QrError("decode", f"unexpected payload shape: {exc}") from None


def into_payer(value) -> dict | None:
    record = as_record(value, "WirePayer")
    if "ciNitCliente" in record and "ciCliente" in record:
        raise ShapeError("duplicate field `ciNitCliente`")
    document = "ciNitCliente" if "ciNitCliente" in record else "ciCliente"
    payer = {
        "name": non_empty(optional_text(record, "nombreCliente")),
        "account_number": non_empty(optional_text(record, "numeroCuenta")),
        "document_id": non_empty(optional_text(record, document)),
    }
    return payer if any(v is not None for v in payer.values()) else None


def into_bank(value) -> dict | None:
    record = as_record(value, "WireBank")
    bank = {
        "bank_code": non_empty(optional_text(record, "codigoBanco")),
        "bank_name": non_empty(optional_text(record, "nombreBanco")),
        "ach_order_number": non_empty(optional_text(record, "numeroOrdenAch")),
        "transaction_date": non_empty(optional_text(record, "fechaTransaccion")),
    }
    return bank if any(v is not None for v in bank.values()) else None


def optional_part(record: dict, key: str, convert):
    value = record.get(key)
    return None if value is None else convert(value)


def generated_qr(kind: str):
    def read(value) -> dict:
        data = as_record(value, "Generated")
        reference = as_text(required(data, "numeroReferencia"))
        raw_status = as_text(required(data, "estado"))
        expires_at = optional_text(data, "fechaExpiracion")
        currency = optional_text(data, "moneda")
        amount = amount_from_value(required(data, "monto"))
        merchant_reference = optional_text(data, "numeroReferenciaOriginante")
        image = as_text(required(data, "qr"))
        return {
            "kind": kind,
            "reference": reference,
            "merchant_reference": non_empty(merchant_reference),
            "status": map_status(raw_status),
            "raw_status": raw_status,
            "expires_at": non_empty(expires_at),
            "currency": CURRENCY if currency is None else currency,
            "amount": amount_text(amount),
            "qr_image_base64": image,
        }

    return read


def status_info(kind: str):
    def read(value) -> dict:
        data = as_record(value, "Status")
        reference = as_text(required(data, "numeroReferencia"))
        raw_status = as_text(required(data, "estado"))
        message = optional_text(data, "mensaje")
        importe = optional_amount(data, "importe")
        monto = optional_amount(data, "monto")
        currency = optional_text(data, "moneda")
        merchant_reference = optional_text(data, "numeroReferenciaOriginante")
        payer = optional_part(data, "clienteOrigen", into_payer)
        bank = optional_part(data, "bancoOrigen", into_bank)
        amount = importe if importe is not None else monto
        return {
            "kind": kind,
            "reference": reference,
            "merchant_reference": non_empty(merchant_reference),
            "status": map_status(raw_status),
            "raw_status": raw_status,
            "message": non_empty(message),
            "amount": None if amount is None else amount_text(amount),
            "currency": non_empty(currency),
            "payer": payer,
            "payer_bank": bank,
        }

    return read


# --- webhooks ---------------------------------------------------------------


def authenticate(headers: dict, name: str, expected: str) -> None:
    if not expected:
        raise validation("value", "expected webhook header value must not be empty")
    wanted = name.encode().lower()  # bytes.lower() folds ASCII letters only
    for header in sorted(headers):
        if header.encode().lower() == wanted:
            if hmac.compare_digest(headers[header].encode(), expected.encode()):
                return
            raise QrError("webhook_auth", f"`{name}` header does not match")
    raise QrError("webhook_auth", f"missing `{name}` header")


def read_webhook_call(payload: str) -> tuple[dict, str, str, str]:
    record = load_payload(payload, "WebhookCall")
    try:
        headers = as_record(required(record, "headers"), "map")
        for value in headers.values():
            as_text(value)
        body = as_text(required(record, "body"))
        key = as_text(required(record, "key"))
        value = as_text(required(record, "value"))
    except ShapeError as exc:
        raise QrError("ffi", f"invalid payload: {exc}") from None
    return headers, body, key, value


def read_notification(body: str) -> dict:
    wire = as_record(loads(body), "Wire")
    if "detalleRespuesta" in wire and "mensaje" in wire:
        raise ShapeError("duplicate field `detalleRespuesta`")
    detail_key = "detalleRespuesta" if "detalleRespuesta" in wire else "mensaje"
    return {
        "reference": as_text(required(wire, "numeroReferencia")),
        "monto": optional_amount(wire, "monto"),
        "importe": optional_amount(wire, "importe"),
        "moneda": optional_text(wire, "moneda"),
        "codigoRespuesta": optional_text(wire, "codigoRespuesta"),
        "estado": optional_text(wire, "estado"),
        "detail": optional_text(wire, detail_key),
        "fechaHoraTransaccion": optional_text(wire, "fechaHoraTransaccion"),
        "payer": optional_part(wire, "clienteOrigen", into_payer),
        "bank": optional_part(wire, "bancoOrigen", into_bank),
    }


def parse_webhook(payload: str) -> dict:
    headers, body, key, value = read_webhook_call(payload)
    authenticate(headers, key, value)
    try:
        wire = read_notification(body)
    except (ValueError, RecursionError) as exc:
        raise QrError("decode", f"invalid webhook payload: {exc}") from None

    amount = wire["monto"] if wire["monto"] is not None else wire["importe"]
    if amount is None:
        raise QrError("decode", "webhook payload has no `monto`/`importe`")
    code = non_empty(wire["codigoRespuesta"]) or non_empty(wire["estado"])
    if code is None:
        raise QrError("decode", "webhook payload has no `codigoRespuesta`/`estado`")
    if code.translate(_ASCII_UPPER) == "SUCCESS":
        status = "paid"
    else:
        status = map_status(code)
    bank = wire["bank"]
    transaction_at = non_empty(wire["fechaHoraTransaccion"])
    if transaction_at is None and bank is not None:
        transaction_at = bank["transaction_date"]
    return {
        "reference": wire["reference"],
        "amount": amount_text(amount),
        "currency": non_empty(wire["moneda"]),
        "status": status,
        "response_code": code,
        "response_detail": non_empty(wire["detail"]),
        "transaction_at": transaction_at,
        "payer": wire["payer"],
        "payer_bank": bank,
        "success": status == "paid",
    }


# --- dispatch ---------------------------------------------------------------

OPERATIONS = [
    {"kind": "operation", "name": "qr.generate", "idempotent": False},
    {"kind": "operation", "name": "qr.verify", "idempotent": True},
    {"kind": "operation", "name": "qr.cancel", "idempotent": False},
    {"kind": "handler", "name": "qr.webhook.parse"},
]

# name -> (input reader, build step, result reader for the parse stage)
API_OPERATIONS = {
    "qr.generate": (read_generate, generate_request, lambda qr: generated_qr(qr["kind"])),
    "qr.verify": (read_verify, verify_request, lambda qr: status_info(qr["kind"])),
    "qr.cancel": (read_cancel, cancel_request, lambda qr: status_info("simple")),
}


def run(name: str, stage: str, payload: str):
    read_input, build, result_reader = API_OPERATIONS[name]
    if stage == "build":
        config, token, qr = decode_build(payload, read_input)
        return build(config, token, qr)
    if stage == "parse":
        qr, response = decode_parse(payload, read_input)
        return open_envelope(response, result_reader(qr))
    raise QrError("ffi", f"unknown stage `{stage}` for `{name}`")


def dispatch(op: str, payload: str):
    if op == "describe":
        return OPERATIONS
    if op == "version":
        return {"core": CORE_VERSION, "protocol": PROTOCOL_VERSION}
    if op == "qr.webhook.parse":
        return parse_webhook(payload)
    for name in API_OPERATIONS:
        if op.startswith(name + "."):
            return run(name, op[len(name) + 1 :], payload)
    raise QrError("ffi", f"unknown operation `{op}`")


def call(op: str, payload: str) -> str:
    """Runs one operation; answers the compact JSON envelope text."""
    try:
        answer = {"ok": True, "value": dispatch(op, payload)}
    except QrError as exc:
        answer = {"ok": False, "error": exc.answer_record()}
    return json.dumps(answer, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


# --- self-checks ------------------------------------------------------------

# The samples, with a blank to trim, leading zeros to keep and places to drop; a base URL ending in "/".
_INPUT = {**GENERATE, "description": " Café ", "amount": "100.00", "reference": "007"}
_CONFIG = {**CONFIG, "base_url": CONFIG["base_url"] + "/"}


def _parse(input_, status, body):
    return render(parse(input_, status, body))


def _webhook(headers, body, key, value):
    return render(webhook(body, headers, key, value))


# (op, payload, answer written out by hand)
_EXPECTED = [
    ("version", "", '{"ok":true,"value":{"core":"0.1.0","protocol":2}}'),
    (
        "qr.generate.build",
        render(build(_INPUT, _CONFIG, TOKEN)),
        r'{"ok":true,"value":{"body":"{\"glosa\":\"Café\",\"idEstablecimiento\":7,\"moneda\":\"BOB\",'
        r'\"monto\":100,\"nombreEstablecimiento\":\"Tienda Ñandú 2\",\"numeroReferencia\":\"007\",'
        r'\"vigencia\":600,\"webhook\":{\"key\":\"X-Corvane-Hook\",\"url\":\"https://merchant.test/hook\",'
        r'\"value\":\"hook-secret-1\"}}",'
        r'"headers":{"Accept":"application/json","Authorization":"Bearer tok",'
        r'"Content-Type":"application/json","access_token":"tok","client_id":"merchant-001"},'
        r'"method":"POST","url":"https://bank.test/api/qr/simple/v2/generate"}}',
    ),
    (
        "qr.generate.build",
        render({"config": _CONFIG, "input": {**_INPUT, "amount": "0.001"}}),
        '{"error":{"field":"amount","kind":"validation",'
        '"message":"at most 2 decimal places are allowed","retryable":false},"ok":false}',
    ),
    (
        "qr.cancel.build",
        render(build({"reference": "12", "kind": "mld"}, _CONFIG, TOKEN)),
        '{"ok":true,"value":{"body":null,"headers":{"Accept":"application/json",'
        '"Authorization":"Bearer tok","Content-Type":"application/json","access_token":"tok",'
        '"client_id":"merchant-001"},"method":"POST","url":"https://bank.test/api/qr/simple/v2/cancel/12"}}',
    ),
    (
        "qr.generate.parse",
        _parse(_INPUT, 200, '{"data":{"numeroReferencia":"5","estado":"PENDIENTE","monto":1E+2,"qr":"QUJD"}}'),
        '{"ok":true,"value":{"amount":"100","currency":"BOB","expires_at":null,"kind":"simple",'
        '"merchant_reference":null,"qr_image_base64":"QUJD","raw_status":"PENDIENTE",'
        '"reference":"5","status":"pending"}}',
    ),
    (
        "qr.verify.parse",
        _parse(
            {"kind": "mld", "reference": "1"},
            200,
            '{"data":{"numeroReferencia":"1","estado":" pagado ","importe":"25.50","monto":9,'
            '"moneda":" ","clienteOrigen":{"ciCliente":" 123 "}}}',
        ),
        '{"ok":true,"value":{"amount":"25.5","currency":null,"kind":"mld","merchant_reference":null,'
        '"message":null,"payer":{"account_number":null,"document_id":"123","name":null},'
        '"payer_bank":null,"raw_status":" pagado ","reference":"1","status":"paid"}}',
    ),
    (
        "qr.verify.parse",
        _parse({"reference": "1"}, 401, '{"message":" Unauthorized "}'),
        '{"error":{"kind":"authentication","message":"Unauthorized","retryable":false,"status":401},"ok":false}',
    ),
    (
        "qr.verify.parse",
        _parse({"reference": "1"}, 502, "\u00a0Bad Gateway\n"),
        '{"error":{"errors":[],"kind":"api","message":"Bad Gateway","retryable":true,"status":502},"ok":false}',
    ),
    (
        "qr.verify.parse",
        _parse({"reference": "1"}, 503, '{"success":false,"errors":[{"message":"x","code":"7"}]}'),
        '{"error":{"errors":[{"code":"7","field":null,"message":"x"}],"kind":"api",'
        '"message":"request failed with HTTP 503","retryable":false,"status":503},"ok":false}',
    ),
    (
        "qr.verify.parse",
        _parse({"reference": "1"}, 200, '{"success":true}'),
        '{"error":{"kind":"decode","message":"response has no `data` field","retryable":false},"ok":false}',
    ),
    (
        "qr.webhook.parse",
        _webhook({"x-k": "w", "X-K": "v"}, "{", "x-k", "w"),
        '{"error":{"kind":"webhook_auth","message":"`x-k` header does not match","retryable":false},"ok":false}',
    ),
    (
        "qr.webhook.parse",
        _webhook(
            {"x-k": "v"},
            '{"numeroReferencia":" 9 ","monto":null,"importe":-0.00,"estado":"EXPIRADO",'
            '"bancoOrigen":{"fechaTransaccion":" 2025-01-01 "}}',
            "X-K",
            "v",
        ),
        '{"ok":true,"value":{"amount":"0","currency":null,"payer":null,"payer_bank":'
        '{"ach_order_number":null,"bank_code":null,"bank_name":null,"transaction_date":"2025-01-01"},'
        '"reference":" 9 ","response_code":"EXPIRADO","response_detail":null,"status":"expired",'
        '"success":false,"transaction_at":"2025-01-01"}}',
    ),
]


def _self_check() -> None:
    failures = 0
    for op, payload, expected in _EXPECTED:
        got = call(op, payload)
        if got != expected:
            failures += 1
            print(f"FAIL {op} {payload}\n  expected {expected}\n  got      {got}")
    if failures:
        raise SystemExit(f"{failures} of {len(_EXPECTED)} self-checks failed")
    print(f"baseline: {len(_EXPECTED)} self-checks passed")


if __name__ == "__main__":
    _self_check()
