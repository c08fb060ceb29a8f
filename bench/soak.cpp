// Soak: random bytes stream in at full speed while auto-send runs every 10 ms, for a given
// time, through the real window over a pseudo-terminal pair. Prints what each side sent and
// counted (the receive total is cleared every 5 s, as it is a 32-bit counter), the largest delay of
// a 100 ms window timer, and resident memory at start and end.
//   soak [SECONDS]   (default 600)
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"

namespace {

long residentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t{};
    for (int fd : {master, slave}) {
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    varnok::serial::bindPort(1, name);

    varnok::engine::Session session;
    varnok::Form1 f(session);
    f.show();
    f.Command1_Click();
    if (!f.engine().isOpen())
        return 1;
    f.Text2->setPlainText(QStringLiteral("soak 0123456789"));
    f.Text4->setText(QStringLiteral("10"));
    f.Command10_Click();
    f.Command11_Click();

    // The far end: writes random bytes as fast as the line takes them, reads what is sent.
    std::atomic<bool> stop{false};
    std::atomic<long long> farSent{0}, farReceived{0};
    std::thread device([&] {
        QRandomGenerator g(42);
        char out[4096], in[65536];
        for (char& c : out)
            c = static_cast<char>(g.bounded(256));
        while (!stop) {
            const ssize_t r = ::read(master, in, sizeof in);
            if (r > 0)
                farReceived += r;
            const ssize_t w = ::write(master, out, sizeof out);
            if (w > 0)
                farSent += w;
            else if (w < 0 && errno != EAGAIN && errno != EINTR)
                break;
            else {
                pollfd p{master, POLLOUT | POLLIN, 0};
                ::poll(&p, 1, 5);
            }
        }
        // Whatever the last sends still put on the line.
        for (int i = 0; i < 50; ++i) {
            const ssize_t r = ::read(master, in, sizeof in);
            if (r > 0)
                farReceived += r;
            else
                ::usleep(10000);
        }
    });

    const long rssStart = residentKiB();
    long rssAfterWarmup = 0;
    qint64 worstLateMs = 0;
    qint64 worstAtMs = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &f, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick > 0 && now - lastTick - 100 > worstLateMs) {
            worstLateMs = now - lastTick - 100;
            worstAtMs = now;
        }
        lastTick = now;
        if (rssAfterWarmup == 0 && now > 5000)
            rssAfterWarmup = residentKiB();
    });
    tick.start();

    // The receive total is a 32-bit counter that full speed fills within a minute: like a user
    // on a long run, clear it now and then, adding up what it showed.
    long long countedByCounters = 0;
    QTimer clearCounters;
    clearCounters.setInterval(5000);
    QObject::connect(&clearCounters, &QTimer::timeout, &f, [&] {
        countedByCounters += f.txt_TotalRecvLen->text().toLongLong();
        f.Command3_Click();
    });
    clearCounters.start();

    // Any message would stop the run: answer it as a user would, and report it.
    QStringList messages;
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, &f, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->accept();
        }
    });
    answer.start();
    QTimer::singleShot(seconds * 1000, &f, [&] {
        tick.stop();         // the end of the run is not the window's delay
        f.Command12_Click(); // auto-send off, then let the line settle
        QTimer::singleShot(1500, &f, [&] {
            stop = true;
            device.join();
            QTimer::singleShot(1500, &app, &QCoreApplication::quit);
        });
    });
    QApplication::exec();

    countedByCounters += f.txt_TotalRecvLen->text().toLongLong();
    const long long counted = f.engine().port().totalBytesRead();
    const long long sentByWindow = f.txt_TotalSendLen->text().toLongLong();
    const long rssEnd = residentKiB();
    std::printf("soak: %d s, random bytes in at full speed, auto-send every 10 ms\n", seconds);
    std::printf("device -> terminal: sent %lld, read by the terminal %lld (%s), %.1f MB/s\n",
                farSent.load(), counted, farSent.load() == counted ? "equal" : "DIFFERENT",
                farSent.load() / 1e6 / seconds);
    std::printf("device -> terminal: counted in the receive total (cleared every 5 s) %lld (%s)\n",
                countedByCounters, countedByCounters == counted ? "equal" : "DIFFERENT");
    std::printf("terminal -> device: counted by the terminal %lld, received %lld (%s)\n",
                sentByWindow, farReceived.load(),
                sentByWindow == farReceived.load() ? "equal" : "DIFFERENT");
    std::printf("largest delay of a 100 ms timer tick: %lld ms (at %.1f s)\n", worstLateMs,
                worstAtMs / 1000.0);
    std::printf(
        "resident memory: start %ld KiB, after 5 s %ld KiB, end %ld KiB (%+.1f%% since 5 s)\n",
        rssStart, rssAfterWarmup, rssEnd,
        rssAfterWarmup ? 100.0 * (rssEnd - rssAfterWarmup) / rssAfterWarmup : 0.0);
    std::printf("messages shown: %lld%s%s\n", static_cast<long long>(messages.size()),
                messages.isEmpty() ? "" : ", the first: ",
                messages.isEmpty() ? "" : qPrintable(messages.first()));
    const bool ok = farSent.load() == counted && countedByCounters == counted &&
                    sentByWindow == farReceived.load() && messages.isEmpty();
    return ok ? 0 : 1;
}
