// The Poll window under load: the simulator's live registers polled back to back with their
// rows charted, while a 100 ms timer measures how late the event loop lets it fire. Prints the
// largest timer delay and the resident memory at the start, each minute and the end.
//   bench_poll_window [MINUTES, default 10]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "bench_simulator.h"
#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "windows/poll/poll_window.h"

using namespace varnok;

namespace {

long rssKiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 10.0;
    bench::Simulator sim(QStringList{});
    const QString path = sim.path;
    if (path.isEmpty()) {
        std::fprintf(stderr, "bench_poll_window: the simulator did not start\n");
        return 1;
    }
    serial::bindPort(1, path.toStdString());
    engine::Session session;
    engine::TerminalEngine& e = session.terminal();
    if (!e.open({})) {
        std::fprintf(stderr, "bench_poll_window: the port did not open\n");
        return 1;
    }
    PollWindow w(session);
    w.resize(1000, 700);
    w.show();
    w.readsTable->setRowCount(0);
    w.addRead({{1, 3, 50, 4, {}, {}}, 0, 1000, 0});
    if (!w.applyReads())
        return 1;
    const int pi = w.rowOf({1, 3, 52});
    w.setRowFormat(pi, {modbus::ValueType::Float32, modbus::WordOrder::ABCD});
    for (const int row : {w.rowOf({1, 3, 50}), w.rowOf({1, 3, 51}), pi})
        w.table->model()->setData(w.table->model()->index(row, PollWindow::ColPlot), Qt::Checked,
                                  Qt::CheckStateRole);
    long polls = 0, failed = 0;
    QObject::connect(&w.master(), &engine::ModbusMaster::done, &w,
                     [&](const engine::PollResult& r) { ++(r.ok ? polls : failed); });
    w.pollButton->click();

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed(), worstMinute = 0, worst = 0, lastPolls = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.elapsed();
        worstMinute = std::max(worstMinute, now - lastTick - 100);
        lastTick = now;
    });
    tick.start(100);
    // Lines as bench_poll prints them ("poll varnok requests_per_s=..."), for a script to compare.
    const long startKiB = rssKiB();
    std::printf("poll_window varnok minute=0 rss_kib=%ld\n", startKiB);
    std::fflush(stdout);
    int minute = 0;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, &app, [&] {
        ++minute;
        worst = std::max(worst, worstMinute);
        std::printf("poll_window varnok minute=%d rss_kib=%ld max_timer_delay_ms=%lld "
                    "requests_per_s=%.0f failed=%ld chart_points=%lld\n",
                    minute, rssKiB(), worstMinute, double(polls - lastPolls) / 60, failed,
                    qint64(w.chartPoints(pi)));
        std::fflush(stdout);
        worstMinute = 0;
        lastPolls = polls;
    });
    report.start(60000);
    QTimer::singleShot(int(minutes * 60000), &app, &QCoreApplication::quit);
    QApplication::exec();
    worst = std::max(worst, worstMinute);
    const double seconds = double(clock.elapsed()) / 1000;
    std::printf("poll_window varnok seconds=%.0f requests_per_s=%.0f max_timer_delay_ms=%lld "
                "rss_start_kib=%ld rss_end_kib=%ld failed=%ld\n",
                seconds, double(polls) / seconds, worst, startKiB, rssKiB(), failed);
    w.master().stop();
    e.close();
    return 0;
}
