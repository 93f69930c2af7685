__version__: str
PROTOCOL_VERSION: int
kernels: str

class PanicException(BaseException):
    """A fault escaped the native core; the call produced no answer."""

def call(op: str, payload: str) -> str:
    """Runs a QR operation; `payload` and the result are JSON strings."""
