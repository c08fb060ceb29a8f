// The traffic monitor without Qt: frame splitting, RTU decoding, pairing and text.
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/monitor/traffic_stats.h"

#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace varnok::monitor;

namespace {

std::span<const std::uint8_t> span(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()), std::size_t(a.size())};
}

const auto str = [](const std::string& s) { return QString::fromStdString(s); };

QString frameText(const Frame& f) {
    const QByteArray bytes(reinterpret_cast<const char*>(f.bytes.data()),
                           qsizetype(f.bytes.size()));
    return (f.direction == Direction::Tx ? "tx " : "rx ") + QString::number(f.firstUs) + '-' +
           QString::number(f.lastUs) + ' ' + bytes.toHex();
}

// Requests, replies, unpaired, timeouts, CRC errors, exceptions; min, mean, p99, max µs.
QString countsText(const TrafficCounts& c) {
    QStringList s;
    for (const std::uint64_t n :
         {c.requests, c.replies, c.unpaired, c.timeouts, c.crcErrors, c.exceptions})
        s << QString::number(n);
    return s.join(' ') +
           QStringLiteral(" %1 %2 %3 %4").arg(c.minUs).arg(c.meanUs).arg(c.p99Us).arg(c.maxUs);
}

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT
  private slots:
    // From libmodbus 3.1.6 (its master against varnok-devsim --static, 0B modbus_reply_exception)
    // but the last three, made by hand. A row named "req" is a request.
    void decode_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("summary");
        auto row = [](const char* name, const char* hex, QString text) {
            if (!text.contains("CRC") && QByteArray::fromHex(hex).size() >= 4)
                text += " · CRC ok";
            QTest::newRow(name) << QByteArray::fromHex(hex) << text;
        };
        row("1 req", "01010000000ABC0D", "st 1 Read multi-coils status: addr 0 (0x0000) qty 10");
        row("2 reply", "010202AA0246D9", "st 1 FC2 reply: 16 bits: 01010101 01000000");
        row("4 reply", "010406300130023003A262",
            "st 1 FC4 reply: 3 regs: [0] 0x3001 = 12289, [1] 0x3002 = 12290, [2] 0x3003 = 12291");
        row("5 req on", "01050003FF007C3A", "st 1 Write single-coil: addr 3 (0x0003) ON");
        row("5 reply off", "0105000300003DCA", "st 1 FC5 reply: addr 3 (0x0003) OFF");
        row("6 req", "01060001ABCD66AF",
            "st 1 Write single-register: addr 1 (0x0001) = 0xABCD = 43981");
        row("15 req", "010F0002000A02CD01718A",
            "st 1 Write multi-coils: addr 2 (0x0002) qty 10: 10110011 10");
        row("16 req", "01100004000204000A0102520F",
            "st 1 Write multi-registers: addr 4 (0x0004) qty 2: 0x000A = 10, 0x0102 = 258");
        row("16 reply", "0110000400020009", "st 1 FC16 reply: addr 4 (0x0004) qty 2 written");
        row("exception 01", "01C101B050", "st 1 FC65 exception 01: illegal function");
        row("exception 0B", "11840B0302",
            "st 17 FC4 exception 0B: gateway target failed to respond");
        row("req, bad CRC", "010300000001840B",
            "st 1 Read multi-registers: addr 0 (0x0000) qty 1 · CRC bad, expected 84 0A");
        row("byte count", "0103041234B533",
            "st 1 Read multi-registers: byte count 4 but 2 data bytes · CRC bad, expected 55 32");
        row("too short", "0103", "st 1 Read multi-registers: too short");
    }

    void decode() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, summary);
        const bool request = QByteArray(QTest::currentDataTag()).contains("req");
        QCOMPARE(str(varnok::monitor::summary(decodeRtu(span(frame), request))), summary);
    }

    void gapRule() {
        const std::tuple<LineSettings, int, int, const char*> rows[] = {
            {{9600, 8, 'N', 1}, 0, 3646, "3.65 ms at 9600 8N1"},
            {{1200, 7, 'O', 2}, 0, 32083, "32.08 ms at 1200 7O2"},
            {{38400, 8, 'E'}, 0, 1750, "1.75 ms at 38400 8E1 (at least 1.75 ms above 19200 baud)"},
            {{115200, 8, 'N', 1}, 20000, 20000, "20 ms"}};
        for (const auto& [line, userGapUs, gapUs, text] : rows) {
            QCOMPARE(str(frameGapText(line, userGapUs)),
                     QString(userGapUs ? "RX frame ends after a set gap of "
                                       : "RX frame ends after 3.5 characters of silence: ") +
                         text);
            QCOMPARE(frameGapUs(line, userGapUs), gapUs);
        }
    }

    // Chunks "µs rx|tx hex" and "µs flush" through a splitter with a 4000 µs gap.
    void split_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("frames");
        const auto row = [](const char* name, const char* events, const char* frames) {
            QTest::newRow(name) << QString(events).split(", ") << QString(frames).split(", ");
        };
        row("gap just under", "0 rx 01, 3999 rx 02, 7999 flush", "rx 0-3999 0102");
        row("gap just over", "0 rx 01, 4001 rx 02, 9000 flush", "rx 0-0 01, rx 4001-4001 02");
        row("TX splits RX", "0 rx 01, 100 tx 0103, 200 rx 02, 4200 flush",
            "rx 0-0 01, tx 100-100 0103, rx 200-200 02");
        row("flush early", "0 rx 01, 3999 flush, 4000 rx 02", "rx 0-0 01");
    }

    void split() {
        QFETCH(QStringList, events);
        QFETCH(QStringList, frames);
        FrameSplitter splitter(4000);
        QStringList got;
        for (const QString& e : events) {
            const QStringList f = e.split(' ');
            const qint64 t = f[0].toLongLong();
            const QByteArray bytes = QByteArray::fromHex(f.value(2).toLatin1());
            if (f[1] == "flush") {
                if (const auto frame = splitter.flush(t))
                    got << frameText(*frame);
            } else {
                for (const Frame& frame :
                     splitter.feed(t, 0, f[1] == "tx" ? Direction::Tx : Direction::Rx, span(bytes)))
                    got << frameText(frame);
            }
        }
        QCOMPARE(got, frames);
    }

    // An RX run with no gap is cut every 256 bytes, each cut a piece; 256 bytes alone are not.
    void floodIsCutIntoPieces() {
        FrameSplitter splitter(4000);
        std::vector<Frame> frames =
            splitter.feed(0, 0, Direction::Rx, std::vector<std::uint8_t>(600));
        frames.push_back(*splitter.flush(4000));
        splitter.feed(9000, 0, Direction::Rx, std::vector<std::uint8_t>(256));
        frames.push_back(*splitter.flush(13000));
        QString got;
        for (const Frame& f : frames)
            got += QStringLiteral("%1%2 ").arg(f.bytes.size()).arg(f.piece ? "*" : "");
        QCOMPARE(got, QStringLiteral("256* 256* 88* 256 "));
    }

    // Frames "tx|rx|exc|bad µs" (exc: exception reply, bad: RX with a bad CRC), "tick µs", "reset".
    void stats_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("counts"); // as countsText gives them
        const auto row = [](const char* name, const char* events, const char* counts) {
            QTest::newRow(name) << QString(events).split(", ") << QString(counts);
        };
        row("reply", "tx 0, rx 1000", "1 1 0 0 0 0 1000 1000 1000 1000");
        row("tick at and past the timeout", "tx 0, tick 1000000, tick 1000001, rx 1000002",
            "1 0 1 1 0 0 0 0 0 0");
        row("late reply", "tx 0, rx 1000001", "1 0 1 1 0 0 0 0 0 0");
        row("next request first", "tx 0, tx 10, rx 30", "2 1 0 1 0 0 20 20 20 20");
        row("exception, bad CRC", "tx 0, exc 500, tx 600, bad 900", "2 2 0 0 1 1 300 400 500 500");
        row("reset", "tx 0, rx 10, tx 20, reset, rx 30", "0 0 1 0 0 0 0 0 0 0");
        // Minimum, mean and maximum cover every reply, the percentile only the last 100,000.
        QStringList many;
        for (int i = 0; i < 1000 + int(TrafficStats::kPercentileWindow); ++i)
            many << "tx " + QString::number(i * 10000)
                 << "rx " + QString::number(i * 10000 + (i < 1000 ? 1000 - i : 5));
        QTest::newRow("1000 replies") << many.mid(0, 2000) << "1000 1000 0 0 0 0 1 500.5 990 1000";
        QTest::newRow("then 100,000 more") << many << "101000 101000 0 0 0 0 1 9.90594 5 1000";
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
        QCOMPARE(countsText(stats.counts()), counts);
    }

    void bytesAsText() {
        const std::pair<QByteArray, QStringList> rows[] = {
            {{}, {"", "{}", "b''"}},
            {QByteArray::fromHex("0103840A"),
             {"....", "{0x01, 0x03, 0x84, 0x0A}", R"(b'\x01\x03\x84\x0a')"}},
            {"It's\\", {"It's\\", "{0x49, 0x74, 0x27, 0x73, 0x5C}", R"(b'It\'s\\')"}},
            {QByteArray::fromHex("1F207E7F"), // the printable edges
             {". ~.", "{0x1F, 0x20, 0x7E, 0x7F}", R"(b'\x1f ~\x7f')"}}};
        for (const auto& [bytes, texts] : rows)
            QCOMPARE((QStringList{str(dottedText(span(bytes))), str(cArrayText(span(bytes))),
                                  str(pythonBytesText(span(bytes)))}),
                     texts);
    }

    void lineAndHeader() {
        // Two hours east of UTC without summer time, so local time shows it is local.
        ::setenv("TZ", "XYZ-2", 1);
        ::tzset();
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
