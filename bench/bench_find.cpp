// Finding the device simulator at station 200 over a pseudo-terminal at 115200 baud: the
// sweep of stations 1-247 at one setting with the automatic timeout (seconds, and ms per
// silent station against the probe's own time on the line); the sweep of the four default
// framings with the simulator at the last one tried, its estimate against the time it took;
// and a loop of Debian's mbpoll over the same stations with its smallest timeout (-o 0.01).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_simulator.h"
#include "engine/session.h"
#include "logic/serial/port_map.h"

using namespace varnok;

namespace {

std::int64_t nowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

serial::LineSettings framing(const char* text) {
    return serial::parseLineControl(std::string{char(text[1]), ',', text[0], ',', text[2]});
}

struct Run {
    double seconds = 0, plannedMs = 0;
    engine::FindAnswer found;
    bool any = false;
};

Run sweep(const QString& path, engine::FindRequest r) {
    serial::bindPort(1, path.toStdString());
    engine::Session session; // as the program runs it, with no window
    Run run;
    if (!session.terminal().open({})) {
        std::printf("find: the port did not open\n");
        return run;
    }
    engine::FindSweep& f = session.finder();
    QObject::connect(&f, &engine::FindSweep::answer, &f, [&](const engine::FindAnswer& a) {
        if (a.kind == engine::FindAnswer::Kind::Reply ||
            a.kind == engine::FindAnswer::Kind::Exception) {
            run.found = a;
            run.any = true;
        }
    });
    QObject::connect(&f, &engine::FindSweep::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const std::int64_t t0 = nowUs();
    if (!f.start(r))
        return run;
    run.plannedMs = f.plannedMs();
    QCoreApplication::exec();
    run.seconds = double(nowUs() - t0) / 1e6;
    session.terminal().close();
    return run;
}

// One mbpoll process per station, as a shell loop runs them; the seconds each took.
double mbpoll(const QString& path, int station) {
    const std::int64_t t0 = nowUs();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string a = std::to_string(station), dev = path.toStdString();
        ::execlp("mbpoll", "mbpoll", "-m", "rtu", "-b", "115200", "-P", "none", "-a", a.c_str(),
                 "-0", "-r", "0", "-c", "1", "-t", "4", "-1", "-o", "0.01", dev.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return -1;
    return double(nowUs() - t0) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const engine::FindRequest base = [] {
        engine::FindRequest r;
        r.bauds = {115200};
        r.framings = {framing("8N1")};
        return r;
    }();
    const serial::LineSettings line{115200};
    const modbus::PollRequest probe{200, 3, 0, 1, {}, {}};
    const double onLine = modbus::lineMs(line, double(modbus::buildRequest(probe).size()) +
                                                   double(modbus::replyLength(probe)));
    const int timeout = modbus::autoTimeoutMs(line, probe, base.allowanceMs);
    {
        bench::Simulator sim(
            {"--static", "--station", "200", "--baud", "115200", "--framing", "8N1"});
        const Run run = sweep(sim.path, base);
        const double foundMs = double(run.found.responseUs) / 1000;
        std::printf("find varnok seconds=%.3f ms_per_silent_station=%.2f found=%d "
                    "timeout_ms=%d probe_on_line_ms=%.2f reply_after_ms=%.2f\n",
                    run.seconds, (run.seconds * 1000 - foundMs) / 199, run.found.station, timeout,
                    onLine, foundMs);

        double silent = 0, last = 0;
        bool ran = true;
        for (int st = 1; st <= 200 && ran; ++st) {
            const double s = mbpoll(sim.path, st);
            ran = s >= 0;
            (st < 200 ? silent : last) += s;
        }
        if (ran)
            std::printf("find mbpoll seconds=%.3f ms_per_silent_station=%.2f (timeout -o 0.01, "
                        "one process per station)\n",
                        silent + last, silent * 1000 / 199);
        else
            std::printf("find mbpoll: not run (is Debian's mbpoll installed?)\n");
    }
    {
        // The four default framings; the one a pseudo-terminal can tell apart (its stop bits)
        // is given last, so that it is tried last: 8N1 goes first at 115200 as a likely one.
        engine::FindRequest r = base;
        r.framings = {framing("8E1"), framing("8O1"), framing("8N2"), framing("8N1")};
        const auto order = modbus::sweepOrder(r.bauds, r.framings);
        std::string names;
        double toFind = 0;
        for (const auto& s : order) {
            names += (names.empty() ? "" : ",") + modbus::framingName(s);
            toFind += s == order.back() ? modbus::kChangeMs + 199.0 * timeout
                                        : modbus::sweepMs({timeout}, 247);
        }
        bench::Simulator sim({"--static", "--station", "200", "--baud", "115200", "--framing",
                              QString::fromStdString(modbus::framingName(order.back()))});
        const Run run = sweep(sim.path, r);
        std::printf("find four_framings order=%s estimated_s=%.3f estimated_to_find_s=%.3f "
                    "actual_s=%.3f ratio=%.3f found=%s st %d\n",
                    names.c_str(), run.plannedMs / 1000, toFind / 1000, run.seconds,
                    run.seconds * 1000 / toFind,
                    run.any ? modbus::settingName(run.found.line).c_str() : "nothing",
                    run.found.station);
    }
    return 0;
}
