"""The QR operations seen through `call`, answer by answer."""

import json
import pathlib

import pytest

from corvane_bo.qr._native import call

SHARED = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "data" / "json-errors"

CONFIG = {"client_id": "merchant-001", "base_url": "https://bank.test/api/"}
TOKEN = {"access_token": "tok", "token_type": "Bearer", "expires_at": 1700000000}
HEADERS = (
    '{"Accept":"application/json","Authorization":"Bearer tok","Content-Type":"application/json",'
    '"access_token":"tok","client_id":"merchant-001"}'
)
WEBHOOK = {"url": "https://merchant.test/hook", "key": "X-Hook", "value": "s3cret"}
GENERATE = {"kind": "mld", "description": "  Pago de prueba ", "amount": "10.50", "reference": "000012345",
            "expires_in": 3600, "establishment_id": 7, "establishment_name": "Tienda Ñandú 1", "webhook": WEBHOOK}


def build(op, input, token=TOKEN):
    return call(op, json.dumps({"config": CONFIG, "token": token, "input": input}))


def parse(op, input, status, body):
    if not isinstance(body, str):
        body = json.dumps(body)
    return call(op, json.dumps({"input": input, "response": {"status": status, "body": body}}))


def error(answer):
    decoded = json.loads(answer)
    assert decoded["ok"] is False, answer
    return decoded["error"]


def value(answer):
    decoded = json.loads(answer)
    assert decoded["ok"] is True, answer
    return decoded["value"]


def validation(field, message):
    return {"field": field, "kind": "validation", "message": message, "retryable": False}


# --- routing ---------------------------------------------------------------------------------


@pytest.mark.parametrize("op", ["qr.generate", "qr.webhook.parse.build", "qr.generatex.build"])
def test_names_without_a_routable_stage_are_unknown(op):
    assert error(call(op, "not json")) == {"kind": "ffi", "message": f"unknown operation `{op}`", "retryable": False}


@pytest.mark.parametrize("op, stage", [("qr.verify", "build.x"), ("qr.generate", ""), ("qr.cancel", "BUILD"), ("qr.verify", " parse")])
def test_a_wrong_stage_is_reported_before_the_payload_is_read(op, stage):
    message = f"unknown stage `{stage}` for `{op}`"
    assert error(call(f"{op}.{stage}", "not json")) == {"kind": "ffi", "message": message, "retryable": False}


# --- generate --------------------------------------------------------------------------------


def test_generate_build_describes_the_bank_request():
    assert build("qr.generate.build", GENERATE) == (
        '{"ok":true,"value":{"body":"{\\"glosa\\":\\"Pago de prueba\\",\\"idEstablecimiento\\":7,'
        '\\"moneda\\":\\"BOB\\",\\"monto\\":10.5,\\"nombreEstablecimiento\\":\\"Tienda Ñandú 1\\",'
        '\\"numeroReferencia\\":\\"000012345\\",\\"vigencia\\":3600,\\"webhook\\":{\\"key\\":\\"X-Hook\\",'
        '\\"url\\":\\"https://merchant.test/hook\\",\\"value\\":\\"s3cret\\"}}",'
        f'"headers":{HEADERS},"method":"POST","url":"https://bank.test/api/qr/mld/v2/generate"}}}}'
    )


@pytest.mark.parametrize(
    "amount, sent",
    [("10.50", "10.5"), (25, "25"), ("0.1", "0.1"), ("100.00", "100"), (" 1_000.5\u00a0", "1000.5"), ("1e3", "1000")],
)
def test_generate_sends_the_normalized_amount_as_a_json_number(amount, sent):
    request = value(build("qr.generate.build", {**GENERATE, "amount": amount}))
    assert f'"monto":{sent},' in request["body"]


