// The terminal on a port over the network: opening goes on in the background and Close
// cancels it, a failure is one message naming the host and port, and Reopen finds the server
// again once it accepts. Servers are the test's own on 127.0.0.1, and ser2net over a pair.
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "support/engine_rig.h"
#include "support/ser2net_process.h"

using namespace varnok;
using namespace varnok::test;

namespace {

// Binds Com1 to `address` and asks to open it; true when the opening went on in the background.
bool startOpening(EngineRig& rig, const QString& address) {
    serial::bindPort(1, address.toStdString());
    engine::OpenRequest r;
    r.baud = QStringLiteral("9600");
    return rig.open(r) && rig.e.connecting() && !rig.e.isOpen();
}

} // namespace

class TstNetworkEngine : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void opensInTheBackgroundWithItsNote() {
        if (!Ser2netProcess::installed())
            QSKIP("ser2net is not installed");
        EngineRig rig;
        Ser2netProcess server;
        QVERIFY(server.start(rig.pty.slavePath(), QStringLiteral("9600n81")));
        QSignalSpy opened(&rig.e, &engine::TerminalEngine::portOpenChanged);
        const QString where = QStringLiteral("127.0.0.1:%1").arg(server.rfc2217Port());
        QVERIFY(startOpening(rig, QStringLiteral("rfc2217://") + where));
        QTRY_VERIFY(rig.e.isOpen());
        QVERIFY(!rig.e.connecting());
        QCOMPARE(opened.count(), 1);
        QVERIFY2(rig.e.deviceNote().startsWith(QStringLiteral("connected to ") + where),
                 qPrintable(rig.e.deviceNote()));
        QVERIFY(rig.e.sendBytes(QByteArray("\xFF\x01\xFF\xFF", 4)));
        QCOMPARE(rig.pty.readExactly(4, 3000), QByteArray("\xFF\x01\xFF\xFF", 4));
        rig.pty.write(QByteArray("\xFFok\xFF", 4));
        QTRY_COMPARE(rig.received, QByteArray("\xFFok\xFF", 4));
        QVERIFY2(rig.messages.isEmpty(), qPrintable(rig.messages.join('\n')));
    }

    void closeCancelsTheConnection() {
        // A server that accepts and never answers keeps a remote serial port negotiating.
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        EngineRig rig;
        QSignalSpy opened(&rig.e, &engine::TerminalEngine::portOpenChanged);
        QSignalSpy connecting(&rig.e, &engine::TerminalEngine::connectingChanged);
        rig.e.port().setConnectTimeout(300);
        QVERIFY(startOpening(rig, QStringLiteral("rfc2217://127.0.0.1:%1").arg(mute.serverPort())));
        rig.e.close();
        QVERIFY(!rig.e.connecting());
        QCOMPARE(connecting.count(), 2);
        QTest::qWait(500); // past the timeout: nothing settles late
        QCOMPARE(opened.count(), 0);
        QVERIFY2(rig.messages.isEmpty(), qPrintable(rig.messages.join('\n')));
    }

    void failureIsOneMessageNamingHostAndPort_data() {
        QTest::addColumn<bool>("listening");
        QTest::newRow("refused connection") << false;
        QTest::newRow("server accepts and says nothing past the timeout") << true;
    }
    void failureIsOneMessageNamingHostAndPort() {
        QFETCH(bool, listening);
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        const quint16 port = mute.serverPort();
        if (!listening)
            mute.close();
        EngineRig rig;
        rig.e.port().setConnectTimeout(300);
        QVERIFY(startOpening(rig, QStringLiteral("rfc2217://127.0.0.1:%1").arg(port)));
        QTRY_VERIFY(!rig.e.connecting());
        QTest::qWait(100);
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY2(rig.messages[0].contains(QStringLiteral("127.0.0.1:%1").arg(port)),
                 qPrintable(rig.messages[0]));
        QVERIFY(!rig.e.isOpen());
    }

    void reopenFindsTheServerAgain() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        EngineRig rig;
        rig.e.setReopen(true);
        QSignalSpy reopened(&rig.e, &engine::TerminalEngine::reopened);
        QVERIFY(startOpening(rig, QStringLiteral("tcp://127.0.0.1:%1").arg(port)));
        QTRY_VERIFY(rig.e.isOpen());
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* peer = server.nextPendingConnection();
        server.close(); // the server stops: its connection goes, nobody accepts
        peer->abort();
        QTRY_VERIFY(!rig.e.isOpen());
        QTRY_VERIFY(rig.e.watchingForReopen());
        QCOMPARE(rig.messages.size(), 1); // the loss, told once
        QTest::qWait(1300);               // asked again at most once a second, quietly
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        QTRY_VERIFY_WITH_TIMEOUT(rig.e.isOpen(), 3000);
        QCOMPARE(reopened.count(), 1);
        QVERIFY(!rig.e.watchingForReopen());
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* again = server.nextPendingConnection();
        QVERIFY(rig.e.sendBytes("back"));
        QByteArray got; // read as it comes: a read inside QTRY would lose what it took
        QTRY_COMPARE((got += again->readAll()), QByteArray("back"));
        QCOMPARE(rig.messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstNetworkEngine)
#include "tst_network_engine.moc"
