// Ports over the network against their reference sides, on this machine only:
//  - Modbus TCP against the libmodbus server of the tests (in a thread of this process):
//    a plain loop of libmodbus' modbus_read_registers (10 holding registers), Debian's
//    mbpoll and the program's master polling back to back, as requests per second;
//  - RFC 2217 through ser2net (chardelay off): the round trip of a bare client and of the
//    program's master to the simulator on a pseudo-terminal behind it (median and 99th
//    percentile), and a bare reader's receive rate while a writer fills the pseudo-terminal's
//    device end as fast as it takes bytes.
// One line each, "name program key=value ...".
//   bench_tcp [SECONDS per measurement, default 3]
#include <QCoreApplication>
#include <QTimer>

#include "engine/session.h"
#include "logic/serial/port_map.h"
#include "loopback/modbus_servers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using varnok::test::LibmodbusServer;
using namespace varnok;

namespace {

std::int64_t nowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

double threadCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The value below which `share` of the sorted times lie.
std::int64_t percentile(const std::vector<std::int64_t>& sorted, double share) {
    const std::size_t n = sorted.size();
    return sorted[std::min(n - 1, std::size_t(std::ceil(double(n) * share)) - 1)];
}

// Runs `args` (a program on PATH) with its output to `outFd` (or nowhere) and no input.
// The server's thread runs meanwhile: the child allocates nothing before it execs.
pid_t spawn(const std::vector<std::string>& args, int outFd = -1) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(outFd >= 0 ? outFd : null, 1);
    ::dup2(null, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

void end(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && ::waitpid(pid, nullptr, WNOHANG) != pid; ++i)
        ::usleep(10000);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void pollLibmodbus(std::uint16_t port, double seconds) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        std::printf("poll_tcp libmodbus: %s\n", modbus_strerror(errno));
        modbus_free(ctx);
        return;
    }
    std::vector<std::int64_t> times;
    std::uint16_t regs[10];
    int failed = 0;
    const double cpu0 = threadCpuSeconds();
    const std::int64_t start = nowUs(), until = start + std::int64_t(seconds * 1e6);
    for (std::int64_t t = start; t < until && times.size() < 10000000;) {
        const int rc = modbus_read_registers(ctx, 0, 10, regs);
        const std::int64_t after = nowUs();
        if (rc == 10)
            times.push_back(after - t);
        else
            ++failed;
        t = after;
    }
    const double elapsed = double(nowUs() - start) / 1e6, cpu = threadCpuSeconds() - cpu0;
    modbus_close(ctx);
    modbus_free(ctx);
    if (times.empty()) {
        std::printf("poll_tcp libmodbus: no read succeeded\n");
        return;
    }
    std::sort(times.begin(), times.end());
    std::printf("poll_tcp libmodbus requests_per_s=%.0f cpu_us_per_request=%.1f p99_us=%lld\n",
                double(times.size()) / elapsed, cpu * 1e6 / double(times.size()),
                static_cast<long long>(percentile(times, 0.99)));
    if (failed)
        std::printf("  (%d reads failed)\n", failed);
}

// mbpoll polls no faster than every 10 ms (-l > 10), so one unit in a loop says nothing of
// the link: it reads units 1..247 back to back instead (-1: once), run after run, and the
// rate counts its start-up and connection in each run's time.
void pollMbpoll(std::uint16_t port, double seconds) {
    long reads = 0;
    const std::int64_t start = nowUs(), until = start + std::int64_t(seconds * 1e6);
    for (int run = 0; run < 1000 && nowUs() < until; ++run) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        const pid_t pid = spawn({"mbpoll", "-m", "tcp", "-p", std::to_string(port), "-a", "1:247",
                                 "-r", "1", "-c", "10", "-o", "1", "-1", "127.0.0.1"},
                                out[1]);
        ::close(out[1]);
        FILE* in = ::fdopen(out[0], "r");
        char line[256];
        while (std::fgets(line, sizeof line, in))
            reads += std::strncmp(line, "[1]:", 4) == 0;
        std::fclose(in);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) {
            std::printf("poll_tcp mbpoll: not run (is Debian's mbpoll installed?)\n");
            return;
        }
    }
    std::printf("poll_tcp mbpoll requests_per_s=%.0f\n",
                double(reads) / (double(nowUs() - start) / 1e6));
}