def test_generate_checks_fields_in_a_fixed_order():
    # Start with every field bad; fixing one at a time must reveal the next complaint in order.
    steps = [
        ({"description": "  "}, validation("description", "must not be empty")),
        ({"description": "Pago"}, validation("establishment_name", "must not be empty")),
        ({"establishment_name": "Tienda-1"}, validation("establishment_name", "only letters, digits and spaces are allowed")),
        ({"establishment_name": " Tienda 1"}, validation("reference", "must contain only digits")),
        ({"reference": "2147483648"}, validation("reference", "must be at most 2147483647 (Corvane stores it as a 32-bit integer)")),
        ({"reference": "0002147483647"}, validation("amount", "must be greater than zero")),
        ({"amount": "1.005"}, validation("amount", "at most 2 decimal places are allowed")),
        ({"amount": "1.50"}, validation("expires_in", "must be greater than zero")),
        ({"expires_in": 18446744073709551615}, validation("establishment_id", "must be greater than zero")),
        ({"establishment_id": 1}, validation("webhook", "is required by Corvane")),
        ({"webhook": {"url": "ftp://x", "key": "a b", "value": " "}}, validation("webhook.url", "must be an http(s) URL")),
        ({"webhook": {"url": " http://", "key": "a b", "value": " "}}, validation("webhook.key", "must be a valid HTTP header name")),
        ({"webhook": {"url": "http://", "key": "X_Key-1", "value": " "}}, validation("webhook.value", "must not be empty")),
    ]
    input = {**GENERATE, "description": "", "establishment_name": "", "reference": " 1", "amount": "0",
             "expires_in": 0, "establishment_id": 0, "webhook": None}
    for fix, expected in steps:
        input.update(fix)
        assert error(build("qr.generate.build", input)) == expected, fix
    input["webhook"] = WEBHOOK
    assert error(build("qr.generate.build", input, token=None)) == validation(
        "token", "an access token is required for this operation"
    )
    request = value(build("qr.generate.build", input))
    assert '"nombreEstablecimiento":"Tienda 1","numeroReferencia":"0002147483647",' in request["body"]
    assert '"vigencia":18446744073709551615,' in request["body"]


@pytest.mark.parametrize("change, field", [
    ({"establishment_name": "Tienda ª Nº 1"}, None), ({"establishment_name": "x² Ⅻ Ⓐ"}, None),
    ({"establishment_name": "Don Juan's"}, "establishment_name"), ({"establishment_name": "25°"}, "establishment_name"),
    ({"establishment_name": "Tienda\u00a0Uno"}, "establishment_name"),
    ({"reference": "0"}, None), ({"reference": "0000002147483647"}, None), ({"reference": "9" * 25}, "reference"),
])
def test_establishment_names_and_references(change, field):
    answer = json.loads(build("qr.generate.build", {**GENERATE, **change}))
    assert answer["ok"] is (field is None) and (field is None or answer["error"]["field"] == field)


GENERATED = {"numeroReferencia": "12345", "estado": " PENDIENTE ", "monto": "10.50", "qr": "iVBORw0KGgo=",
             "fechaExpiracion": "2026-12-07 10:00:00", "extra": {"ignored": [1, 2]}}


def test_generate_parse_reads_the_bank_answer():
    answer = parse("qr.generate.parse", GENERATE, 200, {"success": True, "message": "ok", "data": GENERATED})
    assert answer == (
        '{"ok":true,"value":{"amount":"10.5","currency":"BOB","expires_at":"2026-12-07 10:00:00","kind":"mld",'
        '"merchant_reference":null,"qr_image_base64":"iVBORw0KGgo=","raw_status":" PENDIENTE ",'
        '"reference":"12345","status":"pending"}}'
    )


@pytest.mark.parametrize("extra, currency, merchant", [
    ({"moneda": None}, "BOB", None), ({"moneda": " USD "}, " USD ", None),
    ({"numeroReferenciaOriginante": "  m-1 "}, "BOB", "m-1"), ({"numeroReferenciaOriginante": " \u3000"}, "BOB", None),
])
def test_generate_parse_currency_default_and_merchant_reference(extra, currency, merchant):
    result = value(parse("qr.generate.parse", GENERATE, 200, {"data": {**GENERATED, **extra}}))
    assert (result["currency"], result["merchant_reference"]) == (currency, merchant)


def test_generate_parse_needs_only_the_kind_but_a_complete_input():
    assert value(parse("qr.generate.parse", {**GENERATE, "kind": "simple", "amount": "-1"}, 200, {"data": GENERATED}))["kind"] == "simple"
    assert error(parse("qr.generate.parse", {"kind": "mld"}, 200, {"data": GENERATED}))["message"] == (
        "invalid payload: missing field `description` at line 1 column 25"
    )


# --- the bank's envelope, through the parse stages (every case is in envelope_test.cpp) -----------

STATUS = {"numeroReferencia": "12345", "estado": "PAGADO"}
VERIFY = {"kind": "mld", "reference": "12345"}


