// The finder's rules: the order settings are tried in, the timeout from the baud, the
// estimate, and what stray bytes say.
#include "logic/modbus/find_plan.h"
#include "support/bytes.h"

#include <QStringList>
#include <QTest>

using namespace varnok;
using namespace varnok::modbus;
using test::span;
using test::withCrc;

namespace {

QStringList names(const std::vector<serial::LineSettings>& v) {
    QStringList out;
    for (const auto& s : v)
        out << QString::fromStdString(settingName(s));
    return out;
}
std::vector<int> bauds(const QString& list) {
    std::vector<int> v;
    for (const QString& b : list.split(' ', Qt::SkipEmptyParts))
        v.push_back(b.toInt());
    return v;
}
serial::LineSettings setting(const QString& text) { // "9600 8E1"
    const QStringList f = text.split(' ');
    const QString fr = f[1];
    const char p = fr[1].toLatin1();
    return {f[0].toInt(),
            p == 'E'   ? serial::Parity::Even
            : p == 'O' ? serial::Parity::Odd
                       : serial::Parity::None,
            fr[0].digitValue(), fr[2] == '2' ? serial::StopBits::Two : serial::StopBits::One};
}

} // namespace

class TstFindPlan : public QObject {
    Q_OBJECT
  private slots:
    void order_data() {
        QTest::addColumn<QString>("bauds");
        QTest::addColumn<bool>("sevenBit");
        QTest::addColumn<QStringList>("first"); // the head of the order
        QTest::addColumn<int>("count");
        QTest::newRow("the likely four lead, then by baud and framing")
            << "9600 19200 115200" << false
            << QStringList{"19200 8E1", "9600 8N1",  "9600 8E1",  "115200 8N1", "9600 8N2",
                           "9600 8O1",  "19200 8N2", "19200 8N1", "19200 8O1",  "115200 8E1"}
            << 12;
        QTest::newRow("an unticked baud gives up its likely ones")
            << "115200 4800" << false << QStringList{"115200 8N1", "115200 8E1", "115200 8N2"} << 8;
        QTest::newRow("seven-bit framings after the eight-bit ones")
            << "2400" << true << QStringList{"2400 8E1", "2400 8N2", "2400 8N1", "2400 8O1",
                                             "2400 7E1", "2400 7O1", "2400 7N2"}
            << 7;
        QTest::newRow("a baud ticked twice comes once")
            << "9600 9600" << false << QStringList{"9600 8N1", "9600 8E1"} << 4;
    }
    void order() {
        QFETCH(QString, bauds);
        QFETCH(bool, sevenBit);
        QFETCH(QStringList, first);
        QFETCH(int, count);
        const QStringList got = names(sweepOrder(::bauds(bauds), framings(sevenBit)));
        QCOMPARE(got.size(), count);
        QCOMPARE(got.mid(0, first.size()), first);
    }

    void neighbours_data() {
        QTest::addColumn<QStringList>("rest");
        QTest::addColumn<QString>("around");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("same baud, then one step, then further")
            << QStringList{"921600 8N1", "4800 8N1", "38400 8E1", "19200 8O1", "19200 8N2"}
            << "19200 8N1"
            << QStringList{"19200 8O1", "19200 8N2", "38400 8E1", "4800 8N1", "921600 8N1"};
    }
    void neighbours() {
        QFETCH(QStringList, rest);
        QFETCH(QString, around);
        QFETCH(QStringList, order);
        std::vector<serial::LineSettings> v;
        for (const QString& r : rest)
            v.push_back(setting(r));
        QCOMPARE(names(neighboursFirst(v, setting(around))), order);
    }

    void timeout_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("allowance");
        QTest::addColumn<int>("ms");
        // 03 of one: 8 + 7 + 3.5 characters.
        QTest::newRow("115200 8N1: 1.6 ms on the line") << "115200 8N1" << 3 << 1 << 8 << 10;
        QTest::newRow("9600 8E1: 11 bits, 21.2 ms") << "9600 8E1" << 3 << 1 << 0 << 22;
        QTest::newRow("300 8N1: 617 ms") << "300 8N1" << 3 << 1 << 5 << 622;
        // 03 of 125 registers: a 255-byte reply.
        QTest::newRow("a long reply counts") << "19200 8N2" << 3 << 125 << 0 << 153;
        QTest::newRow("01 of one bit: a 6-byte reply") << "9600 8N1" << 1 << 1 << 0 << 19;
    }
    void timeout() {
        QFETCH(QString, line);
        QFETCH(int, function);
        QFETCH(int, count);
        QFETCH(int, allowance);
        QFETCH(int, ms);
        const PollRequest probe{1, function, 0, count, {}, {}};
        QCOMPARE(autoTimeoutMs(setting(line), probe, allowance), ms);
    }

    void estimate() {
        QCOMPARE(sweepMs({10, 20}, 247), 2 * kChangeMs + 247 * 30.0);
        QCOMPARE(sweepMs({}, 247), 0.0);
        QCOMPARE(timeLeftMs(1000, 200, 300), 1500.0); // probes ran 1.5 times their plan
        QCOMPARE(timeLeftMs(1000, 0, 0), 1000.0);     // nothing done yet: the plan
    }

    void heard_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("heard");
        QTest::addColumn<QString>("frames"); // "start+length ..."
        const QByteArray reply = withCrc("010302 1234");
        const QByteArray request = withCrc("0103 0000 0001");
        QTest::newRow("nothing") << QByteArray() << int(Heard::Nothing) << "";
        QTest::newRow("a reply") << reply << int(Heard::Frame) << "0+7";
        QTest::newRow("an exception") << withCrc("018302") << int(Heard::Frame) << "0+5";
        QTest::newRow("another master's request and reply")
            << request + reply << int(Heard::Frame) << "0+8 8+7";
        QTest::newRow("noise before a frame is skipped")
            << QByteArray::fromHex("ff00fe") + reply << int(Heard::Frame) << "3+7";
        QByteArray bad = reply;
        bad[6] = char(bad[6] ^ 1);
        QTest::newRow("a CRC that never matches") << bad << int(Heard::Garbled) << "";
        QTest::newRow("bytes at the wrong speed")
            << QByteArray::fromHex("f8 80 f8 00 78 fe 80") << int(Heard::Garbled) << "";
        QTest::newRow("a station above 247 is no frame")
            << withCrc("f80302 1234") << int(Heard::Garbled) << "";
    }
    void heard() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, heard);
        QFETCH(QString, frames);
        QCOMPARE(int(modbus::heard(span(bytes))), heard);
        QStringList got;
        for (const FrameSpan& f : framesIn(span(bytes)))
            got << QString("%1+%2").arg(f.start).arg(f.length);
        QCOMPARE(got.join(' '), frames);
    }

    void hint() {
        QCOMPARE(garbledHint(setting("9600 8N1")),
                 std::string("something answered garbled at 9600 8N1"));
    }
};

QTEST_APPLESS_MAIN(TstFindPlan)
#include "tst_find_plan.moc"