// The program's Modbus master through the session, as bench_poll runs it: Com1 bound to
// `address` for this run, one read of `count` holding registers from station 1 back to back
// (one request on the line at a time). Times are from one result to the next, so they hold
// everything the program does per transaction; CPU is the main thread's, where the master runs.
struct MasterRun {
    std::vector<std::int64_t> times; // sorted
    double elapsed = 0, cpu = 0;
    int failed = 0;
    QString failure;
};

MasterRun runMaster(const std::string& address, int count, double seconds) {
    MasterRun run;
    serial::bindPort(1, address, serial::Binding::ForThisRun);
    engine::Session session;
    engine::TerminalEngine& terminal = session.terminal();
    QObject::connect(&terminal, &engine::TerminalEngine::message, qApp,
                     [&](const QString& text) { run.failure = text; });
    if (const engine::Outcome opened = terminal.open({}); !opened) {
        run.failure = opened.failure();
        return run;
    }
    engine::ModbusMaster& m = session.master();
    if (const engine::Outcome taken = m.setReads({{{1, 3, 0, count, {}, {}}, 0, 1000, 0}});
        !taken) {
        run.failure = taken.failure();
        return run;
    }
    std::int64_t last = 0, start = 0;
    double cpu0 = 0;
    QTimer deadline;
    deadline.setSingleShot(true);
    // Timing starts with the first result: the connection and negotiation stay out of it.
    QObject::connect(&m, &engine::ModbusMaster::done, qApp, [&](const engine::PollResult& r) {
        const std::int64_t t = nowUs();
        if (!start) {
            start = t;
            cpu0 = threadCpuSeconds();
            deadline.start(int(seconds * 1000));
        } else if (!r.ok) {
            ++run.failed;
        } else {
            run.times.push_back(t - last);
        }
        last = t;
        if (!m.polling() && !m.busy())
            QCoreApplication::quit();
    });
    // The request on the line when the time runs out is answered before the port closes.
    QObject::connect(&deadline, &QTimer::timeout, qApp, [&] {
        run.elapsed = double(nowUs() - start) / 1e6;
        run.cpu = threadCpuSeconds() - cpu0;
        m.stop();
        if (!m.busy())
            QCoreApplication::quit();
    });
    // A server that never answers ends the run with no figures rather than hanging it.
    QTimer::singleShot(int(seconds * 1000) + 10000, qApp, &QCoreApplication::quit);
    m.start();
    QCoreApplication::exec();
    m.stop();
    terminal.close();
    std::sort(run.times.begin(), run.times.end());
    return run;
}

void pollVarnokTcp(std::uint16_t port, double seconds) {
    const MasterRun run = runMaster("modbus-tcp://127.0.0.1:" + std::to_string(port), 10, seconds);
    if (run.times.empty() || run.elapsed <= 0) {
        std::printf("poll_tcp varnok: no read succeeded %s\n", qPrintable(run.failure));
        return;
    }
    const double n = double(run.times.size());
    std::printf("poll_tcp varnok requests_per_s=%.0f cpu_us_per_request=%.1f p99_us=%lld\n",
                n / run.elapsed, run.cpu * 1e6 / n,
                static_cast<long long>(percentile(run.times, 0.99)));
    if (run.failed)
        std::printf("  (%d reads failed)\n", run.failed);
}

// A bare RFC 2217 client: it agrees to binary, suppress-go-ahead and the COM port option,
// refuses the rest, and keeps the data with the Telnet commands taken out (0xFF undoubled).
struct TelnetClient {
    int fd = -1;
    std::vector<std::uint8_t> data;
    enum { Data, Iac, Option, Sub, SubIac } state = Data;
    std::uint8_t verb = 0;