def api(status, message, retryable, errors=()):
    return {"errors": list(errors), "kind": "api", "message": message, "retryable": retryable, "status": status}


@pytest.mark.parametrize(
    "status, body, expected",
    [
        (403, {"error_description": "  token expired ", "message": "x"},
         {"kind": "authentication", "message": "token expired", "retryable": False, "status": 403}),
        (500, "  <html>" + "ñ" * 300, api(500, "<html>" + "ñ" * 194, True)),
        (200, {"success": False, "message": "rechazado", "errors": [{"message": "m", "field": "monto"}]},
         api(200, "rechazado", False, [{"code": None, "field": "monto", "message": "m"}])),
        (200, {"success": True, "data": None}, {"kind": "decode", "message": "response has no `data` field", "retryable": False}),
    ],
)
def test_envelope_outcomes(status, body, expected):
    assert error(parse("qr.verify.parse", VERIFY, status, body)) == expected


DECODE_ERROR = {"kind": "decode", "retryable": False}


@pytest.mark.parametrize(
    "status, body, expected",
    [
        # The envelope as an array: only `errors` may be left off the end.
        (200, "[]", {**DECODE_ERROR, "message":
                     "invalid JSON body: invalid length 0, expected struct SuccessWire with 4 elements at line 1 column 2"}),
        (503, "[]", api(503, "[]", True)),
        (200, "[true,null]", {**DECODE_ERROR, "message":
                              "invalid JSON body: invalid length 2, expected struct SuccessWire with 4 elements at line 1 column 11"}),
        # A field error as an array needs all three places, or the whole body is undecodable.
        (200, '{"data":{"numeroReferencia":"1","estado":"PAGADO"},"errors":[["monto","requerido"]]}', {**DECODE_ERROR, "message":
         "invalid JSON body: invalid length 2, expected struct ApiFieldError with 3 elements at line 1 column 82"}),
        (400, '{"errors":[["monto","requerido"]]}', api(400, '{"errors":[["monto","requerido"]]}', False)),
        (400, '{"errors":[[]]}', api(400, '{"errors":[[]]}', False)),
        (200, '{"errors":[[]]}', {**DECODE_ERROR, "message":
                                  "invalid JSON body: invalid length 0, expected struct ApiFieldError with 3 elements at line 1 column 13"}),
        (400, [False, "no", None, [["monto", "requerido", None]]],
         api(400, "no", False, [{"code": None, "field": "monto", "message": "requerido"}])),
    ],
)
def test_envelope_in_array_form(status, body, expected):
    assert error(parse("qr.verify.parse", VERIFY, status, body)) == expected


def test_envelope_array_without_errors_succeeds():
    assert value(parse("qr.verify.parse", VERIFY, 200, [True, None, STATUS]))["reference"] == "12345"


def test_verify_parse_reads_payer_and_bank():
    data = {**STATUS, "mensaje": "  Pago realizado  ", "importe": "10.50", "monto": "99", "moneda": " BOB ",
            "clienteOrigen": {"nombreCliente": "Ana", "ciCliente": "123", "numeroCuenta": " "},
            "bancoOrigen": {"codigoBanco": "1001", "fechaTransaccion": "2026-12-06"}}
    assert parse("qr.verify.parse", VERIFY, 200, {"data": data}) == (
        '{"ok":true,"value":{"amount":"10.5","currency":"BOB","kind":"mld","merchant_reference":null,'
        '"message":"Pago realizado","payer":{"account_number":null,"document_id":"123","name":"Ana"},'
        '"payer_bank":{"ach_order_number":null,"bank_code":"1001","bank_name":null,"transaction_date":"2026-12-06"},'
        '"raw_status":"PAGADO","reference":"12345","status":"paid"}}'
    )


@pytest.mark.parametrize("extra, field, expected", [
    ({}, "amount", None), ({"monto": "15.00"}, "amount", "15"), ({"importe": 7, "monto": 8}, "amount", "7"),
    ({"importe": None, "monto": 8}, "amount", "8"), ({"bancoOrigen": {}}, "payer_bank", None),
    ({"clienteOrigen": {"nombreCliente": " ", "numeroCuenta": "", "ciNitCliente": "\n"}}, "payer", None),
    ({"mensaje": " \t "}, "message", None), ({"estado": "cancelado\n"}, "status", "cancelled"),
])
def test_status_conversion(extra, field, expected):
    assert value(parse("qr.verify.parse", VERIFY, 200, {"data": {**STATUS, **extra}}))[field] == expected


