// The traffic monitor without Qt: decoding, framing, the session's pairing and statistics,
// and the frame as text.
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/monitor_session.h"
#include "logic/monitor/rtu_decoder.h"
#include "support/bytes.h"

#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace varnok::monitor;
using varnok::serial::LineSettings;
using varnok::serial::Parity;
using varnok::serial::StopBits;
using varnok::test::span;
using varnok::test::withCrc;

namespace {

const auto str = [](const std::string& s) { return QString::fromStdString(s); };

QString frameText(const Frame& f) {
    const QByteArray bytes(reinterpret_cast<const char*>(f.bytes.data()),
                           qsizetype(f.bytes.size()));
    return (f.direction == Direction::Tx ? "tx " : "rx ") + QString::number(f.firstUs) + '-' +
           QString::number(f.lastUs) + ' ' + bytes.toHex();
}

// Requests, replies, unpaired, timeouts, CRC errors, exceptions; min, mean, p99, max µs.
QString countsLine(const TrafficCounts& c) {
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
    // Frames a libmodbus 3.1.6 master sent to a libmodbus slave and its replies, recorded
    // between the two over pseudo-terminals; the libmodbus slave does not answer 7, 8, 11, 12,
    // 20, 21, 24 and 43, so those replies (and the last rows) are made by hand with their CRC.
    void decode_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("request");
        QTest::addColumn<QString>("summary");
        auto row = [](const char* name, const char* dir, const char* hex, QString text) {
            if (!text.contains("CRC") && !text.startsWith("too short"))
                text += " · CRC ok";
            QTest::addRow("%s %s", name, dir)
                << QByteArray::fromHex(hex) << (dir[0] == 'T') << text;
        };
        row("1", "TX", "01010000000ABC0D",
            "st 1 FC1 request: Read multi-coils status, addr 0 (0x0000) qty 10");
        row("1", "RX", "0101020500BAAC", "st 1 FC1 reply: 16 bits: 10100000 00000000");
        row("2", "RX", "010202AA0246D9", "st 1 FC2 reply: 16 bits: 01010101 01000000");
        row("3", "RX", "0103021234B533", "st 1 FC3 reply: 1 reg: [0] 0x1234 = 4660");
        row("4", "RX", "010406300130023003A262",
            "st 1 FC4 reply: 3 regs: [0] 0x3001 = 12289, [1] 0x3002 = 12290, [2] 0x3003 = 12291");
        row("5", "TX", "01050003FF007C3A",
            "st 1 FC5 request: Write single-coil, addr 3 (0x0003) ON");
        row("5", "RX", "0105000300003DCA", "st 1 FC5 reply: addr 3 (0x0003) OFF");
        row("6", "TX", "01060001ABCD66AF",
            "st 1 FC6 request: Write single-register, addr 1 (0x0001) = 0xABCD = 43981");
        row("7", "TX", "010741E2", "st 1 FC7 request: Read exception status");
        row("7", "RX", "01076DE3DD", "st 1 FC7 reply: status 6D = 10110110");
        row("8", "TX", "010800001234ED7C",
            "st 1 FC8 request: Diagnostics, sub-function 0 return query data: 12 34");
        row("8", "RX", "010800001234ED7C", "st 1 FC8 reply: sub-function 0 echo: 12 34");
        row("11", "TX", "010B41E7", "st 1 FC11 request: Get comm event counter");
        row("11", "RX", "010BFFFF0108A479", "st 1 FC11 reply: status 0xFFFF, event count 264");
        row("12", "TX", "010C0025", "st 1 FC12 request: Get comm event log");
        row("12", "RX", "010C0800000108012120000DC1",
            "st 1 FC12 reply: status 0x0000, event count 264, message count 289, 2 events");
        row("15", "TX", "010F0002000A02CD01718A",
            "st 1 FC15 request: Write multi-coils, addr 2 (0x0002) qty 10: 10110011 10");
        row("16", "TX", "01100004000204000A0102520F",
            "st 1 FC16 request: Write multi-registers, addr 4 (0x0004) qty 2: 0x000A = 10, "
            "0x0102 = 258");
        row("16", "RX", "0110000400020009", "st 1 FC16 reply: addr 4 (0x0004) qty 2 written");
        row("17", "TX", "0111C02C", "st 1 FC17 request: Report server ID");
        row("17", "RX", "01110AB4FF4C4D42332E312E3648AE",
            "st 1 FC17 reply: server id B4, run indicator ON, \"LMB3.1.6\"");
        row("20", "TX", "01140706000400010002D8E5",
            "st 1 FC20 request: Read file record, file 4 record 1 len 2");
        row("20", "RX", "01140605060DFE00208B4E",
            "st 1 FC20 reply: record: 0x0DFE = 3582, 0x0020 = 32");
        row("21", "TX", "0115090600040007000106AFC55E",
            "st 1 FC21 request: Write file record, file 4 record 7: 0x06AF = 1711");
        row("22", "TX", "0116000100F20025ABEE",
            "st 1 FC22 request: Mask write register, addr 1 (0x0001) and 0x00F2 or 0x0025");
        row("23", "TX", "011700000002000200020401020304E796",
            "st 1 FC23 request: Read/write multi-registers, read addr 0 (0x0000) qty 2, write "
            "addr 2 (0x0002) qty 2: 0x0102 = 258, 0x0304 = 772");
        row("23", "RX", "011704123400C57DC2",
            "st 1 FC23 reply: 2 regs: [0] 0x1234 = 4660, [1] 0x00C5 = 197");
        row("24", "TX", "011804DE0347",
            "st 1 FC24 request: Read FIFO queue, FIFO addr 1246 (0x04DE)");
        row("24", "RX", "01180006000201B812841918",
            "st 1 FC24 reply: FIFO 2 regs: [0] 0x01B8 = 440, [1] 0x1284 = 4740");
        row("43/14", "TX", "012B0E01007077",
            "st 1 FC43/14 request: Read device identification, basic, from object 0");
        row("43/14", "RX", "012B0E010100000300045661726E010256420203312E34034D",
            "st 1 FC43/14 reply: basic, conformity 01, 3 objects: 0 \"Varn\", 1 \"VB\", 2 \"1.4\"");
        row("exception 02", "RX", "018302C0F1", "st 1 FC3 exception 02: illegal data address");
        row("exception 0B names the gateway's target device", "RX", "11840B0302",
            "st 17 FC4 exception 0B: gateway target device failed to respond");
        row("request, bad CRC", "TX", "010300000001840B",
            "st 1 FC3 request: Read multi-registers, addr 0 (0x0000) qty 1 · CRC bad, expected "
            "84 0A");
        row("odd byte count: a reply's fault, not a request's name", "RX", "0103031234567375",
            "st 1 FC3 reply: odd byte count 3");
        row("3 bytes: too short, not a request's name", "RX", "010302",
            "too short for a Modbus RTU frame");
        row("function 7 decoded", "TX", "010741E2", "st 1 FC7 request: Read exception status");
    }

