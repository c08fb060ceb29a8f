// Receive benchmark: the real window (offscreen unless QT_QPA_PLATFORM says otherwise) in auto
// receive on a pseudo-terminal pair.
//   bench_receive [--seconds N] [--idle-seconds N] [--samples N] [--rate BYTES_PER_S]
//                 [--monitor] [--capture PATH | --capture-text PATH]
//                 [--cases LIST --capture-text PATH] [--program NAME]
// (0 skips a part)
// 1. Throughput: a writer thread streams bytes into the device end for N seconds (default 30)
//    in ASCII and binary mode, "ShowData" on and off; prints the rate, its share of the limit,
//    the CPU share of a core the program took (the writer's own CPU left out), the slowest
//    second, the bytes read against those sent and the total against the display characters
//    expected. The limit is the same writer into a bare poll-and-read reader on a pair of its
//    own, run first. --rate feeds at a real line's speed (1200000: a 12 Mbaud adapter).
//    --monitor runs each again with the monitor window open (--capture: and a raw capture to
//    PATH, compared with the bytes sent afterwards; --capture-text: a text log), and prints the
//    largest delay of a 100 ms timer in those runs.
//    --cases runs only the named cases, ASCII with "ShowData" on, each printed as a line
//    "CASE PROGRAM key=value ...": bare (the poll-and-read reader), terminal (no monitor),
//    monitor (its window shown), monitor-hidden (opened, then hidden), capture (the window
//    shown and a text log to the --capture-text PATH). PROGRAM is --program's NAME, so that
//    two builds run in turns can be told apart.
// 2. CPU and wake-ups (voluntary switches of the window's thread, and of the whole process) of
//    the window with the port closed, then open in auto receive (default 10 s each).
// 3. Delay from a byte written at the device end of a quiet line to its text in Text3 (median,
//    p99, max).
// Exits non-zero when a figure misses its target.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"
#include "windows/main_window/form1.h"
#include "windows/monitor/monitor_window.h"

using namespace varnok;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int seconds = 30;
    int idleSeconds = 10;
    int samples = 2000;
    double rate = 0; // bytes a second the writer aims at; 0: as fast as the line takes them
    bool monitor = false;
    QString capturePath;
    bool captureText = false; // a text log instead of the raw bytes
    QStringList cases;        // --cases: only these, one line each
    QString program = QStringLiteral("this");
};

// What one throughput run has open besides the terminal.
struct Setup {
    bool monitor = false;
    bool hidden = false;  // the monitor opened, then its window hidden
    bool capture = false; // to Options::capturePath in its form
};

// Writes everything to a non-blocking descriptor, waiting for room.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Every byte value, in an order that repeats only every 64 KiB.
std::vector<char> makeBlock() {
    std::vector<char> block(65536);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return block;
}

// The device end's writer: 4 KiB writes for `seconds`, at `rate` bytes a second when set,
// stopping short of `budget` bytes. Its own CPU goes to `cpu` when it ends.
struct Feeder {
    std::atomic<qint64> sent{0};
    std::atomic<bool> writing{true};
    double cpu = 0;
    std::thread thread;

    void start(int fd, const std::vector<char>& block, const Options& o, qint64 budget,
               Clock::time_point begin) {
        thread = std::thread([=, this, &block] {
            const auto end = begin + std::chrono::seconds(o.seconds);
            size_t at = 0;
            while (Clock::now() < end && sent.load() + 4096 <= budget) {
                const size_t n = 4096;
                if (o.rate > 0) {
                    const double due = static_cast<double>(sent.load()) / o.rate;
                    std::this_thread::sleep_until(begin +
                                                  std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(due)));
                }
                if (!writeAll(fd, block.data() + at, n))
                    break;
                sent += static_cast<qint64>(n);
                at = (at + n) % block.size();
            }
            cpu = threadCpuSeconds();
            writing = false;
        });
    }
};

// The limit: the same writer into a reader that only polls its descriptor and reads.
struct Limit {
    double rate = 0;     // bytes a second
    double cpuShare = 0; // of one core, the reader's thread
};

