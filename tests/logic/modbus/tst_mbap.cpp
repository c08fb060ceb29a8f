// Modbus TCP framing: ADUs built and reassembled from a stream by their length field, bad
// headers flagged, and a transaction that matches replies by their transaction id.
#include "logic/modbus/mbap.h"
#include "logic/modbus/transaction.h"
#include "support/bytes.h"

#include <QStringList>
#include <QTest>

using namespace varnok;
using namespace varnok::modbus;
using test::span;

namespace {

QByteArray bytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// The pieces as "adu|protocol|garbage:hex".
QStringList pieces(mbap::Reassembler& r) {
    static const char* kKinds[] = {"adu", "protocol", "garbage"};
    QStringList out;
    for (const mbap::Piece& p : r.take())
        out << QString(kKinds[int(p.kind)]) + ':' + bytes(p.bytes).toHex();
    return out;
}

} // namespace

class TstMbap : public QObject {
    Q_OBJECT
  private slots:
    void build() {
        const QByteArray rtu = test::withCrc("010300000001"),
                         adu = QByteArray::fromHex("000100000006010300000001");
        QCOMPARE(bytes(mbap::aduFromRtu(1, span(rtu))), adu);
        QCOMPARE(bytes(mbap::rtuFromAdu(span(adu))), rtu);
    }

    // Reads "hex|hex|..." fed one after the other; the pieces and the bytes left pending.
    void reassemble_data() {
        QTest::addColumn<QString>("reads");
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<int>("pending");
        QTest::newRow("several ADUs in one read come out each whole, in order")
            << "000700000005010302123400080000000401830201"
            << QStringList{"adu:0007000000050103021234", "adu:00080000000401830201"} << 0;
        QTest::newRow("one ADU over several reads comes out once whole")
            << "0007|0000000501|0302|1234|0008" << QStringList{"adu:0007000000050103021234"} << 2;
        QTest::newRow("protocol id 1 is flagged, framed by its length")
            << "000700010003010100" << QStringList{"protocol:000700010003010100"} << 0;
        QTest::newRow("length 0 is impossible: bytes dropped up to the next possible header")
            << "00070000000001000800000003018302"
            << QStringList{"garbage:00070000000001", "adu:000800000003018302"} << 0;
        QTest::newRow("length 300 is impossible; what follows is judged as it comes")
            << "0007000001 2C0103|0008000000030183 02"
            << QStringList{"garbage:000700", "garbage:00012c0103", "adu:000800000003018302"} << 0;
    }
    void reassemble() {
        QFETCH(QString, reads);
        QFETCH(QStringList, pieces);
        QFETCH(int, pending);
        mbap::Reassembler r;
        QStringList got;
        for (const QString& read : reads.split('|')) {
            r.feed(span(QByteArray::fromHex(read.toLatin1())));
            got << ::pieces(r);
        }
        QCOMPARE(got, pieces);
        QCOMPARE(int(r.pending()), pending);
    }

    // A transaction for one register of station 1 (or 0), id 7, fed "hex" chunks, "timeout"
    // or "silence": what it ends with and its tally.
    void transaction_data() {
        QTest::addColumn<int>("station");
        QTest::addColumn<int>("framing");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("outcome");
        const int kMbap = int(Framing::Mbap), kStream = int(Framing::Stream);
        QTest::newRow("a late reply with the previous id is dropped and counted, not the answer")
            << 1 << kMbap << "00060000000501030299 99|00070000000501030212 34"
            << "ok 4660 stale 1 tries 1";
        QTest::newRow("a reply whose id is unknown never answers: timeout")
            << 1 << kMbap << "00630000000501030212 34|timeout|timeout"
            << "timeout stale 1 tries 2";
        QTest::newRow("protocol id 1 fails the try")
            << 1 << kMbap << "00070001000501030212 34"
            << "protocol id 1 in the MBAP header, not 0 stale 0 tries 2";
        QTest::newRow("a header promising more than comes is a short reply at the timeout")
            << 1 << kMbap << "00070000000801030212 34|timeout"
            << "short reply: the MBAP header gives 14 bytes, 11 came stale 0 tries 2";
        QTest::newRow("unit 0 expects no reply: no retry, no timeout counted")
            << 0 << kMbap << "timeout"
            << "broadcast: no reply expected stale 0 tries 1";
        QTest::newRow("over the network a gap does not end an RTU reply of known length")
            << 1 << kStream << "010302|silence|1234B533"
            << "ok 4660 stale 0 tries 1";
    }
    void transaction() {
        QFETCH(int, station);
        QFETCH(int, framing);
        QFETCH(QString, events);
        QFETCH(QString, outcome);
        Transaction t;
        t.begin({station, 3, 0, 1, {}, {}}, 1, Framing(framing));
        t.sent(0, 7);
        Transaction::Step step = Transaction::Step::Wait;
        for (const QString& e : events.split('|')) {
            if (e == "timeout")
                step = t.timeout();
            else if (e == "silence")
                step = t.silence();
            else
                step = t.received(span(QByteArray::fromHex(e.toLatin1())), 10);
            if (step == Transaction::Step::SendAgain)
                t.sent(20, 8);
        }
        const QString got = t.check().status == ReplyStatus::Ok
                                ? "ok " + QString::number(t.check().registers.at(0))
                                : QString::fromStdString(t.check().text);
        QCOMPARE(
            got +
                QStringLiteral(" stale %1 tries %2").arg(t.tally().staleReplies).arg(t.attempts()),
            outcome);
    }
};

QTEST_APPLESS_MAIN(TstMbap)
#include "tst_mbap.moc"
