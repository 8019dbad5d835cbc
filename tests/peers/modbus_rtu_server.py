#!/usr/bin/python3
"""A Modbus RTU server nobody here wrote (pymodbus), for checking our client against.

Usage: modbus_rtu_server.py PORT SLAVE BAUD
Holding register N holds 1000 + N and input register N holds 2000 + N, for N from 0 to 199.
Parity none: pyserial cannot set parity on a pseudo-terminal.
"""
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer

REGISTERS = 200


def block(base):
    # This pymodbus answers register N with the value stored at N + 1: one filler in front.
    return ModbusSequentialDataBlock(0, [0] + [base + n for n in range(REGISTERS)])


def main():
    port, slave, baud = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    store = ModbusSlaveContext(hr=block(1000), ir=block(2000), co=block(0), di=block(0))
    context = ModbusServerContext(slaves={slave: store}, single=False)
    StartSerialServer(context=context, framer=ModbusRtuFramer, port=port, baudrate=baud,
                      bytesize=8, parity="N", stopbits=1, timeout=0.05)


if __name__ == "__main__":
    main()
