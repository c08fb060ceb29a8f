// The network link against servers on this machine: ser2net serving a pseudo-terminal pair
// (the test holds the device end), and small servers of the test's own.
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <termios.h>

#include "logic/serial/port_map.h"
#include "port/network_link.h"
#include "support/pty_pair.h"
#include "support/ser2net_process.h"
#include "support/test_support.h"

using namespace varnok::serial;
using namespace varnok::test;

namespace {

// Opens `link` on `address` (bound to Com9): "" once open, else the failure it settled with.
QString openOn(NetworkLink& link, const QString& address, const char* settings = "9600,n,8,1") {
    bindPort(9, address.toStdString());
    link.setCommPort(9);
    link.setLineSettings(parseSettings(settings));
    link.setInBufferSize(1 << 16);
    QSignalSpy settled(&link, &Link::openSettled);
    link.setPortOpen(true);
    if (!link.opening() || !settled.wait(5000))
        return "did not settle";
    return settled.count() == 1 ? settled[0][0].toString() : "settled twice";
}

QString unconfirmed(const NetworkLink& link) {
    QStringList names;
    for (LinkSetting s : link.unconfirmedSettings())
        names << linkSettingName(s);
    return names.join(',');
}

// The line as the server set it on the pseudo-terminal, seen from the device end.
termios lineOf(const PtyPair& pty) {
    termios t{};
    ::tcgetattr(pty.masterFd(), &t);
    return t;
}

} // namespace

