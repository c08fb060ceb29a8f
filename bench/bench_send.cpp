// The send side through a pseudo-terminal pair: delay from a click on "Send " to the last byte
// readable at the far end, and the auto-send period achieved against the one set.
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = name;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    // Reads until `count` bytes came; false on a 2 s timeout.
    bool readExactly(std::size_t count) {
        std::size_t got = 0;
        char buf[65536];
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (got < count) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (Clock::now() > deadline)
                return false;
            pollfd p{master, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        return true;
    }
    void drain() {
        char buf[65536];
        while (::read(master, buf, sizeof buf) > 0) {
        }
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void clickLatency(varnok::Form1& f, Pty& pty, const QString& text, int rounds) {
    f.Text2->setPlainText(text);
    const std::size_t bytes = static_cast<std::size_t>(text.size()) + 1; // CR
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        pty.drain();
        const auto t0 = Clock::now();
        QTest::mouseClick(f.Command5, Qt::LeftButton);
        if (!pty.readExactly(bytes)) {
            std::printf("  timeout waiting for %zu bytes\n", bytes);
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::printf("  click -> last byte readable, %5zu bytes: median %7.1f us, p99 %7.1f us, "
                "max %7.1f us (%d clicks)\n",
                bytes, percentile(us, 0.5), percentile(us, 0.99),
                *std::max_element(us.begin(), us.end()), rounds);
}

// Arrival times of single-byte sends, taken by a thread that only waits on the far end.
void autoSendPeriod(varnok::Form1& f, Pty& pty, int periodMs, int sends) {
    pty.drain();
    std::vector<Clock::time_point> arrivals;
    std::mutex m;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buf[4096];
        while (!stop) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const auto now = Clock::now();
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            const std::lock_guard<std::mutex> lock(m);
            for (ssize_t k = 0; k < n; ++k)
                arrivals.push_back(now);
        }
    });
    f.Text4->setText(QString::number(periodMs));
    QTest::mouseClick(f.Command10, Qt::LeftButton);
    QTest::mouseClick(f.Command11, Qt::LeftButton);
    QEventLoop wait; // sleeps between events, as the program's own loop does
    QTimer::singleShot(periodMs * (sends + 1), &wait, &QEventLoop::quit);
    wait.exec();
    QTest::mouseClick(f.Command12, Qt::LeftButton);
    stop = true;
    reader.join();

    std::vector<double> gaps;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(
            std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
    double mean = 0;
    for (double g : gaps)
        mean += g;
    mean = gaps.empty() ? 0 : mean / static_cast<double>(gaps.size());
    std::printf("  set %4d ms: %4zu sends, period mean %7.2f ms, median %7.2f, p99 %7.2f, "
                "min %7.2f, max %7.2f\n",
                periodMs, arrivals.size(), mean, percentile(gaps, 0.5), percentile(gaps, 0.99),
                gaps.empty() ? 0 : *std::min_element(gaps.begin(), gaps.end()),
                gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Pty pty;
    varnok::serial::bindPort(1, pty.path);
    varnok::engine::Session session;
    varnok::Form1 f(session);
    f.show();
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    if (!f.engine().isOpen()) {
        std::printf("could not open %s\n", pty.path.c_str());
        return 1;
    }
    std::printf("send over a pseudo-terminal pair (%s), CR end-of-string\n", pty.path.c_str());
    clickLatency(f, pty, QStringLiteral("KOVRAN"), 2000);
    clickLatency(f, pty, QString(255, QLatin1Char('x')), 2000);
    clickLatency(f, pty, QString(4095, QLatin1Char('x')), 500);

    std::printf("auto-send, one byte per send, arrivals timed at the far end\n");
    QTest::mouseClick(f.Option1, Qt::LeftButton);
    f.Text2->setPlainText(QStringLiteral("T"));
    autoSendPeriod(f, pty, 10, 300);
    autoSendPeriod(f, pty, 100, 50);
    autoSendPeriod(f, pty, 500, 16);
    return 0;
}
