// Network link benchmark against ser2net on loopback, serving a pseudo-terminal pair whose
// device end the benchmark holds.
//   bench_network [--megabytes N] [--opens N]
// open_rfc2217 varnok ms=...  median time from setPortOpen(true) to openSettled("") with every
//                             line setting confirmed (N openings, default 20)
// rx_rfc2217 varnok bytes_per_s=...  a writer thread streams N MB (default 20) into the device
//                             end; the link reads them on dataArrived (input buffer 8192, as
//                             the terminal sets it), the data checked byte for byte
// rx_rfc2217 limit bytes_per_s=...   the same stream through the same server into a bare
//                             QTcpSocket that only counts what arrives
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "logic/serial/port_map.h"
#include "port/network_link.h"
#include "support/pty_pair.h"
#include "support/ser2net_process.h"
#include "support/test_support.h"

using namespace varnok;

namespace {

// Every byte value but 0xFF (doubled on the wire, it would make the two runs unequal).
char byteAt(qint64 i) {
    return char((i * 7 + i / 255) % 255);
}

// Streams `total` bytes into the device end from a thread of its own.
std::thread feed(int fd, qint64 total) {
    return std::thread([fd, total] {
        std::vector<char> block(4096);
        for (qint64 sent = 0; sent < total;) {
            const qint64 n = std::min<qint64>(qint64(block.size()), total - sent);
            for (qint64 i = 0; i < n; ++i)
                block[size_t(i)] = byteAt(sent + i);
            qint64 done = 0;
            while (done < n) {
                const ssize_t w = ::write(fd, block.data() + done, size_t(n - done));
                if (w > 0) {
                    done += w;
                } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                    return;
                } else {
                    pollfd p{fd, POLLOUT, 0};
                    ::poll(&p, 1, 50);
                }
            }
            sent += n;
        }
    });
}

bool openLink(serial::NetworkLink& link) {
    QSignalSpy settled(&link, &serial::Link::openSettled);
    link.setPortOpen(true);
    return settled.wait(5000) && settled[0][0].toString().isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 megabytes = 20;
    int opens = 20;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--megabytes")
            megabytes = args[i + 1].toLongLong();
        else if (args[i] == "--opens")
            opens = args[i + 1].toInt();
    }
    if (!test::Ser2netProcess::installed()) {
        std::printf("ser2net is not installed (%s)\n", test::Ser2netProcess::kProgram);
        return 2;
    }
    test::PtyPair pty;
    test::Ser2netProcess server;
    if (!server.start(pty.slavePath(), "115200n81"))
        return 2;
    const QString address = "rfc2217://127.0.0.1:" + QString::number(server.rfc2217Port());
    serial::bindPort(1, address.toStdString(), serial::Binding::ForThisRun);

    serial::NetworkLink link;
    link.setCommPort(1);
    link.setLineSettings(serial::parseSettings("115200,n,8,1"));
    link.setInBufferSize(8192);
    std::vector<double> ms;
    for (int i = 0; i < opens; ++i) {
        QElapsedTimer t;
        t.start();
        if (!openLink(link))
            return 1;
        for (serial::LinkSetting s : link.unconfirmedSettings())
            if (s != serial::LinkSetting::Dtr && s != serial::LinkSetting::Rts)
                return 1; // a line setting not confirmed: the figure would be the wait

        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        link.setPortOpen(false);
        test::serveEvents(20); // the server closes the device before the next opening
    }
    std::sort(ms.begin(), ms.end());
    std::printf("open_rfc2217 varnok ms=%.2f (median of %d, max %.2f)\n", ms[ms.size() / 2], opens,
                ms.back());

    const qint64 total = megabytes * 1000 * 1000;
    if (!openLink(link))
        return 1;
    qint64 got = 0;
    bool exact = true;
    QObject::connect(&link, &serial::Link::dataArrived, &link, [&] {
        const QByteArray b = link.inputBytes();
        for (qsizetype i = 0; i < b.size() && exact; ++i)
            exact = b[i] == byteAt(got + i);
        got += b.size();
    });
    QElapsedTimer t;
    t.start();
    std::thread writer = feed(pty.masterFd(), total);
    test::serveUntil([&] { return got >= total; }, 120000);
    const double varnok = double(got) / (double(t.nsecsElapsed()) / 1e9);
    writer.join();
    link.setPortOpen(false);
    std::printf("rx_rfc2217 varnok bytes_per_s=%.0f (%lld of %lld bytes, %s)\n", varnok, got, total,
                exact ? "exact" : "NOT EXACT");
    test::serveEvents(50);

    QTcpSocket bare;
    bare.connectToHost("127.0.0.1", server.rfc2217Port());
    qint64 raw = 0;
    QObject::connect(&bare, &QTcpSocket::readyRead, &bare, [&] { raw += bare.readAll().size(); });
    test::serveUntil([&] { return raw > 0; }, 5000); // the server's greeting: the device is open
    test::serveEvents(50);
    raw = 0;
    t.restart();
    writer = feed(pty.masterFd(), total);
    test::serveUntil([&] { return raw >= total; }, 120000);
    const double limit = double(raw) / (double(t.nsecsElapsed()) / 1e9);
    writer.join();
    std::printf("rx_rfc2217 limit bytes_per_s=%.0f (%lld bytes; varnok at %.0f %%)\n", limit, raw,
                100.0 * varnok / limit);
    return got >= total && exact ? 0 : 1;
}
