#pragma once
// Modbus servers on 127.0.0.1 for tests and benchmarks, each on a free port of its own and
// started and stopped by its owner. Both hold the same data from address 0, for i < 100:
// holding register i = 1000 + i, input register i = 2000 + i, coil and discrete input
// i = i % 2. Plain C++ and POSIX, so benchmarks use them without Qt.
#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace varnok::test {

inline constexpr int kServerPoints = 100;

// A port on 127.0.0.1 that nothing listens on right now.
std::uint16_t freeTcpPort();
// Polls until a connection to 127.0.0.1:port is accepted or `ms` passed.
bool waitForListening(std::uint16_t port, int ms);

// pymodbus (Debian's python3-pymodbus) as a child process of /usr/bin/python3, or of
// $VARNOK_PYTHON: the python3 found on PATH may be one without pymodbus.
class PymodbusServer {
  public:
    enum class Framing { Tcp, RtuOverTcp };
    PymodbusServer() = default;
    ~PymodbusServer() { stop(); }
    PymodbusServer(const PymodbusServer&) = delete;
    PymodbusServer& operator=(const PymodbusServer&) = delete;

    // Why it cannot run here (no interpreter, no pymodbus), or empty: for QSKIP.
    static std::string unavailable();
    // Serves every unit id, or only `units` (the others get no reply); returns once the port
    // accepts connections.
    bool start(Framing framing, const std::vector<int>& units = {});
    std::uint16_t port() const { return port_; }
    // By process id: SIGTERM, then SIGKILL (pymodbus' own stop sleeps 10 s).
    void stop();

  private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

// Ways to answer wrongly, for the rows of faults; the default answers correctly.
struct ServerFaults {
    bool wrongTransaction = false; // the transaction id of the request + 1
    int protocolId = 0;            // in every reply's MBAP header
    int length = -1;               // the MBAP length field of every reply (e.g. 0, 300)
    int closeAfter = -1;           // answers this many requests, then closes on the next one
};

// libmodbus serving Modbus TCP in a thread of this process; any unit id is answered.
class LibmodbusServer {
  public:
    LibmodbusServer() = default;
    ~LibmodbusServer() { stop(); }
    LibmodbusServer(const LibmodbusServer&) = delete;
    LibmodbusServer& operator=(const LibmodbusServer&) = delete;

    // On `port`, or a free one: a server started again on its old port is the one a client
    // lost and finds again.
    bool start(const ServerFaults& faults = {}, std::uint16_t port = 0);
    std::uint16_t port() const { return port_; }
    // Requests received since the start, on all connections.
    int requests() const { return requests_.load(); }
    void stop();

  private:
    std::thread thread_;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> requests_{0};
};

} // namespace varnok::test
