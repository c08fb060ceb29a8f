#pragma once
// Modbus RTU I/O module answering on the master end of the pseudo-terminal.
#include <string>

namespace devsim {

struct ModbusOptions {
    int slaveId = 1;
    bool frozen = false; // inputs keep their start values (deterministic tests)
    int delayMs = 0;     // each reply waits this long (a slow device, timeouts)
    bool silent = false; // requests are read and logged but never answered
    // The setting it stands at: it answers normally only while the terminal's end is at this
    // speed (0: any) and these stop bits, and garbled bytes otherwise.
    int baud = 0;
    int stopBits = 0; // 0: any, 1 or 2
    // A listening socket for Modbus TCP clients (-1: none), served with the same station data.
    int listenFd = -1;
};

// Serves until a stop signal; returns the process exit code.
int runModbusSlave(int masterFd, const std::string& devicePath, const ModbusOptions& options);

} // namespace devsim