def test_cancel_always_reports_the_simple_kind():
    assert value(parse("qr.cancel.parse", {"kind": "mld", "reference": "1"}, 200, {"data": STATUS}))["kind"] == "simple"


# --- verify and cancel builds ----------------------------------------------------------------


@pytest.mark.parametrize(
    "op, input, method, path",
    [
        ("qr.verify.build", {"reference": "12345"}, "GET", "qr/simple/v2/verify/12345"),
        ("qr.verify.build", {"kind": "mld", "reference": "0012345"}, "GET", "qr/mld/v2/verify/0012345"),
        ("qr.cancel.build", {"kind": "mld", "reference": "9" * 30}, "POST", "qr/simple/v2/cancel/" + "9" * 30),
    ],
)
def test_verify_and_cancel_describe_bodyless_requests(op, input, method, path):
    assert build(op, input) == (
        f'{{"ok":true,"value":{{"body":null,"headers":{HEADERS},"method":"{method}",'
        f'"url":"https://bank.test/api/{path}"}}}}'
    )


@pytest.mark.parametrize("reference, message", [(" \u00a0", "must not be empty"), (" 1", "must contain only digits")])
@pytest.mark.parametrize("op", ["qr.verify.build", "qr.cancel.build"])
def test_references_must_be_ascii_digits(op, reference, message):
    # The reference is checked before the missing token.
    assert error(build(op, {"reference": reference}, token=None)) == validation("reference", message)


# --- webhooks --------------------------------------------------------------------------------


def webhook(body, headers=None, key="X-Hook", expected="s3cret"):
    if not isinstance(body, str):
        body = json.dumps(body)
    headers = {"x-hook": "s3cret", "Content-Type": "application/json"} if headers is None else headers
    return call("qr.webhook.parse", json.dumps({"headers": headers, "body": body, "key": key, "value": expected}))


NOTICE = {"numeroReferencia": "12345", "monto": 150.00, "moneda": "BOB", "codigoRespuesta": "PAGADO"}


def test_webhook_happy_path():
    assert webhook(NOTICE) == (
        '{"ok":true,"value":{"amount":"150","currency":"BOB","payer":null,"payer_bank":null,"reference":"12345",'
        '"response_code":"PAGADO","response_detail":null,"status":"paid","success":true,"transaction_at":null}}'
    )


# Every authentication rule is in webhook_test.cpp and most decoding failures are among the shared
# record vectors; here, that authentication comes before the body is read.
@pytest.mark.parametrize("body, headers, key, expected, kind, message", [
    ("nope", {"X-HOOK": "wrong", "x-hook": "s3cret"}, "X-Hook", "s3cret", "webhook_auth", "`X-Hook` header does not match"),
    ("nope", {"X-Other": "s3cret"}, "x-hook", "s3cret", "webhook_auth", "missing `x-hook` header"),
    ("nope", None, "X-Hook", "s3cret", "decode", "invalid webhook payload: expected ident at line 1 column 2"),
    ({"numeroReferencia": "1"}, None, "X-Hook", "s3cret", "decode", "webhook payload has no `monto`/`importe`"),
])
def test_webhook_failures(body, headers, key, expected, kind, message):
    assert error(webhook(body, headers, key, expected)) == {"kind": kind, "message": message, "retryable": False}


def test_webhook_empty_expected_value_is_refused_before_the_body():
    assert error(webhook("nope", {"X-Hook": ""}, expected="")) == validation(
        "value", "expected webhook header value must not be empty")


@pytest.mark.parametrize(
    "body, field, expected",
    [
        ({**NOTICE, "monto": "20.00", "importe": 30}, "amount", "20"),
        ({**NOTICE, "monto": None, "importe": -20}, "amount", "-20"),
        ({**NOTICE, "codigoRespuesta": " ", "estado": "CANCELADO"}, "status", "cancelled"),
        ({**NOTICE, "codigoRespuesta": " SUCCESS "}, "response_code", "SUCCESS"),
        ({**NOTICE, "codigoRespuesta": "success"}, "success", True),
        ({**NOTICE, "codigoRespuesta": "00"}, "status", "unknown"),
        ({**NOTICE, "mensaje": " aprobado "}, "response_detail", "aprobado"),
        ({**NOTICE, "bancoOrigen": {"fechaTransaccion": " 2026-12-06 "}}, "transaction_at", "2026-12-06"),
        ({**NOTICE, "fechaHoraTransaccion": "t1", "bancoOrigen": {"fechaTransaccion": "t2"}}, "transaction_at", "t1"),
        ({**NOTICE, "clienteOrigen": {"ciCliente": " 99 "}}, "payer", {"account_number": None, "document_id": "99", "name": None}),
    ],
)
def test_webhook_reading(body, field, expected):
    assert value(webhook(body))[field] == expected


