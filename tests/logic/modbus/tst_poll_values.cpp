// Register values in every format and order, the poll requests and the check of replies;
// libmodbus's own float getters are the oracle for float32.
#include "logic/modbus/poll_request.h"
#include "logic/modbus/poll_rows.h"
#include "logic/modbus/register_map.h"
#include "logic/modbus/transaction.h"
#include "logic/modbus/value_format.h"

#include <QRegularExpression>
#include <QTest>
#include <bit>
#include <cstring>
#include <modbus/modbus.h>

#include "support/bytes.h"

using namespace varnok::modbus;
using Regs = QList<std::uint16_t>;
using varnok::test::request;
using varnok::test::span;
using varnok::test::withCrc;

namespace {

ValueFormat fmt(const QString& name) {
    return parseFormatName(name.toStdString()).value_or(ValueFormat{ValueType::UInt16});
}
bool matches(const QString& wildcard, const std::string& text) {
    return QRegularExpression::fromWildcard(wildcard)
        .match(QString::fromStdString(text))
        .hasMatch();
}

} // namespace

Q_DECLARE_METATYPE(Regs)

class TestPollValues : public QObject {
    Q_OBJECT
  private slots:
    void formats_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<Regs>("regs");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* f, Regs r, const char* t) {
            QTest::addRow("%s %s", f, t) << QString(f) << r << QString(t);
        };
        row("int16", {0xFFFF}, "-1");
        row("uint16", {0xFFFF}, "65535");
        row("hex16", {0x12AB}, "0x12AB");
        row("bin16", {0x1234}, "0001 0010 0011 0100");
        row("int32 ABCD", {0xFFFF, 0xFFFE}, "-2");
        row("int32 CDAB", {0xFFFE, 0xFFFF}, "-2");
        row("uint32 BADC", {0x3412, 0x7856}, "305419896");
        row("uint32 DCBA", {0x7856, 0x3412}, "305419896");
        row("float32 ABCD", {0x3DCC, 0xCCCD}, "0.100000001");
        row("float32 CDAB", {0x0000, 0x7FC0}, "NaN");
        row("float32 BADC", {0x80FF, 0x0000}, "-inf");
        row("float32 DCBA", {0x0000, 0xC03F}, "1.5");
        row("double ABCD", {0x3FB9, 0x9999, 0x9999, 0x999A}, "0.10000000000000001");
        row("double DCBA", {0x9A99, 0x9999, 0x9999, 0xB93F}, "0.10000000000000001");
        row("int64 CDAB", {0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF}, "-2");
        row("uint64 BADC", {0x0201, 0x0403, 0x0605, 0x0807}, "72623859790382856");
        row("ascii AB", {0x4869}, "Hi");
        row("ascii BA", {0x4869}, "iH");
        row("ascii AB", {0x5C00}, "\\\\\\x00");
    }
    // Both ways: the registers print as the text and the text is written as the registers.
    void formats() {
        QFETCH(QString, format);
        QFETCH(Regs, regs);
        QFETCH(QString, text);
        const ValueFormat f = fmt(format);
        QCOMPARE(formatName(f), format.toStdString());
        QCOMPARE(QString::fromStdString(formatValue(f, {regs.data(), std::size_t(regs.size())})),
                 text);
        const auto back = parseValue(f, text.toStdString());
        QCOMPARE(Regs(back.begin(), back.end()), regs);
    }

    void float32Oracle_data() {
        QTest::addColumn<int>("order");
        for (const char* o : {"ABCD", "CDAB", "BADC", "DCBA"})
            QTest::newRow(o) << int(fmt(QString("float32 ") + o).order);
    }
    // Every order decodes as libmodbus reads it, and what it writes libmodbus reads back.
    void float32Oracle() {
        QFETCH(int, order);
        using Get = float (*)(const std::uint16_t*);
        const Get get[] = {modbus_get_float_abcd, modbus_get_float_cdab, modbus_get_float_badc,
                           modbus_get_float_dcba};
        const ValueFormat f{ValueType::Float32, WordOrder(order)};
        for (const float v : {1.5f, -123.456f, 3.40282347e38f, 1e-40f, 0.1f, -0.0f}) {
            char text[40];
            std::snprintf(text, sizeof text, "%.9g", double(v));
            const auto regs = parseValue(f, text);
            QCOMPARE(std::bit_cast<std::uint32_t>(get[order](regs.data())),
                     std::bit_cast<std::uint32_t>(v));
            QCOMPARE(formatValue(f, regs), std::string(text));
        }
        for (const Regs& r : {Regs{0x4049, 0x0FDB}, Regs{0x0FDB, 0x4049}, Regs{0x1234, 0x5678}}) {
            char want[40];
            std::snprintf(want, sizeof want, "%.9g", double(get[order](r.data())));
            QCOMPARE(formatValue(f, {r.data(), 2}), std::string(want));
            QCOMPARE(get[order](parseValue(f, want).data()), get[order](r.data()));
        }
    }

    void refused_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("uint16 over") << "uint16"
                                     << "70000"
                                     << "\"70000\" is not a 16-bit unsigned value (0 to 65535).";
        QTest::newRow("int16 under") << "int16"
                                     << "-32769"
                                     << "*16-bit signed*";
        QTest::newRow("uint32 negative") << "uint32"
                                         << "-1"
                                         << "*32-bit unsigned*";
        QTest::newRow("hex16 five digits") << "hex16"
                                           << "12345"
                                           << "*hexadecimal*";
        QTest::newRow("bin16 17 digits") << "bin16"
                                         << "1 0000 0000 0000 0000"
                                         << "*binary*";
        QTest::newRow("float32 past its range") << "float32 CDAB"
                                                << "1e39"
                                                << "*float32*";
        QTest::newRow("int64 words") << "int64"
                                     << "12 34"
                                     << "*64-bit signed*";
        QTest::newRow("ascii three") << "ascii AB"
                                     << "ABC"
                                     << "*two ASCII*";
    }
    void refused() {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(QString, message);
        try {
            parseValue(fmt(format), text.toStdString());
            QFAIL("accepted");
        } catch (const ValueFailure& e) {
            QVERIFY2(matches(message, e.description()), e.what());
        }
    }

    // A typed value becomes the write of its row: the function by row and count, the
    // registers in the row's format.
    void writes_data() {
        QTest::addColumn<int>("function"); // of the row's read
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("always16");
        QTest::addColumn<QString>("write"); // "function count values", or why it is refused
        const auto row = [](const char* name, int f, const char* fm, const char* t, bool a16,
                            const char* w) {
            QTest::newRow(name) << f << QString(fm) << QString(t) << a16 << QString(w);
        };
        row("a coil takes on: 05", 1, "uint16", " On ", false, "5 1 1");
        row("a coil with always16: 15", 1, "uint16", "0", true, "15 1 0");
        row("a coil refuses 2", 1, "uint16", "2", false,
            "\"2\" is not a coil value (0, 1, on or off).");
        row("one register: 06", 3, "uint16", "77", false, "6 1 77");
        row("one register with always16: 16", 3, "int16", "-1", true, "16 1 65535");
        row("a float32 takes two registers: 16", 3, "float32", "3.14159274", false,
            "16 2 16457 4059");
    }
    void writes() {
        QFETCH(int, function);
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(bool, always16);
        QFETCH(QString, write);
        QStringList got;
        try {
            const PollRequest q =
                writeRequest({2, function, 7}, fmt(format), text.toStdString(), always16);
            QCOMPARE(q.station * 100 + q.address, 207);
            got << QString::number(q.function) << QString::number(q.count);
            for (const auto r : q.registers)
                got << QString::number(r);
            for (const bool b : q.bits)
                got << QString::number(b);
        } catch (const ValueFailure& e) {
            got << QString::fromStdString(e.description());
        }
        QCOMPARE(got.join(' '), write);
    }

    void names() {
        for (const ValueFormat& f : allFormats())
            QVERIFY(parseFormatName(formatName(f)) == f);
        QCOMPARE(allFormats().size(), std::size_t(30));
        QVERIFY(parseFormatName(" FLOAT ") == (ValueFormat{ValueType::Float32}));
        QVERIFY(!parseFormatName("uint16 CDAB") && !parseFormatName("float32 ACBD"));
    }

    void numbers_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<Regs>("regs");
        QTest::addColumn<QString>("number"); // "none": no point on the chart
        const auto row = [](const char* name, const char* f, Regs r, const char* n) {
            QTest::newRow(name) << QString(f) << r << QString(n);
        };
        row("bin16 is its register", "bin16", {0x0101}, "257");
        row("float32 CDAB", "float32 CDAB", {0x0FDB, 0x4049}, "3.14159274");
        row("a value short of registers charts nothing: not 0 read from its text", "float32",
            {0x4049}, "none");
    }
    // The chart's numbers come from the registers, not from the text shown.
    void numbers() {
        QFETCH(QString, format);
        QFETCH(Regs, regs);
        QFETCH(QString, number);
        const auto v = numericValue(fmt(format), {regs.data(), std::size_t(regs.size())});
        QCOMPARE(v ? QString::number(*v, 'g', 9) : QString("none"), number);
    }

    void maps_data() {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("result"); // "station function address name" per entry, or why
        const auto row = [](const char* name, const QByteArray& csv, const char* result) {
            QTest::newRow(name) << csv << QString(result);
        };
        row("a station column keys the entry to that station", "40001,flow,float32,2\n3,x,,\n",
            "2 3 0 flow|0 0 3 x");
        row("a binary file is refused: not text", QByteArray("\x7f\x45LF\x02\x00", 6),
            "line 1: byte 0x02: this is not a text file.");
        row("a map without a format column is refused with its line", "40001,flow\n",
            "line 1: no format column (address, name, format; the format may be left empty).");
        row("a map of a header only is refused: no entries", "address,name,format\n",
            "it holds no entries (address, name, format).");
        row("an entry inside an earlier float32 is refused naming both lines",
            "40001,flow,float32\n40002,temp,uint16\n",
            "line 2: \"40002\" overlaps line 1 (a value of several registers, or the same "
            "address).");
        row("an address named twice is refused naming both lines", "40001,a,\n\n40001,b,\n",
            "line 3: \"40001\" overlaps line 1*");
        row("an entry of another station does not overlap", "40001,a,float32,1\n40002,b,,2\n",
            "1 3 0 a|2 3 1 b");
    }
    void maps() {
        QFETCH(QByteArray, csv);
        QFETCH(QString, result);
        QStringList got;
        try {
            for (const MapEntry& e : parseRegisterMap(csv.toStdString()))
                got << QString::number(e.station) + ' ' + QString::number(e.function) + ' ' +
                           QString::number(e.address) + ' ' + QString::fromStdString(e.name);
        } catch (const MapFailure& e) {
            got << QString::fromStdString(e.description());
        }
        QVERIFY2(matches(result, got.join('|').toStdString()), qPrintable(got.join('|')));
    }

    void traceRuns() {
        // A gap breaks the line; past the cap the oldest runs join, so the series stay bounded.
        Trace t;
        for (std::int64_t ms = 0; ms < 5000; ms += 1000) {
            t.add(ms, double(ms));
            t.addGap(ms + 500);
        }
        QCOMPARE(t.runs(0).size(), std::size_t(5));
        const auto capped = t.runs(0, 3);
        QCOMPARE(capped.size(), std::size_t(3));
        QCOMPARE(capped[0].size(), std::size_t(3));
        QCOMPARE(capped[2].front().second, 4000.0);
        QCOMPARE(t.runs(2500).size(), std::size_t(2));
    }
    void scales_data() {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<QString>("axis"); // lo hi ticks
        QTest::newRow("ticks are round numbers") << 105.4 << 497.3 << "100 500 4";
        QTest::newRow("small values") << 0.013 << 0.0871 << "0 0.1 5";
        QTest::newRow("a flat line sits inside its range") << 5.0 << 5.0 << "4 6 4";
    }
    void scales() {
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(QString, axis);
        const Scale s = roundScale(lo, hi);
        QCOMPARE(QString("%1 %2 %3").arg(s.lo).arg(s.hi).arg(s.ticks), axis);
    }

    void requests_data() {
        QTest::addColumn<QString>("req");
        QTest::addColumn<QByteArray>("frame"); // empty: refused with this message
        QTest::addColumn<QString>("message");
        const auto ok = [](const char* name, const char* r, const char* hex) {
            QTest::newRow(name) << QString(r) << withCrc(hex) << QString();
        };
        const auto no = [](const char* name, const char* r, const char* msg) {
            QTest::newRow(name) << QString(r) << QByteArray() << QString(msg);
        };
        ok("01 2000 bits", "1 1 0 2000", "01010000 07D0");
        ok("03", "1 3 0 1", "01030000 0001");
        ok("04 125 at 65410", "17 4 65410 125", "1104FF82 007D");
        ok("05 on", "2 5 7 1 1", "02050007 FF00");
        ok("06", "1 6 65535 1 4660", "0106FFFF 1234");
        ok("15 ten bits", "1 15 19 10 1 0 1 1 0 0 1 1 1 0", "010F0013 000A02 CD01");
        ok("16 two", "1 16 1 2 10 258", "01100001 000204 000A 0102");
        ok("17 report server ID", "5 17 0 1", "0511");
        ok("43/14 basic identification", "9 43 0 1", "092B0E0100");
        no("2001 bits", "1 1 0 2001",
           "The count must be from 1 to 2000 bits; 2001 is past the "
           "protocol's limit. Nothing was sent.");
        no("126 registers", "1 3 0 126", "*1 to 125 registers; 126*");
        no("no registers", "1 4 0 0", "*1 to 125 registers; 0*");
        no("address past 65535", "1 3 65535 2",
           "Address 65535 with 2 registers runs past 65535. "
           "Nothing was sent.");
        no("a start past 65535 is named itself, not its range", "1 3 70000 24",
           "Address 70000 is outside 0 to 65535. Nothing was sent.");
        no("station 0", "0 3 0 1", "The station must be from 1 to 247; 0 is not.*");
        no("station 248", "248 3 0 1", "*248 is not*");
        no("function 07", "1 7 0 1", "Function 7 is not one of*");
    }
    void requests() {
        QFETCH(QString, req);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        try {
            const auto f = buildRequest(request(req));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(f.data()), qsizetype(f.size())),
                     frame);
        } catch (const RequestFailure& e) {
            QVERIFY2(frame.isEmpty() && matches(message, e.description()), e.what());
        }
    }

    void replies_data() {
        QTest::addColumn<QString>("req");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("values"); // registers or bits, or the status text
        const auto row = [](const char* name, const char* r, const QByteArray& reply, bool silent,
                            ReplyStatus s, const char* values) {
            QTest::newRow(name) << QString(r) << reply << silent << int(s) << QString(values);
        };
        const QByteArray two = withCrc("010304 000A FFFF");
        row("03 two registers", "1 3 0 2", two, false, ReplyStatus::Ok, "10 65535");
        row("complete, extra bytes left alone", "1 3 0 2", two + "\x01", false, ReplyStatus::Ok,
            "10 65535");
        row("half: wait", "1 3 0 2", two.left(5), false, ReplyStatus::Incomplete, "");
        row("half, then silence", "1 3 0 2", two.left(5), true, ReplyStatus::ShortReply,
            "short reply: 5 of 9 bytes");
        row("bad CRC after silence", "1 3 0 2", two.left(8) + char(0), true, ReplyStatus::BadCrc,
            "bad CRC");
        row("whole by its byte count with a bad CRC: ends at once, no silence wait", "1 3 0 2",
            two.left(8) + char(0), false, ReplyStatus::BadCrc, "bad CRC");
        row("exception with a bad CRC: whole at its 5 bytes", "1 3 0 2",
            QByteArray::fromHex("0183020000"), false, ReplyStatus::BadCrc, "bad CRC");
        row("byte count not yet read: wait", "1 3 0 2", two.left(2), false, ReplyStatus::Incomplete,
            "");
        row("exception at once", "1 3 64 2", withCrc("018302"), false, ReplyStatus::Exception,
            "exception 02 illegal data address");
        row("wrong station", "1 3 0 2", withCrc("020304 000A FFFF"), false,
            ReplyStatus::WrongStation, "reply from station 2, not 1");
        row("wrong function", "1 3 0 2", withCrc("010404 000A FFFF"), false,
            ReplyStatus::WrongFunction, "reply to function 4, not 3");
        row("byte count not matching", "1 3 0 2", withCrc("010302 000A"), false,
            ReplyStatus::WrongByteCount, "byte count 2 where the request implies 4");
        row("01 ten bits", "1 1 0 10", withCrc("010102 CD01"), false, ReplyStatus::Ok,
            "1 0 1 1 0 0 1 1 1 0");
        row("06 echo", "1 6 5 1 4660", withCrc("01060005 1234"), false, ReplyStatus::Ok, "");
        row("06 other value", "1 6 5 1 4660", withCrc("01060005 1235"), false,
            ReplyStatus::WrongEcho, "*does not repeat*");
        row("16 echo", "1 16 5 2 1 2", withCrc("01100005 0002"), false, ReplyStatus::Ok, "");
        const QByteArray id = withCrc("0111 06 01FF 4C4D4201");
        row("17 server ID", "1 17 0 1", id, false, ReplyStatus::Ok,
            "server ID 01, running, LMB\\x01");
        row("17 half: wait", "1 17 0 1", id.left(6), false, ReplyStatus::Incomplete, "");
        const QByteArray ident = withCrc("012B0E 0101 00 00 03 0003414243 0101 58 0203 312E30");
        row("43/14 objects", "1 43 0 1", ident, false, ReplyStatus::Ok, "ABC, X, 1.0");
        row("43/14 half: wait", "1 43 0 1", ident.left(12), false, ReplyStatus::Incomplete, "");
        row("43 other MEI type", "1 43 0 1", withCrc("012B0D 0101 00 00 00"), false,
            ReplyStatus::WrongEcho, "*MEI type 13*");
    }
    void replies() {
        QFETCH(QString, req);
        QFETCH(QByteArray, reply);
        QFETCH(bool, silent);
        QFETCH(int, status);
        QFETCH(QString, values);
        const ReplyCheck c = checkReply(request(req), span(reply), silent);
        QCOMPARE(statusName(c.status), statusName(ReplyStatus(status)));
        QStringList got;
        for (const auto r : c.registers)
            got << QString::number(r);
        for (const bool b : c.bits)
            got << QString::number(b);
        const std::string shown =
            c.status == ReplyStatus::Ok ? got.join(' ').toStdString() + c.identity : c.text;
        QVERIFY2(matches(values, shown), shown.c_str());
    }

    // A transaction driven by events: "s" sent, "t" timeout, "q" silence, "r:HEX" bytes read.
    // Each event's step is W(ait), Q (wait for the silence), A(gain), E(nd).
    void transactions_data() {
        QTest::addColumn<QString>("req");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("outcome"); // text, tries, timeouts, CRC and other errors
        const QString two = withCrc("010304 000A FFFF").toHex();
        const QString bad = two.left(16) + "00";
        const auto row = [](const char* name, const char* r, int retries, const QString& ev,
                            const char* steps, const char* outcome) {
            QTest::newRow(name) << QString(r) << retries << ev << QString(steps)
                                << QString(outcome);
        };
        row("a whole reply ends at once", "1 3 0 2", 0, "s r:" + two, "E", "ok 1 0 0 0");
        row("a reply in pieces ends with its last byte, no silence wait", "1 3 0 2", 0,
            "s r:01 r:0304000A r:" + two.mid(10), "Q Q E", "ok 1 0 0 0");
        row("a silent station is tried again retries times, then times out", "1 3 0 2", 2,
            "s t s t s t", "A A E", "timeout 3 3 0 0");
        row("a bad CRC is tried again and counted each time", "1 3 0 2", 1,
            "s r:" + bad + " s r:" + bad, "A E", "bad CRC 2 0 2 0");
        row("an exception is never tried again", "1 3 0 2", 3, "s r:" + withCrc("018302").toHex(),
            "E", "exception 02 illegal data address 1 0 0 0");
        row("a reply cut short ends with the silence", "1 3 0 2", 0, "s r:0103 q", "Q E",
            "short reply: 2 of 9 bytes 1 0 0 1");
        row("bytes after the end are not asked for", "1 3 0 2", 0, "s r:" + two + " r:01", "E W",
            "ok 1 0 0 0");
    }
    void transactions() {
        QFETCH(QString, req);
        QFETCH(int, retries);
        QFETCH(QString, events);
        QFETCH(QString, steps);
        QFETCH(QString, outcome);
        Transaction t;
        t.begin(request(req), retries);
        QStringList got;
        std::int64_t now = 0;
        for (const QString& e : events.split(' ')) {
            now += 1000;
            if (e == "s") {
                t.sent(now);
                continue;
            }
            const QByteArray data = QByteArray::fromHex(e.mid(2).toLatin1());
            const Transaction::Step step = e == "t"   ? t.timeout()
                                           : e == "q" ? t.silence()
                                                      : t.received(span(data), now);
            got << QString("WQAE"[int(step)]);
        }
        QCOMPARE(got.join(' '), steps);
        const auto& n = t.tally();
        QCOMPARE(QString("%1 %2 %3 %4 %5")
                     .arg(QString::fromStdString(
                         t.check().status == ReplyStatus::Ok ? "ok" : t.check().text))
                     .arg(t.attempts())
                     .arg(n.timeouts)
                     .arg(n.crcErrors)
                     .arg(n.otherErrors),
                 outcome);
        QCOMPARE(int(t.state()), int(Transaction::State::Ended));
    }

    // One end of frame for the Monitor, the master and the sweep: 3.5 characters, at least
    // 1.75 ms above 19200 baud, in whole ms (the master waited at least 5 ms, the sweep 2).
    void silences_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity"); // serial::Parity
        QTest::addColumn<int>("ms");
        QTest::newRow("9600 8N1: 3.65 ms, not the master's 5") << 9600 << 0 << 4;
        QTest::newRow("19200 8E1: 2.01 ms") << 19200 << 1 << 3;
        QTest::newRow("115200 8N1: 1.75 ms, not the sweep's 2 plus one") << 115200 << 0 << 2;
        QTest::newRow("300 8N1: 116.67 ms") << 300 << 0 << 117;
    }
    void silences() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, ms);
        varnok::serial::LineSettings line;
        line.baud = baud;
        line.parity = varnok::serial::Parity(parity);
        QCOMPARE(frameSilenceMs(line), ms);
    }
};

QTEST_APPLESS_MAIN(TestPollValues)
#include "tst_poll_values.moc"