    void decode() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, request);
        QFETCH(QString, summary);
        QCOMPARE(str(varnok::monitor::summary(decodeRtu(span(frame), request))), summary);
    }

    void gapRule() {
        const std::tuple<LineSettings, int, int, const char*> rows[] = {
            {{9600, Parity::None, 8, StopBits::One}, 0, 3646, "3.65 ms at 9600 8N1"},
            {{1200, Parity::Odd, 7, StopBits::Two}, 0, 32083, "32.08 ms at 1200 7O2"},
            {{38400, Parity::Even, 8, StopBits::One},
             0,
             1750,
             "1.75 ms at 38400 8E1 (at least 1.75 ms above 19200 baud)"},
            {{115200, Parity::None, 8, StopBits::One}, 20000, 20000, "20 ms"}};
        for (const auto& [line, userGapUs, gapUs, text] : rows) {
            QCOMPARE(str(frameGapText(line, userGapUs)),
                     QString(userGapUs ? "RX frame ends after a set gap of "
                                       : "RX frame ends after 3.5 characters of silence: ") +
                         text);
            QCOMPARE(frameGapUs(line, userGapUs), gapUs);
        }
        MonitorSession s; // on a line a whole Modbus frame ends without waiting for the gap
        s.setLine({9600, Parity::None, 8, StopBits::One});
        QCOMPARE(str(s.gapText()), "RX frame ends by its Modbus length with a good CRC; any "
                                   "other: RX frame ends after 3.5 characters of silence: "
                                   "3.65 ms at 9600 8N1");
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

    // A session at 115200 8N1 (gap 1750 µs, timeout 1 s): "µs tx|rx hex" fed as chunks (REQ
    // and REP a register read and its reply), "µs tick" the time passing, "reset", "end" (the
    // port closes); then the counts and the finished frames' gaps, "!" after a flagged one and
    // "~" after one shown plainly as no Modbus frame has passed yet.
    void session_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("counts"); // as countsText gives them
        QTest::addColumn<QString>("gaps");   // of the finished frames, µs
        const auto row = [](const char* name, const char* events, const char* counts,
                            const char* gaps) {
            QTest::newRow(name) << QString(events).split(", ") << QString(counts) << gaps;
        };
        row("reply", "0 tx REQ, 1000 rx 0103, 1500 rx 021234B533, 4000 tick",
            "1 1 0 0 0 0 1000 1000 1000 1000", "-1 1000");
        row("timeout at and past",
            "0 tx REQ, 1000000 tick, 1000001 tick, 1000002 rx REP, 1010000 tick",
            "1 0 1 1 0 0 0 0 0 0", "-1 1000002");
        row("reply arriving at the timeout decides by its first byte",
            "0 tx REQ, 999000 rx 0103, 1000500 tick, 1000600 rx 021234B533, 1003000 tick",
            "1 1 0 0 0 0 999000 999000 999000 999000", "-1 999000");
        row("next request first", "0 tx REQ, 10 tx REQ, 30 rx REP, 3000 tick",
            "2 1 0 1 0 0 20 20 20 20", "-1 10 20");
        row("exception", "0 tx REQ, 500 rx 018302C0F1, 3000 tick", "1 1 0 0 0 1 500 500 500 500",
            "-1 500!");
        row("a reply with a bad CRC ends its request as a CRC error: no timeout follows",
            "0 tx REQ, 500 rx 0083029121, 3000 tick, 1100000 tick", "1 0 0 0 1 0 0 0 0 0",
            "-1 500!");
        row("a request with a bad CRC ends at once as a CRC error: no timeout follows",
            "0 tx REQ, 10 rx REP, 3000 tick, 4000 tx 010300000001840B, 3000000 tick",
            "2 1 0 0 1 0 10 10 10 10", "-1 10 3990!");
        row("a bad CRC with no request waiting is unpaired: it ends no request",
            "0 tx REQ, 10 rx REP, 3000 tick, 5000 rx 0103021234B534, 9000 tick",
            "1 1 1 0 0 0 10 10 10 10", "-1 10 4990!");
        row("FF FF counts for nothing", "0 tx FFFF, 2000000 tick", "0 0 0 0 0 0 0 0 0 0", "-1~");
        row("reset", "0 tx REQ, 10 rx REP, 3000 tick, 4000 tx REQ, reset, 5000 rx REP, 8000 tick",
            "0 0 1 0 0 0 0 0 0 0", "-1 10 3990 1000");
        row("text before any Modbus frame is shown plainly: neither flagged nor counted",
            "0 rx 48656C6C6F0D0A, 5000 tick, 6000 tx 41540D0A, 9000 tick", "0 0 0 0 0 0 0 0 0 0",
            "-1~ 6000~");
        row("a valid frame starts decoding: text after it is flagged and counted",
            "0 rx 48656C6C6F0D0A, 5000 tick, 6000 tx REQ, 7000 rx REP, 10000 tick, "
            "20000 rx 48656C6C6F0D0A, 25000 tick",
            "1 1 1 0 0 0 1000 1000 1000 1000", "-1~ 6000 1000 13000!");
        row("a line opened again waits for Modbus again",
            "0 tx REQ, 1000 rx REP, 5000 tick, end, 9000 rx 48656C6C6F0D0A, 14000 tick",
            "1 1 0 0 0 0 1000 1000 1000 1000", "-1 1000 8000~");
    }

    void session() {
        QFETCH(QStringList, events);
        QFETCH(QString, counts);
        QFETCH(QString, gaps);
        MonitorSession s;
        s.setLine({115200, Parity::None, 8, StopBits::One});
        QStringList got;
        const auto keep = [&got](const std::vector<SessionFrame>& frames) {
            for (const SessionFrame& f : frames)
                got << QString::number(f.gapUs) + (f.flagged ? "!" : "") +
                           (f.text() == SessionFrame::kBeforeModbusText ? "~" : "");
        };
        for (QString e : events) {
            e.replace("REQ", "010300000001840A").replace("REP", "0103021234B533");
            const QStringList f = e.split(' ');
            const qint64 t = f[0].toLongLong();
            if (f[0] == "reset")
                s.resetStats();
            else if (f[0] == "end")
                keep(s.endLine());
            else if (f[1] == "tick")
                keep(s.advance(t));
            else
                keep(s.feed(t, 0, f[1] == "tx" ? Direction::Tx : Direction::Rx,
                            span(QByteArray::fromHex(f[2].toLatin1()))));
        }
        QCOMPARE(countsLine(s.counts()), counts);
        QCOMPARE(got.join(' '), gaps);
    }

    // Over the network, at 115200 8N1 (gap 1750 µs): frames end by their length, not by gaps;
    // on Modbus TCP they are ADUs, paired by transaction id. The frames' decoding, then the
    // counts as in session().
    void networkSession_data() {
        QTest::addColumn<bool>("mbap");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QString>("counts");
        QTest::newRow("RTU over TCP: a gap inside a reply does not cut it, two in one read are two")
            << false
            << QString("0 tx 010300000001840A, 100 rx 0103, 5000 rx 021234B5330103021234B533, "
                       "9000 tick")
                   .split(", ")
            << "st 1 FC3 request: Read multi-registers, addr 0 (0x0000) qty 1 · CRC ok|st 1 FC3 "
               "reply: 1 reg: [0] 0x1234 = 4660 · CRC ok|st 1 FC3 reply: 1 reg: [0] 0x1234 = 4660 "
               "· CRC ok"
            << "1 1 1 0 0 0 100 100 100 100";
        QTest::newRow("Modbus TCP: a late reply of the previous id is unpaired, its own answers")
            << true
            << QString("0 tx 000200000006010300000001, 100 rx 00010000000501030211, "
                       "5000 rx 11000200000005010302, 9000 rx 1234, 9500 tick")
                   .split(", ")
            << "tid 2 unit 1 FC3 request: Read multi-registers, addr 0 (0x0000) qty 1 · MBAP "
               "ok|tid "
               "1 unit 1 FC3 reply: 1 reg: [0] 0x1111 = 4369 · MBAP ok|tid 2 unit 1 FC3 reply: 1 "
               "reg: [0] 0x1234 = 4660 · MBAP ok"
            << "1 1 1 0 0 0 5000 5000 5000 5000";
        QTest::newRow("Modbus TCP: gateway exception 0A, protocol id 1 flagged")
            << true
            << QString("0 tx 000300000006010300000001, 100 rx 00030000000301830A, "
                       "200 rx 000400010003018302, 3000 tick")
                   .split(", ")
            << "tid 3 unit 1 FC3 request: Read multi-registers, addr 0 (0x0000) qty 1 · MBAP "
               "ok|tid "
               "3 unit 1 FC3 exception 0A: gateway path unavailable · MBAP ok|tid 4 unit 1 FC3 "
               "exception 02: illegal data address · MBAP bad: protocol id 1, not 0"
            << "1 1 1 0 0 1 100 100 100 100";
        QTest::newRow("Modbus TCP: unit 0 expects no reply, so none times out")
            << true << QStringList{"0 tx 000500000006000600010001", "2000000 tick"}
            << "tid 5 unit 0 FC6 request: Write single-register, addr 1 (0x0001) = 0x0001 = 1 · "
               "MBAP ok"
            << "0 0 0 0 0 0 0 0 0 0";
    }
    void networkSession() {
        QFETCH(bool, mbap);
        QFETCH(QStringList, events);
        QFETCH(QString, frames);
        QFETCH(QString, counts);
        MonitorSession s;
        s.setLine({115200, Parity::None, 8, StopBits::One});
        s.setFraming(mbap ? varnok::modbus::Framing::Mbap : varnok::modbus::Framing::Stream);
        QStringList got;
        for (const QString& e : events) {
            const QStringList f = e.split(' ', Qt::SkipEmptyParts);
            const auto done = f[1] == "tick" ? s.advance(f[0].toLongLong())
                                             : s.feed(f[0].toLongLong(), 0,
                                                      f[1] == "tx" ? Direction::Tx : Direction::Rx,
                                                      span(QByteArray::fromHex(f[2].toLatin1())));
            for (const SessionFrame& sf : done)
                got << str(std::string(sf.text())).section(" · response", 0, 0);
        }
        QCOMPARE(got.join('|'), frames);
        QCOMPARE(countsLine(s.counts()), counts);
    }

    // Listening at 115200 8N1 (gap 1750 µs): "µs rx|rxb|tx hex" chunks, R1/R2 a register read
    // of station 1/2, A1/A2 its reply, E1 an exception of station 1, X1 A1 with a bad CRC;
    // "µs tick". Then the counts as in session() and each frame as its length and what it
    // was judged: q a request, r a reply paired with it, - neither, "!" flagged.
    void listening_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("frames");
        const auto row = [](const char* name, const char* events, const char* counts,
                            const char* frames) {
            QTest::newRow(name) << QString(events).split(", ") << QString(counts) << frames;
        };
        row("a request and its reply on one side pair", "0 rx R1, 3000 rx A1, 9000 tick",
            "1 1 0 0 0 0 3000 3000 3000 3000", "8q 7r");
        row("an exception is a reply", "0 rx R1, 3000 rx E1, 9000 tick",
            "1 1 0 0 0 1 3000 3000 3000 3000", "8q 5r!");
        row("a reply with a bad CRC ends its request as a CRC error",
            "0 rx R1, 3000 rx X1, 9000 tick, 2000000 tick", "1 0 0 0 1 0 0 0 0 0", "8q 7-!");
        row("a request without a reply times out when the next request begins",
            "0 rx R1, 5000 rx R2", "2 0 0 1 0 0 0 0 0 0", "8q 8q");
        row("noise and a half frame between pairs break neither counts nor the next pair",
            "0 rx R1, 3000 rx A1, 6000 rx FFFF00, 9000 rx 0103020011, 12000 rx 0103, "
            "15000 rx R1, 18000 rx A1, 30000 tick",
            "2 2 1 0 0 0 3000 3000 3000 3000", "8q 7r 3- 5-! 2- 8q 7r");
        row("two masters interleaved: a reply pairs with the request just before it",
            "0 rx R1, 3000 rx R2, 6000 rx A2, 9000 rx A1, 20000 tick",
            "2 1 1 1 0 0 3000 3000 3000 3000", "8q 8q 7r 7-");
        row("two sides: a reply from B answers a request from A", "0 rx R1, 3000 rxb A1, 9000 tick",
            "1 1 0 0 0 0 3000 3000 3000 3000", "8q 7r");
        row("two sides: a reply from the request's own side answers nothing",
            "0 rx R1, 3000 rxb A1, 6000 rx R1, 9000 rx A1, 2000000 tick",
            "2 1 1 1 0 0 3000 3000 3000 3000", "8q 7r 8q 7-");
        row("a request and its reply in one read are two frames", "0 rx R1A1, 9000 tick",
            "1 1 0 0 0 0 0 0 0 0", "8q 7r");
        row("two replies in one read are two frames", "0 rx R1, 3000 rx A1A1, 9000 tick",
            "1 1 1 0 0 0 3000 3000 3000 3000", "8q 7r 7-");
        row("our own request and its reply heard alike", "0 tx R1, 3000 rx A1, 9000 tick",
            "1 1 0 0 0 0 3000 3000 3000 3000", "8q 7r");
        row("text lines still end by silence",
            "0 rx 48656C6C6F0D0A, 500 rx 576F726C640D0A, 5000 tick", "0 0 0 0 0 0 0 0 0 0", "14-");
        row("full duplex: a request on each side at once stays whole on each side",
            "0 rx 01030000, 300 rxb 0203000000, 600 rx 0001840A, 900 rxb 018439, 9000 tick",
            "2 0 0 1 0 0 0 0 0 0", "8q 8q");
        row("full duplex: lines on both sides at once end by their own silence, in that order",
            "0 rx 48656C, 500 rxb 576F72, 1000 rx 6C6F0D0A, 1500 rxb 6C640D0A, 9000 tick",
            "0 0 0 0 0 0 0 0 0 0", "7- 7-");
    }

    void listening() {
        QFETCH(QStringList, events);
        QFETCH(QString, counts);
        QFETCH(QString, frames);
        MonitorSession s;
        s.setLine({115200, Parity::None, 8, StopBits::One});
        s.setListening(true);
        const std::pair<const char*, QByteArray> names[] = {
            {"R1", withCrc("010300000001")}, {"R2", withCrc("020300000001")},
            {"A1", withCrc("0103021234")},   {"A2", withCrc("0203021234")},
            {"E1", withCrc("018302")},       {"X1", QByteArray::fromHex("0103021234B534")}};
        QStringList got;
        for (QString e : events) {
            for (const auto& [name, bytes] : names)
                e.replace(name, bytes.toHex());
            const QStringList f = e.split(' ');
            const Direction dir = f[1] == "tx"    ? Direction::Tx
                                  : f[1] == "rxb" ? Direction::RxB
                                                  : Direction::Rx;
            for (const SessionFrame& sf :
                 f[1] == "tick" ? s.advance(f[0].toLongLong())
                                : s.feed(f[0].toLongLong(), 0, dir,
                                         span(QByteArray::fromHex(f[2].toLatin1())))) {
                const QString d = str(std::string(sf.text()));
                got << QString::number(sf.frame.bytes.size()) +
                           (d.contains(" request:")     ? "q"
                            : d.contains(" · response") ? "r"
                                                        : "-") +
                           (sf.flagged ? "!" : "");
            }
        }
        QCOMPARE(countsLine(s.counts()), counts);
        QCOMPARE(got.join(' '), frames);
        const TrafficCounts c = s.counts();
        QCOMPARE(c.requests, c.replies + c.crcErrors + c.timeouts + c.waiting);
    }

    // A request and its reply cut at every position into two reads, and a reply alone on a
    // line while this program is the master: each still ends as its own frame by its length.
    void frameAcrossReads() {
        const QByteArray pair = withCrc("010300000001") + withCrc("0103021234");
        for (const bool heard : {true, false}) {
            for (qsizetype cut = 1; cut < pair.size(); ++cut) {
                MonitorSession s;
                s.setLine({115200, Parity::None, 8, StopBits::One});
                s.setListening(heard);
                QStringList got;
                const auto keep = [&got](const std::vector<SessionFrame>& frames) {
                    for (const SessionFrame& f : frames)
                        got << QString::number(f.frame.bytes.size());
                };
                if (heard) {
                    keep(s.feed(0, 0, Direction::Rx, span(pair.first(cut))));
                    keep(s.feed(100, 0, Direction::Rx, span(pair.sliced(cut))));
                } else if (cut > 8) { // the request goes out whole; its reply comes in two
                    keep(s.feed(0, 0, Direction::Tx, span(pair.first(8))));
                    keep(s.feed(50, 0, Direction::Rx, span(pair.sliced(8, cut - 8))));
                    keep(s.feed(100, 0, Direction::Rx, span(pair.sliced(cut))));
                } else {
                    continue;
                }
                QCOMPARE(got.join(' '), QStringLiteral("8 7")); // whole before any silence
                QCOMPARE(s.counts().replies, 1U);
            }
        }
    }

    // Per station: requests, replies, timeouts, exceptions, CRC errors and response times,
    // as a table to copy; a reply after 3 ms falls in the 2–5 ms bucket.
    void stationTable() {
        MonitorSession s;
        s.setLine({115200, Parity::None, 8, StopBits::One});
        s.feed(0, 0, Direction::Tx, span(withCrc("010300000001")));
        s.feed(3000, 0, Direction::Rx, span(withCrc("0103021234")));
        s.advance(9000);
        s.feed(10000, 0, Direction::Tx, span(withCrc("010600010005")));
        s.feed(11000, 0, Direction::Rx, span(withCrc("018602")));
        s.advance(19000);
        s.feed(20000, 0, Direction::Tx, span(withCrc("020300000001")));
        s.advance(2000000);
        QCOMPARE(str(stationsText(s.stations())),
                 "station\tfunctions\trequests\treplies\ttimeouts\texceptions\tCRC errors\t"
                 "min ms\tmean ms\tp99 ms\tmax ms\n"
                 "1\t3, 6\t2\t2\t0\t1\t0\t1.000\t2.000\t3.000\t3.000\n"
                 "2\t3\t1\t0\t1\t0\t0\t\t\t\t\n");
        QCOMPARE(ResponseHistogram::bucketOf(3000), 3U);
        QCOMPARE(str(std::string(ResponseHistogram::label(3))), QStringLiteral("2–5 ms"));
        QCOMPARE(s.stations().histogram().count(3), 1U);
        QCOMPARE(s.stations().find(1)->histogram.count(2), 1U); // 1 ms: the 1–2 ms bucket
        s.resetStats();
        QVERIFY(s.stations().rows().empty());
    }

    // Every request ends in one of reply, CRC error and timeout, whatever the line carries:
    // requests = replies + CRC errors + timeouts + the one still waiting, after every event of
    // random traffic (good and corrupt frames of both directions, exceptions, text, silence).
    void countsAddUp() {
        const QByteArray frames[] = {QByteArray::fromHex("010300000001840A"),
                                     QByteArray::fromHex("010300000001840B"),
                                     QByteArray::fromHex("0103021234B533"),
                                     QByteArray::fromHex("0103021234B534"),
                                     QByteArray::fromHex("018302C0F1"),
                                     QByteArray::fromHex("0103"),
                                     QByteArray("Hello\r\n")};
        MonitorSession s;
        s.setLine({115200, Parity::None, 8, StopBits::One});
        std::uint32_t seed = 29;
        const auto next = [&seed](std::uint32_t n) {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) % n;
        };
        std::int64_t t = 0;
        for (int i = 0; i < 20000; ++i) {
            t += std::int64_t{1} << next(21); // 1 µs to 1 s
            const std::uint32_t pick = next(9);
            if (pick >= 7)
                s.advance(t);
            else
                s.feed(t, 0, next(3) ? Direction::Rx : Direction::Tx, span(frames[pick]));
            const TrafficCounts c = s.counts();
            QVERIFY2(c.requests == c.replies + c.crcErrors + c.timeouts + c.waiting,
                     qPrintable(QString::number(i) + ": " + countsLine(c)));
        }
        QVERIFY(s.counts().crcErrors > 100 && s.counts().timeouts > 100);
    }

    // Minimum, mean and maximum cover every reply, the percentile only the last 100,000.
    void percentileWindow() {
        MonitorSession s;
        const QByteArray req = QByteArray::fromHex("010300000001840A");
        const QByteArray reply = QByteArray::fromHex("0103021234B533");
        QStringList got;
        for (int i = 0; i < 1000 + int(MonitorSession::kPercentileWindow); ++i) {
            const std::int64_t t = std::int64_t{i} * 10000;
            s.feed(t, 0, Direction::Tx, span(req));
            s.feed(t + (i < 1000 ? 1000 - i : 5), 0, Direction::Rx, span(reply));
            s.advance(t + 5000);
            if (i == 999 || i == 1000 + int(MonitorSession::kPercentileWindow) - 1)
                got << countsLine(s.counts());
        }
        QCOMPARE(got, (QStringList{"1000 1000 0 0 0 0 1 500.5 990 1000",
                                   "101000 101000 0 0 0 0 1 9.90594 5 1000"}));
    }

    // The file dialog's type wins when the user changed it; else the name's extension does.
    void captureForm() {
        const std::tuple<const char*, CaptureForm, bool, CaptureForm> rows[] = {
            {"/tmp/a.bin", CaptureForm::Text, true, CaptureForm::Raw}, // not a text log
            {"/tmp/a.RAW", CaptureForm::Text, true, CaptureForm::Raw},
            {"/tmp/a.dat", CaptureForm::Text, true, CaptureForm::Raw},
            {"/tmp/a.csv", CaptureForm::Raw, true, CaptureForm::Text},
            {"/tmp/a.log", CaptureForm::Raw, true, CaptureForm::Text},
            {"/tmp/a.d/cap", CaptureForm::Raw, true, CaptureForm::Raw},
            {"/tmp/a.bin", CaptureForm::Text, false, CaptureForm::Text}};
        for (const auto& [path, chosen, asOffered, form] : rows)
            QCOMPARE(int(captureFormFor(path, chosen, asOffered)), int(form));
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
        const Frame frame{2500, 2600, 1700000000123, Direction::Rx, {0x01, 0x41, 0x7E}};
        QCOMPARE(str(frameLine(frame, 1500, "st 1")),
                 "00:13:20.123\t1.500\tRX\t3\t01 41 7E\t.A~\tst 1");
        QCOMPARE(str(frameLine(frame, -1, "")), "00:13:20.123\t\tRX\t3\t01 41 7E\t.A~\t");
        // The gap is written without printf: the same text as "%.3f" of milliseconds.
        for (const std::int64_t gapUs : {0LL, 7LL, 999LL, 1000LL, 123456789LL}) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%.3f", static_cast<double>(gapUs) / 1000.0);
            QCOMPARE(str(frameLine(frame, gapUs, "")).section('\t', 1, 1), QString(expected));
        }
        const Frame empty{0, 0, 1700000000007, Direction::Tx, {}};
        QCOMPARE(str(frameLine(empty, -1, "x")), "00:13:20.007\t\tTX\t0\t\t\tx");
        // Side names replace TX/RX: Rx is side A, RxB side B, and in a bridge Tx is B too.
        const SideNames tap{"COM1", "COM2", false};
        const SideNames bridge{"COM1", "COM2", true};
        QCOMPARE(str(frameLine(frame, -1, "", tap)).section('\t', 2, 2), "COM1");
        QCOMPARE(str(frameLine(empty, -1, "", tap)).section('\t', 2, 2), "TX");
        QCOMPARE(str(frameLine(empty, -1, "", bridge)).section('\t', 2, 2), "COM2");
        const Frame fromB{0, 0, 1700000000007, Direction::RxB, {0x41}};
        QCOMPARE(str(frameLine(fromB, -1, "")).section('\t', 2, 2), "RX B");
        QCOMPARE(str(frameLine(fromB, -1, "", tap)), "00:13:20.007\t\tCOM2\t1\t41\tA\t");
        // A mark is a comment line of the capture, its tab and line break as blanks.
        QCOMPARE(str(markLine(1700000000123, "step\t2\r\nok")), "# mark 00:13:20.123 step 2  ok");
        QCOMPARE(
            str(captureHeader(1700000000123)),
            "# capture 2023-11-15 00:13:20 UTC+0200\ttime\tgap ms\tdir\tlen\thex\ttext\tdecoded");
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
