// Quick Send in the engine layer over a pseudo-terminal pair: entries, a sequence and answers
// on the wire and in the counters, a paced file, a far end that stops reading, failures told
// once.
#include <QSignalSpy>
#include <QTest>

#include "engine/quick_send.h"
#include "support/engine_rig.h"

using namespace varnok;
using namespace varnok::engine;
using quicksend::Entry;
using quicksend::Pace;

namespace {

QuickSendBook book() {
    QuickSendBook b;
    b.entries = {{u"poll", u"1 3 0 0 0 1", quicksend::DataForm::Hex, quicksend::LineEnd::None,
                  quicksend::Checksum::ModbusCrc16},
                 {u"ok", u"OK", {}, quicksend::LineEnd::CRLF},
                 {u"x", u"x\\x00"}};
    b.sequences = {{u"two", {{u"ok", 0}, {u"x", 30}}, 2}};
    b.rules = {{{quicksend::PatternKind::Text, u"PING\\r"}, u"ok"},
               {{quicksend::PatternKind::Regex, u"T=[0-9]+;"}, u"x", 40}};
    return b;
}

struct Rig : test::EngineRig {
    QuickSender q{&e};
    QStringList failures;
    qint64 total = 0;
    Rig() {
        QObject::connect(&q, &QuickSender::failed, &q, [this](const QString& t) { failures << t; });
        QObject::connect(&e, &TerminalEngine::sendCountersChanged, &q,
                         [this](std::int32_t, std::int32_t t) { total = t; });
        QVERIFY(open());
        QVERIFY(q.setBook(book()));
    }
};

} // namespace

class TstQuickSend : public QObject {
    Q_OBJECT
  private slots:
    void wire_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArrayList>("arrive"); // what the device sends, read by read
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("fired");
        QTest::addRow("entry with its CRC")
            << "entry" << QByteArrayList{} << QByteArray("\x01\x03\x00\x00\x00\x01\x84\x0A", 8)
            << 0;
        QTest::addRow("sequence run twice")
            << "sequence" << QByteArrayList{} << QByteArray("OK\r\nx\0OK\r\nx\0", 12) << 0;
        QTest::addRow("answer to a pattern split over two reads")
            << "" << QByteArrayList{"..PI", "NG\r.."} << QByteArray("OK\r\n") << 1;
        QTest::addRow("delayed answer to an expression, one per match")
            << "" << QByteArrayList{"T=1", "2;T=3;"} << QByteArray("x\0x\0", 4) << 2;
        QTest::addRow("manual receive: answered once the bytes are read")
            << "manual" << QByteArrayList{"PING\r"} << QByteArray("OK\r\n") << 1;
        QTest::addRow("rules off: no answer")
            << "off" << QByteArrayList{"PING\r"} << QByteArray() << 0;
    }
    void wire() {
        QFETCH(QString, action);
        QFETCH(QByteArrayList, arrive);
        QFETCH(QByteArray, wire);
        Rig r;
        QSignalSpy steps(&r.q, &QuickSender::sequenceStep);
        if (action == "entry")
            QVERIFY(r.q.sendEntry(0));
        if (action == "sequence")
            r.q.runSequence(0);
        if (action == "off")
            r.q.setRulesEnabled(false);
        if (action == "manual")
            r.e.manualRead();
        for (const QByteArray& a : arrive) {
            r.pty.write(a);
            QTRY_VERIFY(r.received.endsWith(a) || action == "manual");
        }
        if (action == "manual") {
            QCOMPARE(r.pty.readFor(100), QByteArray());
            r.e.manualRead();
        }
        QCOMPARE(r.pty.readExactly(wire.size(), 3000), wire);
        QCOMPARE(r.pty.readFor(100), QByteArray());
        QCOMPARE(r.sent, wire);
        QCOMPARE(r.total, wire.size());
        QCOMPARE(r.failures, QStringList());
        if (action == "sequence") // each step highlighted, then the end
            QCOMPARE(steps.size(), 5);
        QTEST(r.q.firedCount(0) + r.q.firedCount(1), "fired");
    }

    void failuresToldOnce() {
        Rig r;
        QuickSendBook b = book();
        b.entries[2].periodMs = 20;
        QVERIFY(r.q.setBook(b));
        r.q.setRepeating(2, true);
        QTRY_VERIFY(r.sent.size() >= 4);
        r.e.close(); // the repeat stops with the port, without a word of its own
        QVERIFY(!r.q.repeating(2));
        QTest::qWait(100);
        QCOMPARE(r.failures, QStringList());
        QVERIFY(r.open()); // a pseudo-terminal has no line to break and no RTS
        r.q.sendBreak(QuickSender::kBreakMs);
        QVERIFY(!r.q.setRts(true));
        QCOMPARE(r.failures.size(), 2);
        QVERIFY2(r.failures[0].contains("has no serial line"), qPrintable(r.failures[0]));
        QVERIFY2(r.failures[1].contains("has no modem lines"), qPrintable(r.failures[1]));
        QVERIFY(!r.q.inBreak());
        QString why; // a book that names a missing entry is refused whole
        b.rules[0].entry = u"nothing";
        QVERIFY(!r.q.setBook(b, &why));
        QCOMPARE(why, "rule 1 (\"PING\\r\"): it names no entry (\"nothing\")");
        QCOMPARE(r.q.book().entries.size(), std::size_t(3));
    }

    void file_data() {
        QTest::addColumn<int>("pace");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("stallFarEnd");
        QTest::addRow("1 ms after each character") << int(Pace::PerCharacter) << 1 << 200 << false;
        QTest::addRow("after each line end") << int(Pace::PerLine) << 5 << 300 << false;
        QTest::addRow("full speed, far end stops reading: held, nothing lost or counted twice")
            << int(Pace::FullSpeed) << 0 << 600'000 << true;
    }
    void file() {
        QFETCH(int, pace);
        QFETCH(int, delayMs);
        QFETCH(int, size);
        QFETCH(bool, stallFarEnd);
        Rig r;
        QByteArray bytes;
        for (int i = 0; i < size; ++i)
            bytes += (i % 50 == 49) ? '\n' : char('A' + i % 26);
        QSignalSpy done(&r.q, &QuickSender::fileFinished);
        QSignalSpy progress(&r.q, &QuickSender::fileProgress);
        int writes = 0;
        connect(&r.e, &TerminalEngine::sent, this, [&writes] { ++writes; });
        r.q.startFile(bytes, Pace(pace), delayMs);
        QByteArray got;
        if (stallFarEnd) {
            QTest::qWait(300);
            QVERIFY(r.q.sendingFile());
            QCOMPARE(r.total, r.sent.size()); // what is counted is what was handed on
            QVERIFY(r.sent.size() < size);
        }
        got = r.pty.readExactly(size, 20000);
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toBool(), true);
        QCOMPARE(got.size(), bytes.size());
        QVERIFY(got == bytes);
        QCOMPARE(r.total, size);
        QCOMPARE(progress.last()[0].toLongLong(), qint64(size));
        if (!stallFarEnd) // one write per unit: a character or a line
            QCOMPARE(writes, pace == int(Pace::PerLine) ? size / 50 : size);
    }
};

QTEST_MAIN(TstQuickSend)
#include "tst_quick_send.moc"