# --- exact decoder answers for record failures ------------------------------------------------


def record_vectors():
    with open(SHARED / "records.jsonl", encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


@pytest.mark.parametrize("vector", record_vectors(), ids=lambda v: v["op"])
def test_record_vectors_answer_byte_for_byte(vector):
    assert call(vector["op"], vector["payload"]) == vector["answer"]


# --- a merchant's day --------------------------------------------------------------------------


def test_scenario_generate_pay_verify_cancel():
    """Drives the operations the way a merchant application would, with the bank's answers as it writes them."""
    config = {"client_id": "tienda-77", "environment": "production"}
    token = {"access_token": "eyJhbGciOi", "token_type": "Bearer", "expires_at": 1765000000, "scope": "qr"}
    order = {"description": "Pedido 5521", "amount": "245.90", "reference": "5521", "expires_in": 900,
             "establishment_id": 31, "establishment_name": "Farmacia Central",
             "webhook": {"url": "https://tienda.example/qr/notify", "key": "X-Notify-Token", "value": "n0t1fy"}}
    request = value(call("qr.generate.build", json.dumps({"config": config, "token": token, "input": order})))
    assert request["method"] == "POST"
    assert request["url"] == "https://qr.corvane.bo/qr/simple/v2/generate"
    assert json.loads(request["body"])["monto"] == 245.9

    bank_generate = (
        '{"success":true,"message":"QR generado","data":{"numeroReferencia":"5521","estado":"PENDIENTE",'
        '"fechaExpiracion":"2026-12-06T21:15:00","moneda":"BOB","monto":245.90,'
        '"numeroReferenciaOriginante":"ORIG-5521","qr":"iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB"},"errors":[]}'
    )
    qr = value(parse("qr.generate.parse", order, 200, bank_generate))
    assert (qr["status"], qr["amount"], qr["merchant_reference"]) == ("pending", "245.9", "ORIG-5521")

    notification = (
        '{"numeroReferencia":"5521","monto":"245.90","moneda":"BOB","codigoRespuesta":"PAGADO",'
        '"detalleRespuesta":"Transaccion aprobada","fechaHoraTransaccion":"2026-12-06 21:03:11",'
        '"clienteOrigen":{"nombreCliente":"MARIA PEREZ","numeroCuenta":"1000200030","ciNitCliente":"4455667"},'
        '"bancoOrigen":{"codigoBanco":"1016","nombreBanco":"BANCO UNION","numeroOrdenAch":"88123"}}'
    )
    received = {"Host": "tienda.example", "Content-Type": "application/json", "x-notify-token": "n0t1fy"}
    paid = value(webhook(notification, received, "X-Notify-Token", "n0t1fy"))
    assert (paid["success"], paid["amount"], paid["payer"]["name"]) == (True, "245.9", "MARIA PEREZ")

    check = value(call("qr.verify.build", json.dumps({"config": config, "token": token, "input": {"reference": "5521"}})))
    assert (check["method"], check["url"], check["body"]) == ("GET", "https://qr.corvane.bo/qr/simple/v2/verify/5521", None)
    bank_status = (
        '{"success":true,"data":{"numeroReferencia":"5521","estado":"PAGADO","mensaje":"Pago confirmado",'
        '"importe":245.9,"moneda":"BOB","clienteOrigen":{"nombreCliente":"MARIA PEREZ","ciCliente":"4455667"},'
        '"bancoOrigen":{"codigoBanco":"1016","fechaTransaccion":"2026-12-06"}}}'
    )
    status = value(parse("qr.verify.parse", {"reference": "5521"}, 200, bank_status))
    assert (status["status"], status["payer"]["document_id"], status["payer_bank"]["transaction_date"]) == (
        "paid", "4455667", "2026-12-06")

    refused = error(parse("qr.cancel.parse", {"reference": "5521"}, 409,
                          '{"success":false,"message":"El QR ya fue pagado","data":null}'))
    assert refused == api(409, "El QR ya fue pagado", False)