Limit limitRun(const Options& o) {
    test::PtyPair pty;
    const int in =
        ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (in < 0)
        return {};
    const std::vector<char> block = makeBlock();
    Feeder feed;
    const double cpu0 = threadCpuSeconds();
    const auto start = Clock::now();
    feed.start(pty.masterFd(), block, o, 2000000000LL, start);
    std::vector<char> buf(65536);
    qint64 got = 0;
    while (feed.writing || got < feed.sent) {
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            const ssize_t n = ::read(in, buf.data(), buf.size());
            if (n > 0)
                got += n;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = threadCpuSeconds() - cpu0;
    feed.thread.join();
    ::close(in);
    return {static_cast<double>(got) / seconds, cpu / seconds};
}

// Voluntary context switches: of the calling thread, and of each of the process's threads.
std::pair<long, std::map<QString, long>> wakeUps() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    std::map<QString, long> all;
    for (const QFileInfo& task :
         QDir(QStringLiteral("/proc/self/task")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(task.filePath() + QStringLiteral("/status"));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                all[task.fileName()] = line.mid(24).trimmed().toLong();
    }
    return {u.ru_nvcsw, all};
}

// Summed over the threads there at both counts: one that ended meanwhile took its count along.
long wakeUpsBetween(const std::map<QString, long>& before, const std::map<QString, long>& after) {
    long n = 0;
    for (const auto& [tid, count] : after) {
        const auto it = before.find(tid);
        n += count - (it == before.end() ? 0 : it->second);
    }
    return n;
}

// The main window over its own session; the window goes first.
struct OpenWindow {
    std::unique_ptr<engine::Session> session = std::make_unique<engine::Session>();
    std::unique_ptr<Form1> form = std::make_unique<Form1>(*session);
    Form1* operator->() const { return form.get(); }
    Form1& operator*() const { return *form; }
};

OpenWindow openWindow(test::PtyPair& pty, bool binary, bool showData) {
    serial::bindPort(1, pty.slavePath().toStdString());
    OpenWindow f;
    f->show();
    if (binary)
        f->btn_Receive_Binary_Click();
    f->chk_RecvShowData->setChecked(showData);
    f->Command1_Click();
    // Past the start-up shot of Timer3, which only repeats the start of auto receive.
    test::serveUntil([&] { return !f->Timer3->isActive(); }, 2000);
    return f;
}

struct ThroughputResult {
    qint64 sent = 0;
    qint64 read = 0;
    qint64 expectedTotal = 0;
    qint64 shownTotal = 0;
    double seconds = 0;
    double slowestSecond = 0;
    double cpuShare = 0; // of one core, the writer's CPU left out
    bool tailMatches = false;
    bool budgetReached = false;   // the writer stopped at the 32-bit total, not at the time
    QStringList messages;         // any message box the run raised (answered)
    double worstTimerDelayMs = 0; // of a 100 ms timer while the bytes came
    QString capture;              // how the capture compared with the bytes sent
    bool captureMatches = true;
};

// Whether the file holds exactly the first `size` bytes of the repeating block.
bool fileMatches(const QString& path, const std::vector<char>& block, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size)
        return false;
    qint64 at = 0;
    std::vector<char> buf(block.size());
    for (qint64 n; (n = file.read(buf.data(), static_cast<qint64>(buf.size()))) > 0; at += n)
        for (qint64 i = 0; i < n; ++i)
            if (buf[static_cast<size_t>(i)] !=
                block[static_cast<size_t>((at + i) % static_cast<qint64>(block.size()))])
                return false;
    return at == size;
}

