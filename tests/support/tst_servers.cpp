// The loopback Modbus servers of the tests answer as they say: pymodbus over Modbus TCP and
// RTU over TCP, and libmodbus correctly and with each of its faults.
#include "support/bytes.h"
#include "support/modbus_servers.h"

#include <QTcpSocket>
#include <QTest>

#include <modbus/modbus.h>

using namespace varnok::test;

Q_DECLARE_METATYPE(ServerFaults)

namespace {

// Holding registers 0..2 through libmodbus' own client, or the failure.
QString readThree(std::uint16_t port) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    std::uint16_t r[3] = {};
    const bool ok = ctx && modbus_connect(ctx) == 0 && modbus_read_registers(ctx, 0, 3, r) == 3;
    const QString got = ok ? QStringLiteral("%1 %2 %3").arg(r[0]).arg(r[1]).arg(r[2])
                           : QString::fromUtf8(modbus_strerror(errno));
    modbus_close(ctx);
    modbus_free(ctx);
    return got;
}

// The answers to `requests` sent in turn on one connection: all that comes until 300 ms
// without any or 50 ms after the last bytes, and "closed" once the server has closed it.
QByteArrayList exchange(std::uint16_t port, const QByteArrayList& requests) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QByteArrayList answers;
    if (!socket.waitForConnected(2000))
        return {"not connected"};
    for (const QByteArray& request : requests) {
        socket.write(request);
        QByteArray got;
        while (socket.waitForReadyRead(got.isEmpty() ? 300 : 50))
            got += socket.readAll();
        answers << (socket.state() == QAbstractSocket::UnconnectedState ? "closed"
                                                                        : got.toHex(' '));
    }
    return answers;
}

} // namespace

class TestServers : public QObject {
    Q_OBJECT
  private slots:
    void pymodbusTcp() {
        if (const std::string why = PymodbusServer::unavailable(); !why.empty())
            QSKIP(why.c_str());
        PymodbusServer server;
        QVERIFY(server.start(PymodbusServer::Framing::Tcp));
        QCOMPARE(readThree(server.port()), QStringLiteral("1000 1001 1002"));
    }

    void pymodbusRtuOverTcp_data() {
        QTest::addColumn<std::vector<int>>("units");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("every unit answered")
            << std::vector<int>{} << withCrc("07 03 04 03 E8 03 E9").toHex(' ');
        QTest::newRow("an unlisted unit gets no reply") << std::vector<int>{2} << QByteArray();
    }
    void pymodbusRtuOverTcp() {
        QFETCH(std::vector<int>, units);
        QFETCH(QByteArray, answer);
        if (const std::string why = PymodbusServer::unavailable(); !why.empty())
            QSKIP(why.c_str());
        PymodbusServer server;
        QVERIFY(server.start(PymodbusServer::Framing::RtuOverTcp, units));
        QCOMPARE(exchange(server.port(), {withCrc("07 03 00 00 00 02")}), QByteArrayList{answer});
    }

    void libmodbus() {
        LibmodbusServer server;
        QVERIFY(server.start());
        QCOMPARE(readThree(server.port()), QStringLiteral("1000 1001 1002"));
        QCOMPARE(server.requests(), 1);
    }

    void libmodbusFaults_data() {
        QTest::addColumn<ServerFaults>("faults");
        QTest::addColumn<QByteArrayList>("answers");
        const QByteArray pdu = " 01 03 04 03 e8 03 e9";
        QTest::newRow("correct") << ServerFaults{} << QByteArrayList{"12 34 00 00 00 07" + pdu};
        QTest::newRow("wrong transaction id")
            << ServerFaults{true, 0, -1, -1} << QByteArrayList{"12 35 00 00 00 07" + pdu};
        QTest::newRow("protocol id 1")
            << ServerFaults{false, 1, -1, -1} << QByteArrayList{"12 34 00 01 00 07" + pdu};
        QTest::newRow("length 0") << ServerFaults{false, 0, 0, -1}
                                  << QByteArrayList{"12 34 00 00 00 00" + pdu};
        QTest::newRow("length 300")
            << ServerFaults{false, 0, 300, -1} << QByteArrayList{"12 34 00 00 01 2c" + pdu};
        QTest::newRow("closes on the second request")
            << ServerFaults{false, 0, -1, 1} << QByteArrayList{"12 34 00 00 00 07" + pdu, "closed"};
    }
    void libmodbusFaults() {
        QFETCH(ServerFaults, faults);
        QFETCH(QByteArrayList, answers);
        LibmodbusServer server;
        QVERIFY(server.start(faults));
        const QByteArray request = QByteArray::fromHex("1234 0000 0006 01 03 0000 0002");
        QCOMPARE(exchange(server.port(), QByteArrayList(answers.size(), request)), answers);
    }
};

QTEST_GUILESS_MAIN(TestServers)
#include "tst_servers.moc"
