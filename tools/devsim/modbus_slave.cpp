#include "modbus_slave.h"

#include "sim_common.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <poll.h>

namespace devsim {

namespace {

constexpr int kPoints = 64;
constexpr auto kInputPeriod = std::chrono::milliseconds(200);

// Live values for polling, in holding registers above the writable ones: a counter (+1 every
// tick), a sine of amplitude 1000 and period 60 s (int16), and pi as float32 ABCD, which
// tells a reader's word order at a glance. With --static they keep their start values.
constexpr int kCounterRegister = 50, kSineRegister = 51, kPiRegister = 52;

void setLiveValues(modbus_mapping_t* map, unsigned tick) {
    map->tab_registers[kCounterRegister] = static_cast<std::uint16_t>(tick);
    const double phase = 2 * M_PI * static_cast<double>(tick % 300) / 300;
    map->tab_registers[kSineRegister] =
        static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(1000 * std::sin(phase))));
}

// Inputs at start, and for good with --static: a fixed, recognisable pattern.
void setStartValues(modbus_mapping_t* map) {
    map->tab_registers[0] = 0x1234;
    map->tab_registers[kPiRegister] = 0x4049; // 3.14159274
    map->tab_registers[kPiRegister + 1] = 0x0FDB;
    setLiveValues(map, 0);
    for (int i = 0; i < kPoints; ++i) {
        map->tab_input_bits[i] = static_cast<std::uint8_t>(i % 2);
        map->tab_input_registers[i] = static_cast<std::uint16_t>(0x3000 + i);
    }
}

// Moves the inputs on so that repeated reads show a live device.
void advanceInputs(modbus_mapping_t* map, unsigned tick) {
    for (int i = 0; i < kPoints; ++i) {
        map->tab_input_bits[i] = static_cast<std::uint8_t>(((tick + i) % 3) == 0);
        map->tab_input_registers[i] = static_cast<std::uint16_t>(tick * 7 + i * 0x100);
    }
}

// The context never opens the device itself: it talks over the pty master we hand it,
// so its connect/close (and their termios handling) are never called.
modbus_t* newContext(int masterFd, const std::string& devicePath, int slaveId) {
    modbus_t* ctx = modbus_new_rtu(devicePath.c_str(), 9600, 'N', 8, 1);
    if (ctx && (modbus_set_slave(ctx, slaveId) != 0 || modbus_set_socket(ctx, masterFd) != 0)) {
        modbus_free(ctx);
        return nullptr;
    }
    return ctx;
}

} // namespace

int runModbusSlave(int masterFd, const std::string& devicePath, const ModbusOptions& options) {
    modbus_t* ctx = newContext(masterFd, devicePath, options.slaveId);
    modbus_mapping_t* map = modbus_mapping_new(kPoints, kPoints, kPoints, kPoints);
    if (!ctx || !map) {
        std::fprintf(stderr, "modbus setup: %s\n", modbus_strerror(errno));
        modbus_mapping_free(map);
        modbus_free(ctx);
        return 1;
    }
    setStartValues(map);

    unsigned tick = 0;
    Clock::time_point nextTick = Clock::now() + kInputPeriod;
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stopRequested()) {
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {wakeFd(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, msUntil(options.frozen ? nullptr : &nextTick));
        if (rc < 0 && errno != EINTR) {
            std::perror("poll");
            break;
        }
        if (stopRequested())
            break;
        if (!options.frozen && Clock::now() >= nextTick) {
            advanceInputs(map, ++tick);
            setLiveValues(map, tick);
            nextTick += kInputPeriod;
        }
        if (rc <= 0 || !(fds[0].revents & POLLIN))
            continue;

        const int length = modbus_receive(ctx, query);
        if (length > 0 && options.silent) {
            std::fprintf(stderr, "modbus %s -> silent\n",
                         hexLine(query, static_cast<std::size_t>(length)).c_str());
        } else if (length > 0) {
            if (options.delayMs > 0) {
                // Requests arriving meanwhile wait in the pty for the next modbus_receive.
                pollfd wake{wakeFd(), POLLIN, 0};
                ::poll(&wake, 1, options.delayMs);
                if (stopRequested())
                    break;
            }
            // libmodbus answers an address or a quantity beyond the mapping with exception 02.
            const int sent = modbus_reply(ctx, query, length, map);
            std::fprintf(stderr, "modbus %s -> %d bytes\n",
                         hexLine(query, static_cast<std::size_t>(length)).c_str(), sent);
        } else if (length < 0) {
            std::fprintf(stderr, "modbus dropped: %s\n", modbus_strerror(errno));
        } else {
            // Addressed to another station: ignored silently as on a real bus. libmodbus 3.1.6
            // would then take the next request for a reply and drop it; a fresh context wouldn't.
            modbus_free(ctx);
            ctx = newContext(masterFd, devicePath, options.slaveId);
            if (!ctx)
                break;
        }
    }

    modbus_mapping_free(map);
    modbus_free(ctx);
    return ctx ? 0 : 1;
}

} // namespace devsim