ThroughputResult throughput(const Options& o, bool binary, bool showData, Setup setup) {
    test::PtyPair pty;
    OpenWindow f = openWindow(pty, binary, showData);
    ThroughputResult r;
    if (!f->engine().isOpen())
        return r;
    MonitorWindow* monitor = nullptr;
    if (setup.monitor) {
        f->Cmd_Monitor_Click();
        monitor = f->monitor();
        if (setup.hidden)
            monitor->hide();
        if (setup.capture && !monitor->startCapture(o.capturePath,
                                                    o.captureText ? MonitorWindow::CaptureForm::Text
                                                                  : MonitorWindow::CaptureForm::Raw,
                                                    true))
            return r;
    }
    const qint64 read0 = f->engine().port().totalBytesRead();

    const std::vector<char> block = makeBlock();
    // The total is a signed 32-bit counter: a fast line fills it within a run in binary mode
    // (three characters a byte), so the writer stops short of it.
    const qint64 budget = 2000000000LL / (binary ? 3 : 1);
    test::MessageCatcher messages;
    Feeder feed;
    std::atomic<qint64>& sent = feed.sent;
    std::atomic<bool>& writing = feed.writing;
    const double cpu0 = test::processCpuSeconds();
    const auto start = Clock::now();
    feed.start(pty.masterFd(), block, o, budget, start);

    // Per-second progress, to find the slowest second.
    double slowest = 1e18;
    qint64 lastRead = read0;
    auto lastAt = Clock::now();
    QTimer second;
    QObject::connect(&second, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const qint64 nowRead = f->engine().port().totalBytesRead();
        const double dt = std::chrono::duration<double>(now - lastAt).count();
        if (writing && dt > 0.5)
            slowest = std::min(slowest, static_cast<double>(nowRead - lastRead) / dt);
        lastRead = nowRead;
        lastAt = now;
    });
    second.start(1000);
    // The window answers in time if a 100 ms timer is never much late.
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double late = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 100;
        r.worstTimerDelayMs = std::max(r.worstTimerDelayMs, late);
        sinceTick.restart();
    });
    tick.start(100);

    test::serveUntil(
        [&] { return !writing && f->engine().port().totalBytesRead() - read0 >= sent; },
        (o.seconds + 60) * 1000);
    const auto stop = Clock::now();
    feed.thread.join();
    second.stop();
    tick.stop();
    // The display is brought up to date once a frame, the counters once in a few frames.
    test::serveUntil([] { return false; }, 2 * engine::TerminalEngine::kCounterFrameMs);

    r.sent = sent;
    r.read = f->engine().port().totalBytesRead() - read0;
    r.seconds = std::chrono::duration<double>(stop - start).count();
    r.cpuShare = (test::processCpuSeconds() - cpu0 - feed.cpu) / r.seconds;
    r.slowestSecond = slowest > 1e17 ? 0 : slowest;
    r.expectedTotal = r.sent * (binary ? 3 : 1);
    r.shownTotal = f->txt_TotalRecvLen->text().toLongLong();

    // What is on display is the tail of what was sent, in its display form.
    const qint64 shown = f->engine().displayText().size();
    const qint64 tailBytes = binary ? shown / 3 : shown;
    QByteArray tail;
    for (qint64 i = r.sent - tailBytes; i < r.sent; ++i)
        tail.append(block[static_cast<size_t>(i % static_cast<qint64>(block.size()))]);
    QString expect =
        binary ? QString::fromLatin1(tail.toHex(' ').toUpper() + (tail.isEmpty() ? "" : " "))
               : QString::fromLatin1(tail);
    expect.replace(QLatin1String("\r\n"), QString(QChar::ParagraphSeparator));
    expect.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
    expect.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
    r.tailMatches = f->Text3->document()->toRawText() == expect;
    r.budgetReached = r.sent + 4096 > budget;
    if (monitor && setup.capture) {
        monitor->stopCapture();
        r.captureMatches = o.captureText || fileMatches(o.capturePath, block, r.sent);
        r.capture =
            o.captureText
                ? QStringLiteral("%1 bytes of text log").arg(QFileInfo(o.capturePath).size())
                : QStringLiteral("%1 bytes, %2 the bytes sent")
                      .arg(QFileInfo(o.capturePath).size())
                      .arg(r.captureMatches ? QStringLiteral("equal to")
                                            : QStringLiteral("NOT equal to"));
    }
    r.messages = messages.texts;
    f->Command7_Click();
    return r;
}

struct Idle {
    double cpuPercent = -1;
    double wakeUps = 0;    // a second, the window's thread
    double allWakeUps = 0; // a second, every thread of the process
};

