#include "modbus_slave.h"

#include "sim_common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <poll.h>

namespace devsim {

namespace {

constexpr int kPoints = 64;
constexpr auto kInputPeriod = std::chrono::milliseconds(200);

// Inputs at start, and for good with --static: a fixed, recognisable pattern.
void setStartValues(modbus_mapping_t* map) {
    map->tab_registers[0] = 0x1234;
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

} // namespace

int runModbusSlave(int masterFd, const std::string& devicePath, const ModbusOptions& options) {
    // The context never opens the device itself: it talks over the pty master we hand it,
    // so its connect/close (and their termios handling) are never called.
    modbus_t* ctx = modbus_new_rtu(devicePath.c_str(), 9600, 'N', 8, 1);
    if (!ctx) {
        std::fprintf(stderr, "modbus_new_rtu: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_mapping_t* map = modbus_mapping_new(kPoints, kPoints, kPoints, kPoints);
    if (!map || modbus_set_slave(ctx, options.slaveId) != 0 ||
        modbus_set_socket(ctx, masterFd) != 0) {
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
            nextTick += kInputPeriod;
        }
        if (rc <= 0 || !(fds[0].revents & POLLIN))
            continue;

        const int length = modbus_receive(ctx, query);
        if (length > 0) {
            const int sent = modbus_reply(ctx, query, length, map);
            std::fprintf(stderr, "modbus %s -> %d bytes\n",
                         hexLine(query, static_cast<std::size_t>(length)).c_str(), sent);
        } else if (length < 0) {
            std::fprintf(stderr, "modbus dropped: %s\n", modbus_strerror(errno));
        }
        // length 0: addressed to another slave, ignored silently as on a real bus
    }

    modbus_mapping_free(map);
    modbus_free(ctx);
    return 0;
}

} // namespace devsim
