// Port B benchmark: the session without a window, on pseudo-terminal pairs.
//   bench_bus [--seconds N] [--rate BYTES_PER_S] [--rounds N]
// 1. Tap: a writer process feeds port A's and port B's device ends at the rate each, in
//    64-byte chunks, for N seconds (default 5); prints the bytes told for A and B against those
//    written and the share of a core this process took (getrusage over the wall time).
// 2. Bridge: port A on a pair, port B the pseudo-terminal the program makes; a process at
//    both far ends writes numbered bytes at the rate each way at once and checks every byte
//    read; prints bytes carried, order errors and the CPU share.
// 3. Bridge delay: 8-byte chunks ping-ponged through the bridge (default 2000 rounds); the
//    one-way time (median, p99) next to a bare poll() forwarder between two pairs of the same
//    kind, in the same run.
// Exits non-zero when a byte is lost or out of order.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/session.h"
#include "logic/serial/port_map.h"
#include "support/numbered_flood.h"
#include "support/pty_pair.h"

using namespace varnok;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int seconds = 5;
    double rate = 1200000;
    int rounds = 2000;
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void makeRaw(int fd) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// In a child process: the far ends' flood, its error count written to `report`.
[[noreturn]] void farEnds(const std::vector<int>& fds, bool check, qint64 total, double rate,
                          int report) {
    const long errors = test::numberedFlood(fds, {total, rate, check});
    const std::string line = std::to_string(errors) + "\n";
    [[maybe_unused]] auto w = ::write(report, line.data(), line.size());
    ::_exit(0);
}

