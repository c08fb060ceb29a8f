// The traffic monitor's pure part: frame splitting, RTU decoding, pairing and text.
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/monitor/traffic_stats.h"

#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace varnok::monitor;

Q_DECLARE_METATYPE(LineSettings)

namespace {

std::span<const std::uint8_t> span(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()), std::size_t(a.size())};
}

QString str(const std::string& s) {
    return QString::fromStdString(s);
}

QString frameText(const Frame& f) {
    return QStringLiteral("%1 %2-%3 %4")
        .arg(f.direction == Direction::Tx ? "tx" : "rx")
        .arg(f.firstUs)
        .arg(f.lastUs)
        .arg(QByteArray(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()))
                 .toHex());
}

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // Two hours east of UTC without summer time, so local time shows it is local.
        ::setenv("TZ", "XYZ-2", 1);
        ::tzset();
    }

    // Frames taken from libmodbus 3.1.6: its master talking to varnok-devsim --static over a
    // pty, and (codes 04 and 0B) modbus_reply_exception.
    void decode_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("request");
        QTest::addColumn<QString>("summary");
        auto row = [](const char* name, const char* hex, bool request, const char* text) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << request << QString::fromUtf8(text);
        };
        row("1 req", "01010000000ABC0D", true,
            "st 1 Read multi-coils status: addr 0 (0x0000) qty 10 · CRC ok");
        row("1 reply", "0101020000B9FC", false,
            "st 1 FC1 reply: 16 bits: 00000000 00000000 · CRC ok");
        row("2 req", "01020000000AF80D", true,
            "st 1 Read multi-input discrete: addr 0 (0x0000) qty 10 · CRC ok");
        row("2 reply", "010202AA0246D9", false,
            "st 1 FC2 reply: 16 bits: 01010101 01000000 · CRC ok");
        row("3 req", "010300000002C40B", true,
            "st 1 Read multi-registers: addr 0 (0x0000) qty 2 · CRC ok");
        row("3 reply", "01030412340000BE85", false,
            "st 1 FC3 reply: 2 regs: [0] 0x1234 = 4660, [1] 0x0000 = 0 · CRC ok");
        row("4 req", "010400010003E1CB", true,
            "st 1 Read multi-input registers: addr 1 (0x0001) qty 3 · CRC ok");
        row("4 reply", "010406300130023003A262", false,
            "st 1 FC4 reply: 3 regs: [0] 0x3001 = 12289, [1] 0x3002 = 12290, [2] 0x3003 = 12291 "
            "· CRC ok");
        row("5 req on", "01050003FF007C3A", true,
            "st 1 Write single-coil: addr 3 (0x0003) ON · CRC ok");
        row("5 reply off", "0105000300003DCA", false,
            "st 1 FC5 reply: addr 3 (0x0003) OFF · CRC ok");
        row("6 req", "01060001ABCD66AF", true,
            "st 1 Write single-register: addr 1 (0x0001) = 0xABCD = 43981 · CRC ok");
        row("6 reply", "01060001ABCD66AF", false,
            "st 1 FC6 reply: addr 1 (0x0001) = 0xABCD = 43981 · CRC ok");
        row("15 req", "010F0002000A02CD01718A", true,
            "st 1 Write multi-coils: addr 2 (0x0002) qty 10: 10110011 10 · CRC ok");
        row("15 reply", "010F0002000A740C", false,
            "st 1 FC15 reply: addr 2 (0x0002) qty 10 written · CRC ok");
        row("16 req", "01100004000204000A0102520F", true,
            "st 1 Write multi-registers: addr 4 (0x0004) qty 2: 0x000A = 10, 0x0102 = 258 · CRC "
            "ok");
        row("16 reply", "0110000400020009", false,
            "st 1 FC16 reply: addr 4 (0x0004) qty 2 written · CRC ok");
        row("exception 01", "01C101B050", false,
            "st 1 FC65 exception 01: illegal function · CRC ok");
        row("exception 02", "019002CDC1", false,
            "st 1 FC16 exception 02: illegal data address · CRC ok");
        row("exception 03", "0183030131", false,
            "st 1 FC3 exception 03: illegal data value · CRC ok");
        row("exception 04", "1184044306", false,
            "st 17 FC4 exception 04: server device failure · CRC ok");
        row("exception 0B", "11840B0302", false,
            "st 17 FC4 exception 0B: gateway target failed to respond · CRC ok");
        // Made by hand.
        row("bad CRC", "010300000001840B", true,
            "st 1 Read multi-registers: addr 0 (0x0000) qty 1 · CRC bad, expected 84 0A");
        row("byte count", "0103041234B533", false,
            "st 1 Read multi-registers: byte count 4 but 2 data bytes · CRC bad, expected 55 32");
        row("too short", "0103", false, "st 1 Read multi-registers: too short");
    }

    void decode() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, request);
        QFETCH(QString, summary);
        QCOMPARE(str(varnok::monitor::summary(decodeRtu(span(frame), request))), summary);
    }

    void gapRule_data() {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<int>("userGapUs");
        QTest::addColumn<int>("gapUs");
        QTest::addColumn<QString>("text");
        const QString chars = "RX frame ends after 3.5 characters of silence: ";
        QTest::newRow("9600 8N1") << LineSettings{9600, 8, 'N', 1} << 0 << 3646
                                  << chars + "3.65 ms at 9600 8N1";
        QTest::newRow("1200 7O2") << LineSettings{1200, 7, 'O', 2} << 0 << 32083
                                  << chars + "32.08 ms at 1200 7O2";
        QTest::newRow("38400 floor")
            << LineSettings{38400, 8, 'E', 1} << 0 << 1750
            << chars + "1.75 ms at 38400 8E1 (at least 1.75 ms above 19200 baud)";
        QTest::newRow("set gap") << LineSettings{115200, 8, 'N', 1} << 20000 << 20000
                                 << "RX frame ends after a set gap of 20 ms";
    }

    void gapRule() {
        QFETCH(LineSettings, line);
        QFETCH(int, userGapUs);
        QFETCH(int, gapUs);
        QFETCH(QString, text);
        QCOMPARE(frameGapUs(line, userGapUs), gapUs);
        QCOMPARE(str(frameGapText(line, userGapUs)), text);
    }

    void split_data() {
        QTest::addColumn<QStringList>("events"); // "µs rx|tx hex" or "µs flush", gap 4000 µs
        QTest::addColumn<QStringList>("frames");
        QTest::newRow("gap just under")
            << QStringList{"0 rx 01", "3999 rx 02", "7999 flush"} << QStringList{"rx 0-3999 0102"};
        QTest::newRow("gap just over") << QStringList{"0 rx 01", "4001 rx 02", "9000 flush"}
                                       << QStringList{"rx 0-0 01", "rx 4001-4001 02"};
        QTest::newRow("TX splits RX")
            << QStringList{"0 rx 01", "100 tx 0103", "200 rx 02", "4200 flush"}
            << QStringList{"rx 0-0 01", "tx 100-100 0103", "rx 200-200 02"};
        QTest::newRow("flush early")
            << QStringList{"0 rx 01", "3999 flush", "4000 rx 02"} << QStringList{"rx 0-0 01"};
    }

    void split() {
        QFETCH(QStringList, events);
        QFETCH(QStringList, frames);
        FrameSplitter splitter(4000);
        QStringList got;
        for (const QString& e : events) {
            const QStringList f = e.split(' ');
            const qint64 t = f[0].toLongLong();
            if (f[1] == "flush") {
                if (const auto frame = splitter.flush(t))
                    got << frameText(*frame);
                continue;
            }
            const QByteArray bytes = QByteArray::fromHex(f[2].toLatin1());
            for (const Frame& frame :
                 splitter.feed(t, 0, f[1] == "tx" ? Direction::Tx : Direction::Rx, span(bytes)))
                got << frameText(frame);
        }
        QCOMPARE(got, frames);
    }

    void stats_data() {
        QTest::addColumn<QStringList>("events"); // "tx|rx|exc|bad|tick µs" or "reset"
        QTest::addColumn<QString>("counts"); // requests replies unpaired timeouts crc exc min max
        QTest::newRow("reply") << QStringList{"tx 0", "rx 1000"} << "1 1 0 0 0 0 1000 1000";
        QTest::newRow("tick at and past the timeout")
            << QStringList{"tx 0", "tick 1000000", "tick 1000001", "rx 1000002"}
            << "1 0 1 1 0 0 0 0";
        QTest::newRow("late reply") << QStringList{"tx 0", "rx 1000001"} << "1 0 1 1 0 0 0 0";
        QTest::newRow("next request first")
            << QStringList{"tx 0", "tx 10", "rx 30"} << "2 1 0 1 0 0 20 20";
        QTest::newRow("exception, bad CRC")
            << QStringList{"tx 0", "exc 500", "tx 600", "bad 900"} << "2 2 0 0 1 1 300 500";
        QTest::newRow("reset") << QStringList{"tx 0", "rx 10", "tx 20", "reset", "rx 30"}
                               << "0 0 1 0 0 0 0 0";
    }

    void stats() {
        QFETCH(QStringList, events);
        QFETCH(QString, counts);
        TrafficStats stats;
        for (const QString& e : events) {
            const QStringList f = e.split(' ');
            const qint64 t = f.value(1).toLongLong();
            Decoded d;
            d.crcOk = f[0] != "bad";
            d.kind = f[0] == "exc" ? FrameKind::Exception : FrameKind::Response;
            if (f[0] == "tick")
                stats.tick(t);
            else if (f[0] == "reset")
                stats.reset();
            else
                stats.add({t, t, 0, f[0] == "tx" ? Direction::Tx : Direction::Rx, {}}, d);
        }
        const TrafficCounts c = stats.counts();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(c.requests)
                     .arg(c.replies)
                     .arg(c.unpaired)
                     .arg(c.timeouts)
                     .arg(c.crcErrors)
                     .arg(c.exceptions)
                     .arg(c.minUs)
                     .arg(c.maxUs),
                 counts);
    }

    void percentileWindow() {
        TrafficStats stats;
        const Decoded d;
        auto exchange = [&](qint64 at, qint64 responseUs) {
            stats.add({at, at, 0, Direction::Tx, {}}, d);
            stats.add({at + responseUs, at + responseUs, 0, Direction::Rx, {}}, d);
        };
        qint64 at = 0;
        for (qint64 us = 1000; us >= 1; --us, at += 10000)
            exchange(at, us);
        TrafficCounts c = stats.counts();
        QCOMPARE(c.minUs, 1);
        QCOMPARE(c.meanUs, 500.5);
        QCOMPARE(c.p99Us, 990);
        QCOMPARE(c.maxUs, 1000);
        // Only the last 100,000 count for the percentile; the maximum keeps the 1000.
        for (std::size_t i = 0; i < TrafficStats::kPercentileWindow; ++i, at += 10000)
            exchange(at, 5);
        c = stats.counts();
        QCOMPARE(c.p99Us, 5);
        QCOMPARE(c.maxUs, 1000);
    }

    void bytesAsText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("dotted");
        QTest::addColumn<QString>("c");
        QTest::addColumn<QString>("python");
        QTest::newRow("empty") << QByteArray() << ""
                               << "{}"
                               << "b''";
        QTest::newRow("modbus") << QByteArray::fromHex("0103840A") << "...."
                                << "{0x01, 0x03, 0x84, 0x0A}"
                                << R"(b'\x01\x03\x84\x0a')";
        QTest::newRow("quote, backslash") << QByteArray("It's\\") << "It's\\"
                                          << "{0x49, 0x74, 0x27, 0x73, 0x5C}"
                                          << R"(b'It\'s\\')";
        QTest::newRow("printable edges") << QByteArray::fromHex("1F207E7F") << ". ~."
                                         << "{0x1F, 0x20, 0x7E, 0x7F}"
                                         << R"(b'\x1f ~\x7f')";
    }

    void bytesAsText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, dotted);
        QFETCH(QString, c);
        QFETCH(QString, python);
        QCOMPARE(str(dottedText(span(bytes))), dotted);
        QCOMPARE(str(cArrayText(span(bytes))), c);
        QCOMPARE(str(pythonBytesText(span(bytes))), python);
    }

    void lineAndHeader() {
        // 2023-11-14 22:13:20.123 UTC
        const Frame previous{0, 1000, 0, Direction::Tx, {}};
        const Frame frame{2500, 2600, 1700000000123, Direction::Rx, {0x01, 0x41, 0x7E}};
        QCOMPARE(str(frameLine(frame, &previous, "st 1")),
                 "00:13:20.123\t1.500\tRX\t3\t01 41 7E\t.A~\tst 1");
        QCOMPARE(str(frameLine(frame, nullptr, "")), "00:13:20.123\t\tRX\t3\t01 41 7E\t.A~\t");
        QCOMPARE(
            str(captureHeader(1700000000123)),
            "# capture 2023-11-15 00:13:20 UTC+0200\ttime\tgap ms\tdir\tlen\thex\ttext\tdecoded");
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
