// Scripts against the line, without a window, each beside its reference in the same run.
//   bench_script [--exchanges N] [--seconds S] [--starts N]   (0 skips a part)
// 1. script_answer: the device end of a pseudo-terminal pair writes "PING<n>\n" and times the
//    exchange until "PONG<n>\n" is readable; a script answers with expect() and send(). The
//    reference is a bare C loop answering on its own pair with read() and write(); the device
//    end asks one and then the other, N times each (default 2000).
// 2. script_modbus: modbus.read of 10 holding registers back to back in a script against the
//    simulator, beside the Modbus master's own back-to-back rate (as bench_poll measures it),
//    in ten rounds of each taking turns over S seconds (default 5).
// 3. script_start: from the start of `varnok-binary --script` to its first byte on the line.
#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_simulator.h"
#include "engine/session.h"
#include "logic/serial/port_map.h"
#include "pty_bench.h"

using namespace varnok;
using namespace varnok::bench;

namespace {

// The device end's side of exchange i, timed in µs; false when the answer did not come.
bool exchange(int master, int i, std::vector<double>& times) {
    const std::string ping = "PING" + std::to_string(i) + "\n";
    const auto t0 = Clock::now();
    if (::write(master, ping.data(), ping.size()) != ssize_t(ping.size()) ||
        !readUntil(master, "PONG" + std::to_string(i) + "\n"))
        return false;
    times.push_back(us(Clock::now() - t0));
    return true;
}

// The bare answerer on its own pair: read, find a whole "PING<n>\n", write "PONG<n>\n".
struct BareAnswerer {
    Pair pair;
    std::atomic<bool> stop{false};
    std::thread answerer{[this] {
        std::string seen;
        char buf[256];
        while (!stop) {
            pollfd p{pair.slave, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t got = ::read(pair.slave, buf, sizeof buf);
            if (got <= 0)
                break;
            seen.append(buf, std::size_t(got));
            for (std::size_t at, end; (at = seen.find("PING")) != std::string::npos &&
                                      (end = seen.find('\n', at)) != std::string::npos;) {
                const std::string pong = "PONG" + seen.substr(at + 4, end - at - 3);
                seen.erase(0, end + 1);
                if (::write(pair.slave, pong.data(), pong.size()) != ssize_t(pong.size()))
                    return;
            }
        }
    }};
    ~BareAnswerer() {
        stop = true;
        answerer.join();
    }
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs `source` in the session's runner until it ends; what it prints is returned.
QString runScript(engine::Session& session, const char* source, const QStringList& args = {}) {
    QString printed;
    engine::ScriptRunner& runner = session.script();
    const auto out = QObject::connect(&runner, &engine::ScriptRunner::output, &runner,
                                      [&](const QString& text) { printed += text; });
    const auto end = QObject::connect(
        &runner, &engine::ScriptRunner::finished, &runner, [](const engine::ScriptResult& r) {
            if (!r.error.isEmpty())
                std::fprintf(stderr, "script: %s\n", qPrintable(r.error));
            QCoreApplication::quit();
        });
    if (const engine::Outcome started = runner.run(source, QStringLiteral("bench.lua"), args);
        !started) {
        std::fprintf(stderr, "script: %s\n", qPrintable(started.failure()));
    } else {
        QCoreApplication::exec();
    }
    QObject::disconnect(out);
    QObject::disconnect(end);
    return printed;
}

const char kAnswerScript[] = R"(
open{port = 1}
print("ready")
while true do
    local m = expect("PING%d+\n", 5000)
    if not m then break end
    send("PONG" .. m:sub(5))
end
)";

// The two answerers take turns exchange by exchange, so that what else the machine runs
// weighs on both alike.
void scriptAnswer(int n) {
    BareAnswerer bareAnswerer;
    Pair pair;
    serial::bindPort(1, pair.name);
    engine::Session session;
    std::vector<double> bare, times;
    bare.reserve(std::size_t(n));
    times.reserve(std::size_t(n));
    std::atomic<bool> ready{false}; // the port is open: what the device end writes is seen
    QObject::connect(&session.script(), &engine::ScriptRunner::output, &session,
                     [&ready] { ready = true; });
    std::thread device([&] {
        while (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < n; ++i)
            if (!exchange(bareAnswerer.pair.master, i, bare) || !exchange(pair.master, i, times))
                break;
        // The script ends at its next expect's timeout; the device end does not wait for it.
        QMetaObject::invokeMethod(
            qApp, [&session] { session.script().stop(); }, Qt::QueuedConnection);
    });
    runScript(session, kAnswerScript);
    device.join();
    const double median = percentile(times, 0.5), bareMedian = percentile(bare, 0.5);
    std::printf("script_answer bare_c median_us=%.0f p99_us=%.0f exchanges=%zu/%d\n", bareMedian,
                percentile(bare, 0.99), bare.size(), n);
    std::printf("script_answer varnok median_us=%.0f p99_us=%.0f exchanges=%zu/%d "
                "times_bare=%.2f\n",
                median, percentile(times, 0.99), times.size(), n,
                bareMedian > 0 ? median / bareMedian : 0.0);
    std::fflush(stdout);
    session.shutdown();
}

const char kModbusScript[] = R"(
open{port = 1, baud = 115200}
local ms, n, failed = tonumber(arg[1]), 0, 0
local t0 = now()
while now() - t0 < ms do
    if modbus.read(1, 3, 0, 10) then n = n + 1 else failed = failed + 1 end
end
print(string.format("%d %d %.0f", n, failed, now() - t0))
)";

// The master's own rate: one read of 10 registers after another for `seconds`.
double masterRate(engine::Session& session, double seconds) {
    if (session.terminal().isOpen())
        session.terminal().close(); // as the script left it
    if (!session.terminal().open({}))
        return 0;
    engine::ModbusMaster& m = session.master();
    if (!m.setReads({{{1, 3, 0, 10, {}, {}}, 0, 1000, 0}}))
        return 0;
    int done = 0;
    const auto counted = QObject::connect(&m, &engine::ModbusMaster::done, &m,
                                          [&](const engine::PollResult& r) { done += r.ok; });
    const auto t0 = Clock::now();
    m.start();
    QTimer::singleShot(int(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    m.stop();
    const double elapsed = us(Clock::now() - t0) / 1e6;
    QObject::disconnect(counted);
    // The reply to the last request is let in before the port closes, so the script's first
    // request does not get it.
    QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    session.terminal().close();
    return double(done) / elapsed;
}

void scriptModbus(double seconds) {
    bench::Simulator sim({QStringLiteral("--static")});
    const QString path = sim.path;
    if (path.isEmpty()) {
        std::fprintf(stderr, "bench_script: the simulator did not start\n");
        return;
    }
    serial::bindPort(1, path.toStdString());
    engine::Session session;
    // Rounds of one and then the other, so that a machine busy for a while weighs on both;
    // the medians and the median of the rounds' ratios are told.
    constexpr int kRounds = 10;
    const double each = seconds / kRounds;
    std::vector<double> masters, scripts, ratios, masterCpu, scriptCpu;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double cpu0 = cpuSeconds();
        const double master = masterRate(session, each);
        const double cpu1 = cpuSeconds();
        const QStringList got =
            runScript(session, kModbusScript, {QString::number(int(each * 1000))})
                .trimmed()
                .split(u' ');
        if (got.size() != 3 || got[2].toDouble() <= 0 || master <= 0)
            continue;
        if (std::getenv("VARNOK_ROUNDS"))
            std::fprintf(stderr, "round %d master=%.0f script=%s\n", round, master,
                         qPrintable(got.join(u' ')));
        const double rate = got[0].toDouble() * 1000 / got[2].toDouble();
        failed += got[1].toInt();
        // This process's CPU per read: what the script costs, whatever else the machine runs.
        masterCpu.push_back((cpu1 - cpu0) * 1e6 / (master * each));
        scriptCpu.push_back((cpuSeconds() - cpu1) * 1e6 / std::max(1.0, got[0].toDouble()));
        masters.push_back(master);
        scripts.push_back(rate);
        ratios.push_back(rate / master);
    }
    std::printf("script_modbus master rate=%.0f cpu_us_per_read=%.0f rounds=%zu\n",
                percentile(masters, 0.5), percentile(masterCpu, 0.5), masters.size());
    std::printf("script_modbus varnok rate=%.0f cpu_us_per_read=%.0f failed=%d of_master=%.2f "
                "(rounds %.2f..%.2f)\n",
                percentile(scripts, 0.5), percentile(scriptCpu, 0.5), failed,
                percentile(ratios, 0.5),
                ratios.empty() ? 0.0 : *std::min_element(ratios.begin(), ratios.end()),
                ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
    std::fflush(stdout);
    session.shutdown();
}

// From the fork of `varnok-binary --script` to its first byte at the device end.
void scriptStart(int starts) {
    char dir[] = "/tmp/bench_script_XXXXXX";
    if (!::mkdtemp(dir))
        return;
    const std::string file = std::string(dir) + "/start.lua";
    if (FILE* f = std::fopen(file.c_str(), "w")) {
        std::fputs("open{port = 1}\nsend(\"X\")\n", f);
        std::fclose(f);
    }
    std::vector<double> times;
    for (int i = 0; i < starts; ++i) {
        Pair pair;
        const std::string binding = std::string("Com1=") + pair.name;
        const auto t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(VARNOK_BINARY, VARNOK_BINARY, "--script", file.c_str(), "--port",
                    binding.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (readUntil(pair.master, "X", 5000))
            times.push_back(us(Clock::now() - t0) / 1000);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    std::printf("script_start varnok ms=%.1f max_ms=%.1f starts=%zu/%d\n", percentile(times, 0.5),
                times.empty() ? 0.0 : *std::max_element(times.begin(), times.end()), times.size(),
                starts);
    std::fflush(stdout);
    std::remove(file.c_str());
    ::rmdir(dir);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int n = 2000, starts = 10;
    double seconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--exchanges"))
            n = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--starts"))
            starts = std::atoi(argv[i + 1]);
    }
    if (n > 0)
        scriptAnswer(n);
    if (seconds > 0)
        scriptModbus(seconds);
    if (starts > 0)
        scriptStart(starts);
    return 0;
}