// Runs the event loop until the child's report arrives; returns its error count.
long waitReport(int fd, pid_t child) {
    long errors = -1;
    QSocketNotifier n(fd, QSocketNotifier::Read);
    QObject::connect(&n, &QSocketNotifier::activated, &n, [&] {
        char buf[64] = {};
        if (::read(fd, buf, sizeof buf - 1) > 0)
            errors = std::atol(buf);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    ::waitpid(child, nullptr, 0);
    return errors;
}

bool runTap(const Options& o) {
    test::PtyPair a, b;
    serial::bindPort(1, a.slavePath().toStdString());
    serial::bindPort(2, b.slavePath().toStdString());
    engine::Session s;
    qint64 gotA = 0, gotB = 0;
    QObject::connect(&s.terminal(), &engine::TerminalEngine::received, &s,
                     [&](const QByteArray& x, engine::TrafficTime) { gotA += x.size(); });
    QObject::connect(&s.bus(), &engine::BusPorts::received, &s,
                     [&](const QByteArray& x, engine::TrafficTime) { gotB += x.size(); });
    if (!s.terminal().open({}) || !s.bus().startTap(2))
        return false;
    const qint64 total = qint64(o.rate * o.seconds);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    const pid_t child = ::fork();
    if (child == 0)
        farEnds({a.masterFd(), b.masterFd()}, false, total, o.rate, pipeFds[1]);
    waitReport(pipeFds[0], child);
    // The last bytes in flight when the writer ends.
    QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count() - 0.3;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("bus_tap varnok rate=%.0f seconds=%d written_each=%lld told_a=%lld told_b=%lld "
                "lost=%lld cpu_pct=%.1f\n",
                o.rate, o.seconds, qlonglong(total), qlonglong(gotA), qlonglong(gotB),
                qlonglong(2 * total - gotA - gotB), 100.0 * cpu / wall);
    s.shutdown();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    serial::clearPortBindings();
    return gotA == total && gotB == total;
}

bool runBridge(const Options& o) {
    test::PtyPair a;
    serial::bindPort(1, a.slavePath().toStdString());
    engine::Session s;
    if (!s.terminal().open({}) || !s.bus().startBridge(std::nullopt))
        return false;
    const int far = ::open(s.bus().ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    makeRaw(far);
    const qint64 total = qint64(o.rate * o.seconds);
    int pipeFds[2];
    if (far < 0 || ::pipe(pipeFds) != 0)
        return false;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    const pid_t child = ::fork();
    if (child == 0)
        farEnds({a.masterFd(), far}, true, total, o.rate, pipeFds[1]);
    const long errors = waitReport(pipeFds[0], child);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    std::printf("bus_bridge varnok rate=%.0f seconds=%d each_way=%lld to_a=%lld to_b=%lld "
                "errors=%ld peak_queue=%lld cpu_pct=%.1f\n",
                o.rate, o.seconds, qlonglong(total), qlonglong(s.bus().forwardedToA()),
                qlonglong(s.bus().forwardedToB()), errors, qlonglong(s.bus().peakQueued()),
                100.0 * cpu / wall);
    ::close(far);
    s.shutdown();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    serial::clearPortBindings();
    return errors == 0;
}

// Ping-pong from `in` to `out` and back; the one-way times in microseconds.
std::vector<double> pingPong(int in, int out, int rounds) {
    std::vector<double> us;
    char chunk[8] = {1, 2, 3, 4, 5, 6, 7, 8}, buf[64];
    for (int r = 0; r < 2 * rounds; ++r) {
        const int from = r % 2 ? out : in, to = r % 2 ? in : out;
        const auto t = Clock::now();
        if (::write(from, chunk, sizeof chunk) != ssize_t(sizeof chunk))
            break;
        std::size_t got = 0;
        while (got < sizeof chunk) {
            pollfd p{to, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return us;
            got += std::size_t(std::max<ssize_t>(::read(to, buf, sizeof buf), 0));
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    return us;
}

void printDelay(const char* who, std::vector<double> us, int rounds) {
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) {
        return us.empty() ? -1.0 : us[std::size_t(q * (us.size() - 1))];
    };
    std::printf("bus_delay %s median_us=%.0f p99_us=%.0f chunks=%zu of=%d\n", who, at(0.5),
                at(0.99), us.size(), 2 * rounds);
}

bool runDelay(const Options& o) {
    // The program between port A's pair and the pseudo-terminal it makes.
    test::PtyPair a;
    serial::bindPort(1, a.slavePath().toStdString());
    engine::Session s;
    if (!s.terminal().open({}) || !s.bus().startBridge(std::nullopt))
        return false;
    const int far = ::open(s.bus().ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    makeRaw(far);
    std::vector<double> us;
    std::atomic<bool> done{false};
    std::thread pinger([&] {
        us = pingPong(a.masterFd(), far, o.rounds);
        done = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    pinger.join();
    printDelay("varnok", us, o.rounds);
    const bool ok = us.size() == std::size_t(2 * o.rounds);
    ::close(far);
    s.shutdown();
    serial::clearPortBindings();

    // A bare forwarder: two pairs, a poll() loop between their master ends.
    int m1, s1, m2, s2;
    if (::openpty(&m1, &s1, nullptr, nullptr, nullptr) != 0 ||
        ::openpty(&m2, &s2, nullptr, nullptr, nullptr) != 0)
        return false;
    for (int fd : {m1, s1, m2, s2})
        makeRaw(fd);
    std::atomic<bool> stop{false};
    std::thread forwarder([&] {
        char buf[4096];
        while (!stop) {
            pollfd p[2] = {{m1, POLLIN, 0}, {m2, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i)
                if (p[i].revents & POLLIN) {
                    const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                    if (n > 0) [[maybe_unused]]
                        auto w = ::write(i ? m1 : m2, buf, std::size_t(n));
                }
        }
    });
    printDelay("bare_c", pingPong(s1, s2, o.rounds), o.rounds);
    stop = true;
    forwarder.join();
    for (int fd : {m1, s1, m2, s2})
        ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The bridge's link goes here, not where a running program has its own.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i];
        if (key == "--seconds")
            o.seconds = std::atoi(argv[i + 1]);
        else if (key == "--rate")
            o.rate = std::atof(argv[i + 1]);
        else if (key == "--rounds")
            o.rounds = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: bench_bus [--seconds N] [--rate BYTES_PER_S] "
                                 "[--rounds N]\n");
            return 2;
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    bool ok = true;
    if (o.seconds > 0) {
        ok = runTap(o) && ok;
        ok = runBridge(o) && ok;
    }
    if (o.rounds > 0)
        ok = runDelay(o) && ok;
    return ok ? 0 : 1;
}
