#!/usr/bin/python3
"""A Modbus server on 127.0.0.1 for the tests, on pymodbus (Debian's python3-pymodbus).

  pymodbus_server.py PORT [tcp|rtu] [UNIT,UNIT...]

tcp serves Modbus TCP (MBAP), rtu serves RTU frames with CRC over TCP. Without units it
answers every unit id; with them only those (the others get no reply). The data, from
address 0: holding register i = 1000 + i, input register i = 2000 + i, coil and discrete
input i = i % 2, for i < 100. The test ends it by its process id: pymodbus' own stop
sleeps 10 s.
"""
import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.server import StartAsyncTcpServer

POINTS = 100


def station():
    return ModbusSlaveContext(
        hr=ModbusSequentialDataBlock(0, [1000 + i for i in range(POINTS)]),
        ir=ModbusSequentialDataBlock(0, [2000 + i for i in range(POINTS)]),
        co=ModbusSequentialDataBlock(0, [i % 2 for i in range(POINTS)]),
        di=ModbusSequentialDataBlock(0, [i % 2 for i in range(POINTS)]),
        zero_mode=True)


def main():
    port = int(sys.argv[1])
    framer = ModbusRtuFramer if len(sys.argv) > 2 and sys.argv[2] == "rtu" else ModbusSocketFramer
    units = [int(u) for u in sys.argv[3].split(",")] if len(sys.argv) > 3 else []
    if units:
        context = ModbusServerContext(slaves={u: station() for u in units}, single=False)
    else:
        context = ModbusServerContext(slaves=station(), single=True)
    # It logs an error on every client that leaves: harmless, and noise in a test's output.
    logging.disable(logging.CRITICAL)
    asyncio.run(StartAsyncTcpServer(context=context, address=("127.0.0.1", port),
                                    framer=framer))


if __name__ == "__main__":
    main()
