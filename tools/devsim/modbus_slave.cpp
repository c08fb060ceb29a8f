#include "modbus_slave.h"

#include "sim_common.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

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

// The context never opens the device itself: it talks over one end of a socket pair whose
// other end this loop feeds with one request at a time from the pseudo-terminal, and reads
// its reply back from, so that a reply can be garbled and 43/14 answered here.
modbus_t* newContext(int fd, const std::string& devicePath, int slaveId) {
    modbus_t* ctx = modbus_new_rtu(devicePath.c_str(), 9600, 'N', 8, 1);
    if (ctx && (modbus_set_slave(ctx, slaveId) != 0 || modbus_set_socket(ctx, fd) != 0 ||
                modbus_set_byte_timeout(ctx, 0, 20000) != 0)) {
        modbus_free(ctx);
        return nullptr;
    }
    return ctx;
}

using Bytes = std::vector<std::uint8_t>;

// The station's own CRC-16, bit by bit: a peer independent of the terminal's tables.
std::uint16_t crcOf(const Bytes& f, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= f[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

bool crcOk(const Bytes& f) {
    if (f.size() < 4)
        return false;
    const std::uint16_t crc = crcOf(f, f.size() - 2);
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

void addCrc(Bytes& f) {
    const std::uint16_t crc = crcOf(f, f.size());
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// How long the request at the front is: 0 while its first bytes do not tell yet, -1 for a
// function whose length only the line's silence ends.
long requestLength(const Bytes& in) {
    if (in.size() < 2)
        return 0;
    switch (in[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return 8;
    case 15:
    case 16:
        return in.size() < 7 ? 0 : 9 + static_cast<long>(in[6]);
    case 17:
        return 4;
    case 43:
        return 7;
    default:
        return -1;
    }
}

// The speed and stop bits the terminal's end is at. The device end (the master) of a Unix98
// pseudo-terminal reads the terminal end's termios through tcgetattr: speed and CSTOPB as the
// terminal set them (seen here: 9600 and 2 stop bits), while CS8 is forced and PARENB always
// cleared, so data bits and parity cannot be seen from this end.
struct Seen {
    int baud = 0;
    int stopBits = 1;
};
Seen seenSetting(int fd) {
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {{B300, 300},      {B600, 600},       {B1200, 1200},     {B2400, 2400},
                  {B4800, 4800},    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                  {B57600, 57600},  {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
                  {B921600, 921600}};
    termios t{};
    Seen s;
    if (::tcgetattr(fd, &t) != 0)
        return s;
    for (const auto& sp : speeds)
        if (cfgetospeed(&t) == sp.code)
            s.baud = sp.baud;
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}

// 43/14 basic objects: VendorName, ProductCode, MajorMinorRevision, in one reply.
Bytes identification(std::uint8_t station) {
    Bytes f{station, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x03};
    const char* objects[] = {"Varnok", "DEVSIM", "1.0"};
    for (std::uint8_t id = 0; id < 3; ++id) {
        f.push_back(id);
        f.push_back(static_cast<std::uint8_t>(std::strlen(objects[id])));
        f.insert(f.end(), objects[id], objects[id] + std::strlen(objects[id]));
    }
    addCrc(f);
    return f;
}

void drain(int fd) {
    std::uint8_t junk[512];
    while (::recv(fd, junk, sizeof junk, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

int runModbusSlave(int masterFd, const std::string& devicePath, const ModbusOptions& options) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        std::perror("socketpair");
        return 1;
    }
    const int feed = pair[0], own = pair[1];
    modbus_t* ctx = newContext(own, devicePath, options.slaveId);
    modbus_mapping_t* map = modbus_mapping_new(kPoints, kPoints, kPoints, kPoints);
    if (!ctx || !map) {
        std::fprintf(stderr, "modbus setup: %s\n", modbus_strerror(errno));
        modbus_mapping_free(map);
        modbus_free(ctx);
        return 1;
    }
    setStartValues(map);

    // One request, whole: answered (perhaps garbled), ignored or dropped, and logged. A Modbus
    // TCP client's request comes as the RTU frame of its unit and PDU, and its reply goes back
    // to `client` with the request's MBAP header (transaction id echoed), never garbled.
    const auto serve = [&](const Bytes& request, int client = -1, const Bytes& mbap = {}) {
        const char* via = client < 0 ? "modbus" : "modbus-tcp";
        const std::string hex = client < 0 ? hexLine(request.data(), request.size())
                                           : hexLine(mbap.data(), mbap.size());
        if (options.silent) {
            std::fprintf(stderr, "%s %s -> silent\n", via, hex.c_str());
            return true;
        }
        Bytes reply;
        if (request.size() == 7 && request[1] == 43 && request[0] == options.slaveId &&
            request[2] == 0x0E && crcOk(request)) {
            reply = identification(request[0]);
        } else {
            writeAll(feed, reinterpret_cast<const char*>(request.data()), request.size());
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            const int length = modbus_receive(ctx, query);
            if (length > 0) {
                modbus_reply(ctx, query, length, map);
                std::uint8_t out[MODBUS_RTU_MAX_ADU_LENGTH];
                const ssize_t n = ::recv(feed, out, sizeof out, MSG_DONTWAIT);
                if (n > 0)
                    reply.assign(out, out + n);
            } else if (length < 0) {
                std::fprintf(stderr, "modbus dropped: %s\n", modbus_strerror(errno));
            } else {
                // Addressed to another station: ignored silently as on a real bus. libmodbus
                // 3.1.6 would then take the next request for a reply and drop it; a fresh
                // context wouldn't.
                modbus_free(ctx);
                ctx = newContext(own, devicePath, options.slaveId);
                if (!ctx)
                    return false;
            }
            drain(own); // what libmodbus left of a request it could not read
        }
        if (reply.empty())
            return true;
        if (options.delayMs > 0) {
            // Requests arriving meanwhile wait in the pty for the next read.
            pollfd wake{wakeFd(), POLLIN, 0};
            ::poll(&wake, 1, options.delayMs);
            if (stopRequested())
                return false;
        }
        if (client >= 0) {
            Bytes out(mbap.begin(), mbap.begin() + 7);
            const std::size_t length = reply.size() - 2; // unit and PDU, without the CRC
            out[4] = static_cast<std::uint8_t>(length >> 8);
            out[5] = static_cast<std::uint8_t>(length);
            out[6] = mbap[6];
            out.insert(out.end(), reply.begin() + 1, reply.end() - 2);
            writeAll(client, reinterpret_cast<const char*>(out.data()), out.size());
            std::fprintf(stderr, "%s %s -> %zu bytes\n", via, hex.c_str(), out.size());
            return true;
        }
        const Seen seen = seenSetting(masterFd);
        const bool garbled = (options.baud && seen.baud != options.baud) ||
                             (options.stopBits && seen.stopBits != options.stopBits);
        // At another speed or framing the terminal gets characters broken up: bytes with the
        // high bits set here, so that no station byte (and no frame) can be found in them.
        if (garbled)
            for (std::uint8_t& b : reply)
                b = static_cast<std::uint8_t>(0xF8 | (b & 0x07));
        writeAll(masterFd, reinterpret_cast<const char*>(reply.data()), reply.size());
        std::fprintf(stderr, "modbus %s -> %zu bytes%s\n", hex.c_str(), reply.size(),
                     garbled ? " garbled (the line is at another setting)" : "");
        return true;
    };

    // Modbus TCP clients, each with the bytes of its next request so far. A request is the
    // MBAP header (transaction, protocol 0, length, unit) and the PDU; unit 255 stands for
    // this station, as for a device reached only over TCP.
    struct Client {
        int fd;
        Bytes in;
    };
    std::vector<Client> clients;
    const auto serveClient = [&](Client& c) {
        std::uint8_t buffer[512];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return n < 0 && errno == EAGAIN;
        c.in.insert(c.in.end(), buffer, buffer + n);
        while (c.in.size() >= 7) {
            const std::size_t length = static_cast<std::size_t>(c.in[4] << 8 | c.in[5]);
            if (c.in[2] != 0 || c.in[3] != 0 || length < 2 || length > 254) {
                std::fprintf(stderr, "modbus-tcp %s -> connection closed (not a request)\n",
                             hexLine(c.in.data(), std::min<std::size_t>(c.in.size(), 7)).c_str());
                return false;
            }
            if (c.in.size() < 6 + length)
                break;
            const Bytes mbap(c.in.begin(), c.in.begin() + static_cast<long>(6 + length));
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(6 + length));
            Bytes request(mbap.begin() + 6, mbap.end());
            if (request[0] == 255)
                request[0] = static_cast<std::uint8_t>(options.slaveId);
            addCrc(request);
            if (!serve(request, c.fd, mbap))
                return false;
        }
        return true;
    };

    unsigned tick = 0;
    Clock::time_point nextTick = Clock::now() + kInputPeriod;
    Bytes in;
    std::optional<Clock::time_point> quiet; // bytes not yet a whole request end here
    bool running = true;
    while (running && !stopRequested()) {
        const Clock::time_point* due = options.frozen ? nullptr : &nextTick;
        if (quiet && (!due || *quiet < *due))
            due = &*quiet;
        std::vector<pollfd> fds{{masterFd, POLLIN, 0}, {wakeFd(), POLLIN, 0}};
        if (options.listenFd >= 0)
            fds.push_back({options.listenFd, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        const int rc = ::poll(fds.data(), fds.size(), msUntil(due));
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
        if (rc > 0 && options.listenFd >= 0) {
            for (std::size_t i = 3; i < fds.size(); ++i)
                if (fds[i].revents && !serveClient(clients[i - 3])) {
                    ::close(clients[i - 3].fd);
                    clients[i - 3].fd = -1;
                }
            std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
            if (fds[2].revents & POLLIN) {
                const int fd = ::accept4(options.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    clients.push_back({fd, {}});
            }
        }
        bool got = false;
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            std::uint8_t buffer[512];
            const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
            if (n > 0)
                in.insert(in.end(), buffer, buffer + n);
            got = n > 0;
        }
        while (running && !in.empty()) {
            const long length = requestLength(in);
            if (length > 0 && static_cast<std::size_t>(length) <= in.size()) {
                const Bytes request(in.begin(), in.begin() + length);
                in.erase(in.begin(), in.begin() + length);
                running = serve(request);
                continue;
            }
            // A request of unknown length, or bytes that never complete one: the line's
            // silence ends them (served, or dropped).
            if (got || !quiet)
                quiet = Clock::now() + std::chrono::milliseconds(length < 0 ? 5 : 50);
            if (Clock::now() < *quiet)
                break;
            Bytes request;
            request.swap(in);
            if (length < 0)
                running = serve(request);
            else
                std::fprintf(stderr, "modbus %s -> dropped (incomplete)\n",
                             hexLine(request.data(), request.size()).c_str());
        }
        if (in.empty())
            quiet.reset();
    }

    for (const Client& c : clients)
        ::close(c.fd);
    modbus_mapping_free(map);
    modbus_free(ctx);
    ::close(feed);
    ::close(own);
    return ctx ? 0 : 1;
}

} // namespace devsim
