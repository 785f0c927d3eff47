#!/usr/bin/env python3
"""A sensor's holding registers served over Modbus RTU by pymodbus, for the integration tests.

Usage: pymodbus_sensor.py DEVICE [--address N] [--unit N] [--value X] [--offset X] [--slope X]

Registers: 59 the unit code, 400-401 the measured value, 436-437 the calibration offset,
438-439 the slope; floats with the low-order 16 bits in the lower register. Only 436-439 take
writes; anything else is answered with exception 2, as is a read of a register not listed.

Prints "READY" once DEVICE is open; for every write "WRITE <first> <words...>" and then
"CALIBRATION <offset> <slope>" as pymodbus decodes registers 436-439. Ends when its standard
input closes or on SIGTERM. Exits with 77 when pymodbus or pyserial is not installed.
"""

import argparse
import asyncio
import os
import signal
import sys

try:
    from pymodbus.constants import Endian
    from pymodbus.datastore import ModbusServerContext, ModbusSlaveContext, ModbusSparseDataBlock
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.payload import BinaryPayloadBuilder, BinaryPayloadDecoder
    from pymodbus.server.async_io import ModbusSerialServer
    import serial_asyncio  # noqa: F401  (the serial server needs it)
except ImportError as exc:
    print(f"missing: {exc}", file=sys.stderr)
    sys.exit(77)

WRITE_FUNCTION = 16
CALIBRATION_FIRST = 436
CALIBRATION_END = 440


def float_words(value):
    """The two registers of a float, low-order word first, each register high byte first."""
    builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=Endian.Little)
    builder.add_32bit_float(value)
    return builder.to_registers()


def words_float(words):
    decoder = BinaryPayloadDecoder.fromRegisters(words, byteorder=Endian.Big,
                                                 wordorder=Endian.Little)
    return decoder.decode_32bit_float()


class SensorContext(ModbusSlaveContext):
    def validate(self, fc_as_hex, address, count=1):
        if fc_as_hex == WRITE_FUNCTION and not (
                CALIBRATION_FIRST <= address and address + count <= CALIBRATION_END):
            return False
        return super().validate(fc_as_hex, address, count)

    def setValues(self, fc_as_hex, address, values):
        super().setValues(fc_as_hex, address, values)
        print("WRITE", address, *values, flush=True)
        words = self.getValues(3, CALIBRATION_FIRST, 4)
        print("CALIBRATION", repr(words_float(words[0:2])), repr(words_float(words[2:4])),
              flush=True)


async def serve(args):
    registers = {59: args.unit}
    for first, value in ((400, args.value), (436, args.offset), (438, args.slope)):
        low, high = float_words(value)
        registers[first] = low
        registers[first + 1] = high
    sensor = SensorContext(hr=ModbusSparseDataBlock(registers), zero_mode=True)
    context = ModbusServerContext(slaves={args.address: sensor}, single=False)
    server = ModbusSerialServer(context, ModbusRtuFramer, port=args.device, baudrate=19200,
                                bytesize=8, parity="N", stopbits=1, ignore_missing_slaves=True)
    await server.start()
    if server.transport is None:
        print(f"could not open {args.device}", file=sys.stderr)
        return 1
    print("READY", flush=True)

    loop = asyncio.get_running_loop()
    done = asyncio.Event()

    def stdin_readable():
        if not os.read(sys.stdin.fileno(), 1024):
            done.set()

    loop.add_reader(sys.stdin.fileno(), stdin_readable)
    loop.add_signal_handler(signal.SIGTERM, done.set)
    await done.wait()
    await server.shutdown()
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("device")
    parser.add_argument("--address", type=int, default=1)
    parser.add_argument("--unit", type=int, default=12)
    parser.add_argument("--value", type=float, default=101.325)
    parser.add_argument("--offset", type=float, default=0.0)
    parser.add_argument("--slope", type=float, default=1.0)
    return asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    sys.exit(main())