class TstNetworkLink : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        if (!Ser2netProcess::installed())
            QSKIP("ser2net is not installed");
    }
    void cleanup() { clearPortBindings(); }

    void bytesBothWays_data() {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("raw tcp passes every byte as it is") << "tcp";
        QTest::newRow("rfc2217 doubles 0xff on the wire and undoes it") << "rfc2217";
    }
    void bytesBothWays() {
        QFETCH(QString, scheme);
        PtyPair pty;
        Ser2netProcess server;
        QVERIFY(server.start(pty.slavePath()));
        NetworkLink link;
        const quint16 port = scheme == "tcp" ? server.rawPort() : server.rfc2217Port();
        QCOMPARE(openOn(link, scheme + "://127.0.0.1:" + QString::number(port)), QString());
        QByteArray sent;
        for (int i = 0; i < 256 * 40; ++i)
            sent += char(i * 7 % 257 == 256 ? 0xff : i * 7 % 257);
        sent += QByteArray(5000, '\xff');
        // The program's bytes first: once they are through, the server has the device open.
        link.output(sent);
        QVERIFY(pty.readExactly(sent.size(), 5000) == sent);
        pty.write(sent);
        QByteArray got;
        serveUntil(
            [&] {
                got += link.hasArrived() ? link.inputBytes() : QByteArray();
                return got.size() >= sent.size();
            },
            5000);
        QVERIFY(got == sent);
    }

    void rfc2217SettingsReachTheLine() {
        PtyPair pty;
        Ser2netProcess server;
        QVERIFY(server.start(pty.slavePath()));
        NetworkLink link;
        link.setDTREnable(true);
        QElapsedTimer t;
        t.start();
        const QString address = "127.0.0.1:" + QString::number(server.rfc2217Port());
        QCOMPARE(openOn(link, "rfc2217://" + address, "9600,n,8,2"), QString());
        // Settled on the confirmations, not after the wait; DTR and RTS are never confirmed
        // by a server over a pseudo-terminal, and are listed.
        qInfo("opening with every line setting confirmed: %lld ms", t.elapsed());
        QVERIFY(t.elapsed() < NetworkLink::kConfirmWaitMs);
        QCOMPARE(unconfirmed(link), "DTR,RTS");
        QVERIFY2(link.linkNote().startsWith("connected to " + address + ", RFC 2217"),
                 qPrintable(link.linkNote()));
        termios line = lineOf(pty);
        QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
        QVERIFY(line.c_cflag & CSTOPB);
        QVERIFY(link.hasModemLines());
        link.setBreak(true);
        link.setBreak(false);
        pty.write("abc");
        QTRY_COMPARE(link.inBufferCount(), 3);
        link.setInBufferCount(0); // and the server purges what it holds
        QCOMPARE(link.inBufferCount(), 0);
        QVERIFY(!link.changeLineSettings(parseSettings("19200,n,8,1")));
        QTRY_VERIFY((line = lineOf(pty), ::cfgetospeed(&line) == B19200));
        QTRY_COMPARE(unconfirmed(link), "DTR,RTS");
    }

    void failures_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("failure");
        QTest::newRow("a refused connection names host, port and reason")
            << "rfc2217"
            << "none"
            << "Com9: cannot connect to 127.0.0.1:* (RFC 2217): *refused*";
        QTest::newRow("a server that says nothing fails after the timeout")
            << "rfc2217"
            << "silent"
            << "*:* (RFC 2217): *did not answer*300 ms";
        QTest::newRow("a server that closes during opening fails") << "rfc2217"
                                                                   << "closing"
                                                                   << "*:* (RFC 2217): *closed*";
        QTest::newRow("raw tcp opens at once on a server that says nothing") << "tcp"
                                                                             << "silent"
                                                                             << "";
    }
    void failures() {
        QFETCH(QString, scheme);
        QFETCH(QString, server);
        QFETCH(QString, failure);
        QTcpServer fake;
        quint16 port = freeLocalPort();
        if (server != "none") {
            QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
            port = fake.serverPort();
        }
        connect(&fake, &QTcpServer::newConnection, &fake, [&] {
            QTcpSocket* s = fake.nextPendingConnection();
            if (server == "closing")
                s->close();
        });
        NetworkLink link;
        link.setConnectTimeout(300);
        const QString got = openOn(link, scheme + "://127.0.0.1:" + QString::number(port));
        QVERIFY2(wildcardMatch(failure, got), qPrintable(got));
        QCOMPARE(link.portOpen(), failure.isEmpty());
        QVERIFY(!link.opening());
        if (failure.isEmpty()) {
            QVERIFY(link.linkNote().endsWith(", raw TCP: line settings are the server's"));
            QVERIFY(!link.hasModemLines());
            try {
                link.setRts(true);
                QFAIL("RTS set on a byte stream");
            } catch (const PortError& e) {
                QVERIFY2(QString(e.what()).contains("not available on this port"), e.what());
            }
        }
    }

    void closingWhileOpeningIsSilent() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        NetworkLink link;
        QSignalSpy settled(&link, &Link::openSettled);
        bindPort(9, "rfc2217://127.0.0.1:" + std::to_string(silent.serverPort()));
        link.setCommPort(9);
        link.setPortOpen(true);
        link.setPortOpen(false);
        QVERIFY(!link.opening() && !link.portOpen());
        serveEvents(100);
        QCOMPARE(settled.count(), 0);
    }

    void serverStoppedWhileOpen() {
        PtyPair pty;
        Ser2netProcess server;
        QVERIFY(server.start(pty.slavePath()));
        NetworkLink link;
        QCOMPARE(openOn(link, "rfc2217://127.0.0.1:" + QString::number(server.rfc2217Port())),
                 QString());
        QSignalSpy lost(&link, &Link::deviceLost);
        server.stop();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(link.lost() && link.portOpen());
        QVERIFY(cpuOver(200) < 0.05); // nothing storms
        QCOMPARE(lost.count(), 1);
        QVERIFY_THROWS_EXCEPTION(PortError, link.inputBytes()); // told once, then closed
        QVERIFY(!link.portOpen());
    }

    // A server of the test's own writes the script, a chunk each 5 ms ('|' between chunks).
    void oddServers_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("result");
        QTest::newRow("garbage, unknown options and split IACs leave the data exact")
            << QByteArray("fffd2c | fffbc8 fff1 fffa6300fff0 fffa2c010203fff0 fffa2c6500002580ff |"
                          "f0 fffa2c6608fff0 fffa2c6701fff0 fffa2c6801fff0 fffa2c6901fff0 |"
                          "fffa2c6bb0fff0 41ff | ff42")
            << "open [41 ff 42] cts 1 dsr 1 dcd 1, unconfirmed DTR,RTS";
        QTest::newRow("answers packed in one, a one-byte baud code among them")
            << QByteArray("fffd2c | fffa2c 6503 6608 6701 6801 6901 6908 690b fff0")
            << "open [] *, unconfirmed DTR";
        QTest::newRow("a different baud rate confirmed fails the opening, naming it")
            << QByteArray("fffd2c | fffa2c6500004b00fff0")
            << "Com9: 127.0.0.1:* refuses the baud rate 9600 (the server answers 19200)";
        QTest::newRow("no answer opens after the wait with every setting listed")
            << QByteArray("fffd2c")
            << "open [] *, unconfirmed baud rate,data bits,parity,stop bits,flow control,DTR,RTS";
    }
    void oddServers() {
        QFETCH(QByteArray, script);
        QFETCH(QString, result);
        QTcpServer fake;
        QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
        connect(&fake, &QTcpServer::newConnection, &fake, [&] {
            QTcpSocket* s = fake.nextPendingConnection();
            int at = 0;
            for (const QByteArray& chunk : script.split('|'))
                QTimer::singleShot(at += 5, s,
                                   [s, chunk] { s->write(QByteArray::fromHex(chunk)); });
        });
        NetworkLink link;
        QString got = openOn(link, "rfc2217://127.0.0.1:" + QString::number(fake.serverPort()));
        if (got.isEmpty()) {
            serveEvents(50);
            const ModemLines l = link.modemLines();
            got = QString("open [%1] cts %2 dsr %3 dcd %4, unconfirmed %5")
                      .arg(QString(link.inputBytes().toHex(' ')))
                      .arg(l.cts)
                      .arg(l.dsr)
                      .arg(l.dcd)
                      .arg(unconfirmed(link));
        }
        QVERIFY2(wildcardMatch(result, got), qPrintable(got));
    }
};

QTEST_MAIN(TstNetworkLink)
#include "tst_network_link.moc"
