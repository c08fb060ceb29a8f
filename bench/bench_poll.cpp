// Back-to-back polling of 10 holding registers from the device simulator over a
// pseudo-terminal: the terminal's Modbus master, a plain C loop of libmodbus's
// modbus_read_registers and Debian's mbpoll at its fastest poll rate, one after the other on
// the same simulator. One line each: requests per second, this side's CPU per request (the
// simulator's excluded) and the 99th percentile of the time per request (mbpoll: between its
// polls, which include its own 10 ms period).
//   bench_poll [SECONDS per program, default 5]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <modbus/modbus.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench_simulator.h"
#include "engine/session.h"
#include "logic/serial/port_map.h"

using namespace varnok;

namespace {

double cpuSeconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::int64_t nowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void report(const char* who, std::vector<std::int64_t> timesUs, double seconds, double cpu) {
    const std::size_t n = timesUs.size();
    double p99 = 0;
    if (n > 0) {
        std::sort(timesUs.begin(), timesUs.end());
        p99 = double(timesUs[std::min(n - 1, (n * 99 + 99) / 100 - 1)]) / 1000;
    }
    std::printf("poll %s requests_per_s=%.0f cpu_us_per_request=%.1f p99_ms=%.2f\n", who,
                double(n) / seconds, n ? cpu * 1e6 / double(n) : 0.0, p99);
    std::fflush(stdout);
}

void runVarnok(const QString& path, double seconds) {
    serial::bindPort(1, path.toStdString());
    engine::Session session; // as the program runs it, with no window
    if (!session.terminal().open({})) {
        std::printf("poll varnok: the port did not open\n");
        return;
    }
    engine::ModbusMaster& m = session.master();
    if (const engine::Outcome taken = m.setReads({{{1, 3, 0, 10, {}, {}}, 0, 1000, 0}}); !taken) {
        std::printf("poll varnok: %s\n", qPrintable(taken.failure()));
        return;
    }
    std::vector<std::int64_t> times;
    std::int64_t last = 0;
    int failed = 0;
    QObject::connect(&m, &engine::ModbusMaster::done, &m, [&](const engine::PollResult& r) {
        const std::int64_t t = nowUs();
        if (!r.ok)
            ++failed;
        else if (last)
            times.push_back(t - last);
        last = t;
    });
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    m.start();
    QTimer::singleShot(int(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    m.stop();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    report("varnok", times, elapsed, cpuSeconds(RUSAGE_SELF) - cpu0);
    if (failed)
        std::printf("  (%d polls failed)\n", failed);
    // The request on the line when the time ran out is answered before the port closes: its
    // reply, left waiting, would be taken by the next program for the answer to its own first
    // request, and that one would run a reply ahead (two requests on the line at a time).
    QElapsedTimer drain;
    drain.start();
    while (m.busy() && drain.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    session.terminal().close();
}

void runLibmodbus(const QString& path, double seconds) {
    modbus_t* ctx = modbus_new_rtu(qPrintable(path), 115200, 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::printf("poll libmodbus: %s\n", modbus_strerror(errno));
        modbus_free(ctx);
        return;
    }
    modbus_flush(ctx); // whatever an earlier program left on the line
    std::vector<std::int64_t> times;
    std::uint16_t regs[10];
    int failed = 0;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    const std::int64_t start = nowUs(), end = start + std::int64_t(seconds * 1e6);
    for (std::int64_t t = start; t < end;) {
        const int rc = modbus_read_registers(ctx, 0, 10, regs);
        const std::int64_t after = nowUs();
        if (rc == 10)
            times.push_back(after - t);
        else
            ++failed;
        t = after;
    }
    report("libmodbus", times, double(nowUs() - start) / 1e6, cpuSeconds(RUSAGE_SELF) - cpu0);
    if (failed)
        std::printf("  (%d polls failed)\n", failed);
    modbus_close(ctx);
    modbus_free(ctx);
}

void runMbpoll(const QString& path, double seconds) {
    int out[2];
    if (::pipe(out) != 0)
        return;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    const std::string device = path.toStdString();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        // Line-buffered, so that each poll's lines arrive when it ends.
        ::execlp("stdbuf", "stdbuf", "-oL", "mbpoll", "-m", "rtu", "-b", "115200", "-P", "none",
                 "-a", "1", "-0", "-r", "0", "-c", "10", "-t", "4", "-l", "10", device.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* in = ::fdopen(out[0], "r");
    std::vector<std::int64_t> times;
    const std::int64_t start = nowUs(), end = start + std::int64_t(seconds * 1e6);
    std::int64_t last = 0;
    char line[256];
    while (nowUs() < end && std::fgets(line, sizeof line, in)) {
        if (std::string(line).find("Polling slave") == std::string::npos)
            continue;
        const std::int64_t t = nowUs();
        if (last)
            times.push_back(t - last);
        last = t;
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::fclose(in);
    if (times.empty()) {
        std::printf("poll mbpoll: not run (is Debian's mbpoll installed?)\n");
        return;
    }
    report("mbpoll", times, double(nowUs() - start) / 1e6, cpuSeconds(RUSAGE_CHILDREN) - cpu0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 5.0;
    // The simulator logs every request: to nowhere, so that its log costs it nothing here.
    bench::Simulator sim({QStringLiteral("--static")});
    const QString path = sim.path;
    if (path.isEmpty()) {
        std::fprintf(stderr, "bench_poll: the simulator did not start\n");
        return 1;
    }
    runVarnok(path, seconds);
    runLibmodbus(path, seconds);
    runMbpoll(path, seconds);
    return 0;
}
