// Quick Send benchmark over pseudo-terminal pairs, without a window.
//   bench_answer [--exchanges N] [--chars N]   (0 skips a part)
// 1. Auto-answer latency: the device end writes "PING\r", the terminal's rule (delay 0) answers
//    "OK", and the device end times the exchange from its write to the answer readable; median
//    and p99 over N exchanges (default 10,000). The limit is a bare program that reads and
//    writes the terminal end of its own pair with plain read() and write(), timed the same way.
// 2. Pacing: a file of N characters (default 10,000) with 1 ms after each; the gaps between
//    arrivals at the device end (smallest and median) and the whole run against the schedule
//    (drift).
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/quick_send.h"
#include "logic/serial/port_map.h"
#include "pty_bench.h"

using namespace varnok;
using namespace varnok::bench;

namespace {

// The device end's side of N exchanges, timed.
std::vector<double> exchanges(int master, int n) {
    std::vector<double> times;
    times.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (::write(master, "PING\r", 5) != 5 || !readUntil(master, "OK"))
            break;
        times.push_back(us(Clock::now() - t0));
    }
    return times;
}

void print(const char* who, const std::vector<double>& t, int wanted) {
    std::printf("answer %s median_us=%.0f p99_us=%.0f exchanges=%zu/%d\n", who, percentile(t, 0.5),
                percentile(t, 0.99), t.size(), wanted);
    std::fflush(stdout);
}

void limit(int n) {
    Pair pair;
    std::atomic<bool> stop{false};
    std::thread echo([&] { // the bare answerer: read, look, write
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
            for (std::size_t at; (at = seen.find("PING\r")) != std::string::npos;) {
                seen.erase(0, at + 5);
                if (::write(pair.slave, "OK", 2) != 2)
                    return;
            }
            if (seen.size() > 4)
                seen.erase(0, seen.size() - 4);
        }
    });
    print("limit", exchanges(pair.master, n), n);
    stop = true;
    echo.join();
}

engine::TerminalEngine* openEngine(const Pair& pair) {
    serial::bindPort(1, pair.name);
    auto* e = new engine::TerminalEngine;
    QObject::connect(e, &engine::TerminalEngine::message, e, [](const QString& t) {
        std::fprintf(stderr, "message: %s\n", qPrintable(t));
    });
    if (!e->open({}))
        std::exit(2);
    return e;
}

void varnokAnswers(int n) {
    Pair pair;
    engine::TerminalEngine* e = openEngine(pair);
    engine::QuickSender q(e);
    engine::QuickSendBook book;
    book.entries = {{u"ok", u"OK"}};
    book.rules = {{{quicksend::PatternKind::Text, u"PING\\r"}, u"ok"}};
    book.answersPerSecond = 1'000'000; // the latency of every answer, not a flood guard
    q.setBook(book);
    std::vector<double> times;
    std::thread device([&] {
        times = exchanges(pair.master, n);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    device.join();
    print("varnok", times, n);
    delete e;
}

void paced(int chars) {
    Pair pair;
    engine::TerminalEngine* e = openEngine(pair);
    engine::QuickSender q(e);
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(std::size_t(chars));
    std::thread device([&] {
        char buf[4096];
        while (int(arrivals.size()) < chars) {
            pollfd p{pair.master, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                break;
            const ssize_t n = ::read(pair.master, buf, sizeof buf);
            const auto t = Clock::now();
            for (ssize_t i = 0; i < n; ++i)
                arrivals.push_back(t);
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    // Each write as the terminal hands it on: the device end's reader, woken late on a busy
    // machine, takes two characters in one read and sees a gap of 0 that the line never had.
    qint64 lastNs = 0, leastWriteNs = -1;
    QObject::connect(e, &engine::TerminalEngine::sent, &q,
                     [&](const QByteArray&, engine::TrafficTime t) {
                         const qint64 gap = t.monotonicNs - lastNs;
                         if (lastNs > 0 && (leastWriteNs < 0 || gap < leastWriteNs))
                             leastWriteNs = gap;
                         lastNs = t.monotonicNs;
                     });
    QTimer::singleShot(
        0, &q, [&] { q.startFile(QByteArray(chars, 'x'), quicksend::Pace::PerCharacter, 1); });
    QCoreApplication::exec();
    device.join();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(us(arrivals[i] - arrivals[i - 1]));
    if (std::getenv("VARNOK_GAPS"))
        for (double g : gaps)
            std::fprintf(stderr, "%.0f\n", g);
    const double total = arrivals.size() > 1 ? us(arrivals.back() - arrivals.front()) / 1000 : 0;
    const double expected = double(chars - 1);
    // The smallest gap shows a burst that the median hides: units sent back to back.
    const double least = gaps.empty() ? 0 : *std::min_element(gaps.begin(), gaps.end());
    std::printf("paced chars=%zu/%d min_write_gap_us=%.0f min_gap_us=%.0f median_gap_us=%.0f "
                "p99_gap_us=%.0f total_ms=%.1f scheduled_ms=%.0f drift_ms=%.1f\n",
                arrivals.size(), chars, double(leastWriteNs) / 1000, least, percentile(gaps, 0.5),
                percentile(gaps, 0.99), total, expected, total - expected);
    delete e;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int n = 10000, chars = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--exchanges"))
            n = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--chars"))
            chars = std::atoi(argv[i + 1]);
    }
    if (n > 0) {
        limit(n);
        varnokAnswers(n);
    }
    if (chars > 1)
        paced(chars);
    return 0;
}
