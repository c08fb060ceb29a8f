// The port layer against a real pseudo-terminal pair; the test holds the device end.
#include <QRandomGenerator>
#include <QTest>
#include <thread>

#include "logic/serial/port_map.h"
#include "port/comm_port.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using namespace varnok::serial;
using varnok::test::PtyPair;

namespace {

QByteArray randomBytes(qsizetype n, quint32 seed) {
    QRandomGenerator g(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (auto& c : b)
        c = static_cast<char>(g.bounded(256));
    return b;
}

void openOn(CommPort& port, const PtyPair& pty, int number = 7) {
    bindPort(number, pty.slavePath().toStdString());
    port.setCommPort(number);
    port.setLineSettings(parseSettings("115200,n,8,1"));
    port.setInBufferSize(8192);
    port.setPortOpen(true);
}

} // namespace

class TstCommPort : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { clearPortBindings(); }

    void bytesBothWays() {
        PtyPair pty;
        CommPort port;
        openOn(port, pty);

        // Every byte value and a long random run, device to program.
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(static_cast<char>(i));
        const QByteArray sent = all + randomBytes(100000, 1);
        QByteArray got;
        std::thread writer([&] { pty.write(sent); });
        QElapsedTimer t;
        t.start();
        while (got.size() < sent.size() && t.elapsed() < 20000) {
            if (port.inBufferCount() > 0)
                got += port.inputBytes();
            else
                QTest::qWait(1);
        }
        writer.join();
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);

        // And program to device, without the event loop running in between.
        const QByteArray out = all + randomBytes(3000, 2);
        port.output(out);
        QCOMPARE(pty.readExactly(out.size(), 5000), out);
    }

    void readsWaitsAndDiscards() {
        PtyPair pty;
        CommPort port;
        openOn(port, pty);
        pty.write("0123456789");
        QTRY_COMPARE(port.inBufferCount(), 10);
        QCOMPARE(port.inputBytes(), QByteArray("0123456789"));
        // The thread blocks (no events served) while the device answers: the write left before
        // the pause, and the count and the read still see every byte.
        port.output("ip\r");
        QThread::msleep(50);
        QCOMPARE(pty.readAvailable(), QByteArray("ip\r"));
        pty.write("IP=10.0.0.7\r\n");
        QThread::msleep(100);
        QCOMPARE(port.inBufferCount(), 13);
        port.setInBufferCount(0); // discards them all
        QCOMPARE(port.inBufferCount(), 0);
        pty.write("new");
        QTRY_COMPARE(port.inBufferCount(), 3);
    }

    void noModemLinesOnAPseudoTerminal() {
        PtyPair pty;
        CommPort port;
        port.setDTREnable(true); // while closed: kept, applied at opening
        openOn(port, pty);
        port.setDTREnable(false);
        port.setDTREnable(true);
        QVERIFY(!port.cdHolding() && port.portOpen());
        QCOMPARE(port.modemLines(), serial::ModemLines{});
        port.setPortOpen(false);
        QVERIFY(!port.cdHolding()); // closed: False, no failure
    }

    void heldByAnother() {
        PtyPair pty;
        CommPort first;
        openOn(first, pty, 5);
        CommPort second;
        try {
            openOn(second, pty, 5);
            QFAIL("opened twice");
        } catch (const PortError& e) {
            QVERIFY2(std::string_view(e.what()).find("in use") != std::string_view::npos, e.what());
        }
        QVERIFY(first.portOpen() && !second.portOpen());
    }
};

QTEST_MAIN(TstCommPort)
#include "tst_comm_port.moc"