Idle idleOver(int seconds) {
    const double cpu0 = test::processCpuSeconds();
    const auto [w0, all0] = wakeUps();
    const auto t0 = Clock::now();
    test::serveEvents(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto [w1, all1] = wakeUps();
    return {100.0 * (test::processCpuSeconds() - cpu0) / wall, static_cast<double>(w1 - w0) / wall,
            static_cast<double>(wakeUpsBetween(all0, all1)) / wall};
}

// The window with the port closed (its own timers only), then open in auto receive.
std::pair<Idle, Idle> idle(const Options& o) {
    test::PtyPair pty;
    serial::bindPort(1, pty.slavePath().toStdString());
    engine::Session session;
    Form1 f(session);
    f.show();
    test::serveUntil([&] { return !f.Timer3->isActive(); }, 2000);
    const Idle closed = idleOver(o.idleSeconds);
    f.Command1_Click();
    if (!f.engine().autoReceiveRunning())
        return {closed, {}};
    const Idle open = idleOver(o.idleSeconds);
    f.Command7_Click();
    return {closed, open};
}

// Delays in microseconds, sorted.
std::vector<double> latencies(const Options& o) {
    test::PtyPair pty;
    OpenWindow f = openWindow(pty, false, true);
    f->Chk_ReadEnLarge->setChecked(true); // 8192 characters: no clearing during the samples
    std::vector<double> out;
    if (!f->engine().autoReceiveRunning())
        return out;

    std::atomic<qint64> writtenAt{0}; // ns on the steady clock, 0 when none is in flight
    std::atomic<int> seen{0};
    std::vector<double> delays;
    delays.reserve(static_cast<size_t>(o.samples));
    QObject::connect(f->Text3->document(), &QTextDocument::contentsChange, f.form.get(),
                     [&](int, int, int added) {
                         const qint64 w = writtenAt.load();
                         if (added <= 0 || w == 0)
                             return;
                         const qint64 now = Clock::now().time_since_epoch().count();
                         delays.push_back(static_cast<double>(now - w) / 1000.0);
                         writtenAt = 0;
                         ++seen;
                     });
    std::atomic<bool> done{false};
    const int fd = pty.masterFd();
    std::thread writer([&] {
        for (int i = 0; i < o.samples; ++i) {
            const char c = static_cast<char>('A' + i % 26);
            writtenAt = Clock::now().time_since_epoch().count();
            writeAll(fd, &c, 1);
            const auto give = Clock::now() + std::chrono::milliseconds(200);
            while (seen.load() <= i && Clock::now() < give)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (seen.load() <= i) { // lost: counted as the timeout
                writtenAt = 0;
                ++seen;
            }
            // Irregular gaps, so that samples do not lock onto any timer, and longer than a
            // display frame: a byte arriving at a quiet terminal is shown at the next turn of
            // the event loop, while input closer together is shown once a frame (16 ms).
            std::this_thread::sleep_for(std::chrono::microseconds(
                1000 * (engine::TerminalEngine::kDisplayFrameMs + 4) + (i * 7919) % 4000));
        }
        done = true;
    });
    test::serveUntil([&] { return done.load(); }, o.samples * 300 + 5000);
    writer.join();
    f->Command7_Click();
    std::sort(delays.begin(), delays.end());
    return delays;
}

double percentile(const std::vector<double>& v, double p) {
    if (v.empty())
        return -1;
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

// The --cases lines; false when a run lost bytes or raised a message.
bool runCases(const Options& o) {
    bool ok = true;
    for (const QString& name : o.cases) {
        const QByteArray n = name.toLatin1();
        const QByteArray p = o.program.toLocal8Bit();
        if (name == QLatin1String("bare")) {
            const Limit bare = limitRun(o);
            std::printf("%s %s cpu_pct=%.2f bytes_s=%.0f\n", n.constData(), p.constData(),
                        100 * bare.cpuShare, bare.rate);
            std::fflush(stdout);
            continue;
        }
        Setup setup;
        if (name == QLatin1String("monitor") || name == QLatin1String("monitor-hidden") ||
            name == QLatin1String("capture"))
            setup.monitor = true;
        setup.hidden = name == QLatin1String("monitor-hidden");
        setup.capture = name == QLatin1String("capture");
        if (name != QLatin1String("terminal") && !setup.monitor) {
            std::fprintf(stderr, "unknown case %s\n", n.constData());
            return false;
        }
        if (setup.capture && (o.capturePath.isEmpty() || !o.captureText)) {
            std::fprintf(stderr, "the capture case needs --capture-text PATH\n");
            return false;
        }
        const ThroughputResult r = throughput(o, false, true, setup);
        const double rate = r.seconds > 0 ? static_cast<double>(r.read) / r.seconds : 0;
        std::printf("%s %s cpu_pct=%.2f bytes_s=%.0f lost=%lld tail=%s timer_worst_ms=%.1f "
                    "capture_bytes=%lld messages=%lld\n",
                    n.constData(), p.constData(), 100 * r.cpuShare, rate,
                    static_cast<long long>(r.sent - r.read), r.tailMatches ? "ok" : "BAD",
                    r.worstTimerDelayMs,
                    setup.capture ? static_cast<long long>(QFileInfo(o.capturePath).size()) : 0LL,
                    static_cast<long long>(r.messages.size()));
        std::fflush(stdout);
        ok = ok && r.read == r.sent && r.tailMatches && r.messages.isEmpty();
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    for (int i = 1; i < argc; ++i) {
        QByteArray key = argv[i];
        if (key == "--monitor") {
            o.monitor = true;
            continue;
        }
        if (i + 1 >= argc)
            key.clear();
        else if (key == "--capture" || key == "--capture-text") {
            o.captureText = key == "--capture-text";
            o.capturePath = QString::fromLocal8Bit(argv[++i]);
        } else if (key == "--seconds")
            o.seconds = std::atoi(argv[++i]);
        else if (key == "--idle-seconds")
            o.idleSeconds = std::atoi(argv[++i]);
        else if (key == "--samples")
            o.samples = std::atoi(argv[++i]);
        else if (key == "--rate")
            o.rate = std::atof(argv[++i]);
        else if (key == "--cases")
            o.cases = QString::fromLocal8Bit(argv[++i]).split(u',', Qt::SkipEmptyParts);
        else if (key == "--program")
            o.program = QString::fromLocal8Bit(argv[++i]);
        else
            key.clear();
        if (key.isEmpty()) {
            std::fprintf(
                stderr,
                "usage: bench_receive [--seconds N] [--idle-seconds N] [--samples N] "
                "[--rate BYTES_PER_S] [--monitor] [--capture PATH | --capture-text PATH] "
                "[--cases bare,terminal,monitor,monitor-hidden,capture] [--program NAME]\n");
            return 2;
        }
    }
    if (!o.cases.isEmpty())
        return runCases(o) ? 0 : 1;
    if (!o.capturePath.isEmpty())
        o.monitor = true; // the capture is the monitor's
    bool ok = true;

    std::printf("Receive throughput, %d s each, writer %s\n", o.seconds,
                o.rate > 0 ? qPrintable(QString::number(o.rate, 'f', 0) + " B/s") : "unthrottled");
    if (o.monitor)
        std::printf("\"mon\": the same again at once with the monitor window open%s\n",
                    o.capturePath.isEmpty()
                        ? ""
                        : qPrintable((o.captureText ? QStringLiteral(" and a text-log capture to ")
                                                    : QStringLiteral(" and a raw capture to ")) +
                                     o.capturePath));
    const Limit bare = o.seconds > 0 ? limitRun(o) : Limit{};
    const double limit = bare.rate;
    if (o.seconds > 0)
        std::printf("limit %.0f bytes/s, cpu %.2f%% (a bare poll-and-read reader)\n", limit,
                    100 * bare.cpuShare);
    std::printf("%-8s %-9s %12s %7s %7s %12s %14s %12s %12s %14s %14s %5s\n", "mode", "ShowData",
                "bytes/s", "limit", "cpu", "slowest s", "sent", "read", "lost", "total", "expected",
                "tail");
    double asciiShownRate[2] = {0, 0}; // ASCII, ShowData on: without and with the monitor
    for (bool binary : {false, true}) {
        for (bool showData : {true, false}) {
            // Each with the monitor right after the one without: both meet the same machine.
            for (bool withMonitor : {false, true}) {
                if (o.seconds <= 0 || (withMonitor && !o.monitor))
                    break;
                const ThroughputResult r =
                    throughput(o, binary, showData, {withMonitor, false, !o.capturePath.isEmpty()});
                const double rate = r.seconds > 0 ? static_cast<double>(r.read) / r.seconds : 0;
                const char* shown = showData ? (withMonitor ? "on, mon" : "on")
                                             : (withMonitor ? "off, mon" : "off");
                std::printf("%-8s %-9s %12.0f %6.1f%% %6.2f%% %12.0f %14lld %12lld %12lld %14lld "
                            "%14lld %5s\n",
                            binary ? "binary" : "ASCII", shown, rate,
                            limit > 0 ? 100 * rate / limit : 0, 100 * r.cpuShare, r.slowestSecond,
                            static_cast<long long>(r.sent), static_cast<long long>(r.read),
                            static_cast<long long>(r.sent - r.read),
                            static_cast<long long>(r.shownTotal),
                            static_cast<long long>(r.expectedTotal), r.tailMatches ? "ok" : "BAD");
                if (r.budgetReached)
                    std::printf(
                        "  (writer stopped after %.1f s, before the total passed 32 bits)\n",
                        r.seconds);
                if (!r.capture.isEmpty())
                    std::printf("  capture: %s\n", qPrintable(r.capture));
                if (withMonitor)
                    std::printf("  100 ms timer: worst delay %.1f ms\n", r.worstTimerDelayMs);
                for (const QString& m : r.messages)
                    std::printf("  message: %s\n", qPrintable(m));
                std::fflush(stdout);
                const double floor = o.rate > 0 ? std::min(2e6, 0.9 * o.rate) : 2e6;
                ok = ok && r.messages.isEmpty() && rate >= floor && r.slowestSecond >= floor &&
                     r.read == r.sent && r.shownTotal == r.expectedTotal && r.tailMatches &&
                     r.captureMatches;
                // The window must stay usable at a rate a real line can reach.
                if (withMonitor && o.rate > 0 && o.rate <= 10e6)
                    ok = ok && r.worstTimerDelayMs < 50;
                if (!binary && showData)
                    asciiShownRate[withMonitor] = rate;
            }
        }
    }
    if (o.monitor && o.seconds > 0) {
        const double share = asciiShownRate[0] > 0 ? asciiShownRate[1] / asciiShownRate[0] : 0;
        std::printf("ASCII, ShowData on: %.0f bytes/s with the monitor%s, %.0f%% of %.0f without\n",
                    asciiShownRate[1], o.capturePath.isEmpty() ? "" : " and capture", 100 * share,
                    asciiShownRate[0]);
        ok = ok && share >= 0.7;
    }

    if (o.idleSeconds > 0) {
        const auto [closed, open] = idle(o);
        for (const auto& [what, i] : {std::pair{"Idle window, port closed", closed},
                                      std::pair{"Idle open port in auto receive", open}})
            std::printf("%s, %d s: %.3f%% of a core, %.1f wake-ups/s (all threads %.1f)\n", what,
                        o.idleSeconds, i.cpuPercent, i.wakeUps, i.allWakeUps);
        ok = ok && open.cpuPercent >= 0 && open.cpuPercent < 1.0;
    }

    if (o.samples > 0) {
        const std::vector<double> d = latencies(o);
        std::printf("Byte at the device end to its text in Text3, %zu of %d samples: median %.0f "
                    "us, p90 %.0f us, p99 %.0f us, max %.0f us\n",
                    d.size(), o.samples, percentile(d, 0.5), percentile(d, 0.9),
                    percentile(d, 0.99), d.empty() ? -1.0 : d.back());
        ok = ok && static_cast<int>(d.size()) == o.samples && percentile(d, 0.99) < 5000;
    }

    std::printf("%s\n", ok ? "all targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
