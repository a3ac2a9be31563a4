"""The driver loaded from Python's ctypes, a host that defines no err of its own.

Usage: ctypes_host_test.py LORVANT.so libKYRPRO.so

The driver's message must arrive in the runtime library's sink. Were the
driver's err bound to the C library's err(3), the process would print and exit
with status 64 before the checks below ran.
"""

import ctypes
import sys


class GateAddress(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int32) for name in
                ("instrumentId", "format", "pno", "bitNumber", "width")]


class GateParseRecord(ctypes.Structure):
    _fields_ = [("addressString", ctypes.c_char_p), ("hostField", ctypes.c_int32),
                ("gateKind", ctypes.c_int32), ("blockSize", ctypes.c_int32),
                ("address", GateAddress)]


class VpiRequest(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("functionCode", ctypes.c_uint32),
                ("channelNumber", ctypes.c_uint32), ("hostField", ctypes.c_int32),
                ("params", ctypes.c_void_p)]


SINK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)


def main() -> int:
    driver_path, runtime_path = sys.argv[1], sys.argv[2]
    driver = ctypes.CDLL(driver_path)  # RTLD_LOCAL: err comes from the driver's dependency
    runtime = ctypes.CDLL(runtime_path)

    lines = []
    sink = SINK(lambda _context, level, message: lines.append((level, message.decode("latin-1"))))
    runtime.KyrSetLogSink.argtypes = [SINK, ctypes.c_void_p]
    runtime.KyrSetLogSink(sink, None)

    vpi_main = driver.VpiMain
    vpi_main.argtypes = [ctypes.POINTER(VpiRequest)]
    vpi_main.restype = ctypes.c_int32

    failures = []

    record = GateParseRecord(b"0A128", 0, 0, 0, GateAddress(-7, -7, -7, -7, -7))
    request = VpiRequest(None, 3, 0, 0, ctypes.cast(ctypes.pointer(record), ctypes.c_void_p))
    result = vpi_main(ctypes.byref(request))
    expected = [(64, "MOKTA> Parse() Illegal parameter nr.(PNO) 128 in '0A128'")]
    if result != 1 or lines != expected:
        failures.append(f"refusal: result {result}, lines {lines}")

    lines.clear()
    record = GateParseRecord(b"0a0017*", 0, 6, 0, GateAddress())
    request = VpiRequest(None, 3, 0, 0, ctypes.cast(ctypes.pointer(record), ctypes.c_void_p))
    result = vpi_main(ctypes.byref(request))
    address = record.address
    got = (address.instrumentId, address.format, address.pno, address.bitNumber, address.width)
    if result != 0 or got != (0x0A, 1, 1, 7, 1) or lines:
        failures.append(f"bit gate: result {result}, address {got}, lines {lines}")

    runtime.KyrSetLogSink(SINK(), None)
    for failure in failures:
        print("FAILED", failure)
    print(f"{2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