    ~TelnetClient() {
        if (fd >= 0)
            ::close(fd);
    }
    void answer(std::uint8_t option) {
        const bool agreed = option == 0 || option == 3 || (option == 44 && verb == 253);
        const std::uint8_t reply[3] = {
            255, std::uint8_t(verb == 253 ? (agreed ? 251 : 252) : (agreed ? 253 : 254)), option};
        if (verb == 251 || verb == 253) [[maybe_unused]]
            const ssize_t n = ::send(fd, reply, 3, MSG_NOSIGNAL);
    }
    // Takes what arrives within `ms`; false once the far end is gone.
    bool pump(int ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return true;
        std::uint8_t buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = buffer[i];
            switch (state) {
            case Data:
                if (b == 255)
                    state = Iac;
                else
                    data.push_back(b);
                break;
            case Iac:
                state = b == 250 ? Sub : b >= 251 ? Option : Data;
                verb = b;
                if (b == 255)
                    data.push_back(b);
                break;
            case Option:
                answer(b);
                state = Data;
                break;
            case Sub:
                state = b == 255 ? SubIac : Sub;
                break;
            case SubIac:
                state = b == 240 ? Data : Sub;
                break;
            }
        }
        return true;
    }
};

void rttRfc2217(std::uint16_t port, double seconds) {
    TelnetClient c;
    c.fd = connectTo(port);
    const std::uint8_t request[8] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    std::vector<std::int64_t> times;
    int failed = 0;
    const std::int64_t until = nowUs() + std::int64_t(seconds * 1e6);
    // The first 20 let the negotiation settle and are not counted.
    for (int i = 0; c.fd >= 0 && i < 20 + 100000 && nowUs() < until; ++i) {
        c.data.clear();
        const std::int64_t t = nowUs();
        if (::send(c.fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request)
            break;
        while (c.data.size() < 7 && nowUs() - t < 1000000 && c.pump(100)) {
        }
        if (c.data.size() < 7 || c.data[0] != 1 || c.data[3] != 0x12 || c.data[4] != 0x34)
            ++failed;
        else if (i >= 20)
            times.push_back(nowUs() - t);
    }
    if (times.empty()) {
        std::printf("rtt_rfc2217 bare: no round trip succeeded\n");
        return;
    }
    std::sort(times.begin(), times.end());
    std::printf("rtt_rfc2217 bare median_us=%lld p99_us=%lld requests=%zu\n",
                static_cast<long long>(percentile(times, 0.5)),
                static_cast<long long>(percentile(times, 0.99)), times.size());
    if (failed)
        std::printf("  (%d round trips failed)\n", failed);
}

// The program's master on the same RFC 2217 port, one request of one register at a time as
// the bare client sends it.
void rttVarnok(std::uint16_t port, double seconds) {
    const MasterRun run = runMaster("rfc2217://127.0.0.1:" + std::to_string(port), 1, seconds);
    if (run.times.empty()) {
        std::printf("rtt_rfc2217 varnok: no round trip succeeded %s\n", qPrintable(run.failure));
        return;
    }
    std::printf("rtt_rfc2217 varnok median_us=%lld p99_us=%lld requests=%zu\n",
                static_cast<long long>(percentile(run.times, 0.5)),
                static_cast<long long>(percentile(run.times, 0.99)), run.times.size());
    if (run.failed)
        std::printf("  (%d round trips failed)\n", run.failed);
}

// The writer fills the pseudo-terminal's device end as fast as the reader takes bytes; the
// bytes carry no 0xFF, which Telnet would double.
void rxRfc2217(std::uint16_t port, int deviceFd, double seconds) {
    TelnetClient c;
    c.fd = connectTo(port);
    std::atomic<bool> stop{false};
    ::fcntl(deviceFd, F_SETFL, ::fcntl(deviceFd, F_GETFL) | O_NONBLOCK);
    std::thread writer([&] {
        const std::vector<char> chunk(4096, 'U');
        while (!stop) {
            pollfd p{deviceFd, POLLOUT, 0};
            if (::poll(&p, 1, 50) > 0) [[maybe_unused]]
                const ssize_t n = ::write(deviceFd, chunk.data(), chunk.size());
        }
    });
    const std::int64_t warm = nowUs() + 300000;
    while (c.fd >= 0 && nowUs() < warm && c.pump(50)) {
    }
    c.data.clear();
    const std::int64_t start = nowUs(), until = start + std::int64_t(seconds * 1e6);
    std::size_t bytes = 0;
    while (c.fd >= 0 && nowUs() < until && c.pump(50)) {
        bytes += c.data.size();
        c.data.clear();
    }
    const double elapsed = double(nowUs() - start) / 1e6;
    stop = true;
    writer.join();
    std::printf("rx_rfc2217 limit bytes_per_s=%.0f\n", double(bytes) / elapsed);
}

// ser2net serving the simulator's device (round trips) and a pseudo-terminal of this process
// (receive rate) as RFC 2217, without its wait of two character times.
void throughSer2net(double seconds) {
    std::string ser2net = "/usr/sbin/ser2net";
    if (::access(ser2net.c_str(), X_OK) != 0)
        ser2net = "ser2net";
    char dirName[] = "/tmp/bench_tcp.XXXXXX";
    if (!::mkdtemp(dirName))
        return;
    const std::string dir = dirName;

    int out[2];
    if (::pipe(out) != 0)
        return;
    const pid_t sim = spawn({VARNOK_DEVSIM, "--static"}, out[1]);
    ::close(out[1]);
    char line[256] = {};
    FILE* simOut = ::fdopen(out[0], "r");
    const bool simUp = std::fgets(line, sizeof line, simOut) && !std::strncmp(line, "DEVICE ", 7);
    std::string simDevice = simUp ? std::string(line + 7) : std::string();
    if (!simDevice.empty())
        simDevice.pop_back();

    int device = -1, terminal = -1;
    char terminalName[128] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    const bool pty = ::openpty(&device, &terminal, terminalName, &raw, nullptr) == 0;

    const std::uint16_t rttPort = varnok::test::freeTcpPort(), rxPort = varnok::test::freeTcpPort();
    const std::string config = dir + "/ser2net.yaml";
    if (FILE* f = std::fopen(config.c_str(), "w")) {
        const char* options = "  options:\n    kickolduser: true\n    chardelay: false\n";
        std::fprintf(f,
                     "%%YAML 1.1\n---\nconnection: &rtt\n"
                     "  accepter: telnet(rfc2217),tcp,127.0.0.1,%u\n"
                     "  connector: serialdev,%s,115200n81,local\n%s"
                     "connection: &rx\n"
                     "  accepter: telnet(rfc2217),tcp,127.0.0.1,%u\n"
                     "  connector: serialdev,%s,115200n81,local\n%s",
                     rttPort, simDevice.c_str(), options, rxPort, terminalName, options);
        std::fclose(f);
    }
    const pid_t server =
        simUp && pty ? spawn({ser2net, "-n", "-u", "-c", config, "-P", dir + "/ser2net.pid"}) : -1;
    int status = 0;
    if (!simUp || !pty) {
        std::printf("rtt_rfc2217 bare: the simulator or a pseudo-terminal did not start\n");
    } else if (!varnok::test::waitForListening(rttPort, 5000) ||
               !varnok::test::waitForListening(rxPort, 1000)) {
        const bool gone = ::waitpid(server, &status, WNOHANG) == server;
        std::printf("rtt_rfc2217 bare: not run (%s)\n", gone && WEXITSTATUS(status) == 127
                                                            ? "is Debian's ser2net installed?"
                                                            : "ser2net did not serve its ports");
    } else {
        rttRfc2217(rttPort, seconds);
        rttVarnok(rttPort, seconds);
        rxRfc2217(rxPort, device, seconds);
    }
    if (server > 0)
        end(server);
    end(sim);
    std::fclose(simOut);
    if (pty) {
        ::close(device);
        ::close(terminal);
    }
    ::unlink(config.c_str());
    ::rmdir(dir.c_str());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    const double seconds = argc > 1 ? std::clamp(std::atof(argv[1]), 0.5, 600.0) : 3.0;
    LibmodbusServer server;
    if (!server.start()) {
        std::fprintf(stderr, "bench_tcp: the libmodbus server did not start\n");
        return 1;
    }
    pollLibmodbus(server.port(), seconds);
    pollMbpoll(server.port(), seconds);
    pollVarnokTcp(server.port(), seconds);
    std::fflush(stdout);
    server.stop();
    throughSer2net(seconds);
    return 0;
}
