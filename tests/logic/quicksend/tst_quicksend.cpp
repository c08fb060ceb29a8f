// Stored sends without a port: escapes, checksums over a range, the exact bytes of an entry,
// patterns found across reads and the pacing of a file.
#include <QTest>

#include "logic/quicksend/entry.h"
#include "logic/quicksend/escapes.h"
#include "logic/quicksend/matcher.h"
#include "logic/quicksend/pacing.h"
#include "support/bytes.h"

using namespace varnok::quicksend;
using varnok::test::span;
Q_DECLARE_METATYPE(Checksum)
Q_DECLARE_METATYPE(PatternKind)
Q_DECLARE_METATYPE(Pace)

namespace {

QString hex(const std::vector<std::uint8_t>& v) {
    return QString::fromStdString(hexText(v));
}

} // namespace

class TstQuickSend : public QObject {
    Q_OBJECT
  private slots:
    void entry_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("hexForm");
        QTest::addColumn<int>("end");
        QTest::addColumn<Checksum>("sum");
        QTest::addColumn<int>("skipFirst");
        QTest::addColumn<int>("skipLast");
        QTest::addColumn<QString>("bytes"); // or the start of the error
        QTest::addRow("escapes, CR LF") << "A\\r\\n\\t\\\\\\x7fz" << false << int(LineEnd::CRLF)
                                        << Checksum::None << 0 << 0 << "41 0D 0A 09 5C 7F 7A 0D 0A";
        QTest::addRow("LF CR after the checksum")
            << "\\x01" << false << int(LineEnd::LFCR) << Checksum::Xor << 0 << 0 << "01 01 0A 0D";
        QTest::addRow("hex list, Modbus CRC") << "1 3 0 0 0 1" << true << 0 << Checksum::ModbusCrc16
                                              << 0 << 0 << "01 03 00 00 00 01 84 0A";
        QTest::addRow("range skips the colon and the tail")
            << ":\\x01\\x03\\x00\\x00\\x00\\x01#" << false << 0 << Checksum::Lrc << 1 << 1
            << "3A 01 03 00 00 00 01 23 FB";
        QTest::addRow("range of nothing")
            << "ab" << false << 0 << Checksum::Sum << 1 << 1 << "61 62 00";
        QTest::addRow("range past the data") << "ab" << false << 0 << Checksum::Sum << 2 << 1
                                             << "the checksum leaves out 3 bytes of 2";
        QTest::addRow("unknown escape")
            << "ab\\q" << false << 0 << Checksum::None << 0 << 0 << "character 3: unknown escape";
        QTest::addRow("cut \\x") << "\\x4" << false << 0 << Checksum::None << 0 << 0
                                 << "character 1: \\x needs two hex digits";
        QTest::addRow("lone backslash")
            << "a\\" << false << 0 << Checksum::None << 0 << 0 << "character 2: a lone";
        QTest::addRow("past Latin-1") << "a\u20ac" << false << 0 << Checksum::None << 0 << 0
                                      << "character 2: U+20AC has no single byte";
        QTest::addRow("bad hex") << "1 G" << true << 0 << Checksum::None << 0 << 0
                                 << "a value is not hexadecimal";
        QTest::addRow("data past 64 KiB is refused: a file goes through the file sender")
            << QString(65537, 'a') << false << 0 << Checksum::None << 0 << 0
            << "the data is longer than 65536 bytes (bigger data goes through \"Send file\")";
    }
    void entry() {
        QFETCH(QString, data);
        QFETCH(int, end);
        QFETCH(QString, bytes);
        Entry e;
        e.data = data.toStdU16String();
        QFETCH(bool, hexForm);
        e.form = hexForm ? DataForm::Hex : DataForm::Text;
        e.end = LineEnd(end);
        QFETCH(Checksum, sum);
        e.checksum = sum;
        QFETCH(int, skipFirst);
        QFETCH(int, skipLast);
        e.skipFirst = skipFirst;
        e.skipLast = skipLast;
        const EntryBytes r = entryBytes(e);
        if (r.ok())
            QCOMPARE(hex(r.bytes), bytes);
        else
            QVERIFY2(QString::fromStdString(r.error).startsWith(bytes), r.error.c_str());
    }

    void preview_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("preview");
        QTest::addRow("one byte is \"1 byte\"") << "A"
                                                << "41  (1 byte)";
        QTest::addRow("short: every byte") << "AB"
                                           << "41 42 83 0D  (4 bytes)";
        QTest::addRow("64 KiB: the first bytes, the checksum and the count stay in sight")
            << QString(65536, 'A') << QString("41 ").repeated(4) + "\u2026 00 0D  (65538 bytes)";
    }
    void preview() {
        QFETCH(QString, data);
        Entry e;
        e.data = data.toStdU16String();
        if (data.size() > 1) { // a sum and a CR behind the data
            e.checksum = Checksum::Sum;
            e.end = LineEnd::CR;
        }
        QTEST(QString::fromStdString(bytesPreview(entryBytes(e), 4)), "preview");
    }

    void rateLimit_data() {
        QTest::addColumn<QList<int>>("firesMs");
        QTest::addColumn<QList<bool>>("allowed"); // 3 a second
        QTest::addRow("the fourth within a second is refused")
            << QList<int>{0, 10, 20, 999} << QList<bool>{true, true, true, false};
        QTest::addRow("a second after the first, one more may fire")
            << QList<int>{0, 10, 20, 1000, 1001} << QList<bool>{true, true, true, true, false};
    }
    void rateLimit() {
        QFETCH(QList<int>, firesMs);
        RateLimit limit(3);
        QList<bool> allowed;
        for (int ms : firesMs)
            allowed << limit.allow(ms);
        QTEST(allowed, "allowed");
    }

    void checksum_data() {
        QTest::addColumn<Checksum>("kind");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("sum");
        const QByteArray check("123456789"), frame("\x01\x03\x00\x00\x00\x01", 6);
        const auto rows = [&](Checksum k, const QByteArray& known, const char* c, const char* f) {
            const std::string name(checksumInfo(k).key);
            QTest::addRow("%s check value", name.c_str()) << k << check << c;
            QTest::addRow("%s known frame", name.c_str()) << k << known << f;
        };
        rows(Checksum::ModbusCrc16, frame, "37 4B", "84 0A");
        rows(Checksum::CrcCcittFalse, "A", "29 B1", "B9 15");
        rows(Checksum::CrcXmodem, "A", "31 C3", "58 E5");
        rows(Checksum::Crc32, "The quick brown fox jumps over the lazy dog", "26 39 F4 CB",
             "39 A3 4F 41");
        rows(Checksum::Lrc, frame, "23", "FB");
        rows(Checksum::Xor, frame, "31", "03");
        rows(Checksum::Sum, frame, "DD", "05");
        QTest::addRow("none") << Checksum::None << check << "";
    }
    void checksum() {
        QFETCH(Checksum, kind);
        QFETCH(QByteArray, data);
        QTEST(hex(checksumOf(kind, span(data))), "sum");
    }

    void matcher_data() {
        QTest::addColumn<PatternKind>("kind");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QList<int>>("hits"); // matches ending in each read
        QTest::addRow("text split over two reads")
            << PatternKind::Text << "PING\\r" << QByteArrayList{"xxPI", "NG\r", "PING"}
            << QList<int>{0, 1, 0};
        QTest::addRow("two in one read, then one split in three")
            << PatternKind::Text << "ab" << QByteArrayList{"abab", "a", "b"} << QList<int>{2, 0, 1};
        QTest::addRow("hex split")
            << PatternKind::Hex << "01 03" << QByteArrayList{"\x01", "\x03"} << QList<int>{0, 1};
        QTest::addRow("regex split, told once")
            << PatternKind::Regex << "T=[0-9]+;" << QByteArrayList{"T=1", "2;", "x", "T=3;"}
            << QList<int>{0, 1, 0, 1};
        QTest::addRow("regex that can match nothing fires on nothing")
            << PatternKind::Regex << "z*" << QByteArrayList{"ab", "zz"} << QList<int>{0, 1};
    }
    void matcher() {
        QFETCH(PatternKind, kind);
        QFETCH(QString, pattern);
        QFETCH(QByteArrayList, reads);
        QFETCH(QList<int>, hits);
        Matcher m;
        QCOMPARE(m.setPatterns({{kind, pattern.toStdU16String()}}), std::string());
        for (int i = 0; i < reads.size(); ++i)
            QCOMPARE(int(m.feed(span(reads[i])).size()), hits[i]);
    }

    void matcherWindow() {
        Matcher m;
        QCOMPARE(m.setPatterns({{PatternKind::Text, u"abc"}, {PatternKind::Hex, u"1 2 3 4"}}),
                 std::string());
        QCOMPARE(m.window(), std::size_t(4)); // the longest pattern
        QCOMPARE(m.feed(span("\x01\x02\x03\x04"
                             "abc")),
                 (std::vector<std::size_t>{1, 0}));
        QCOMPARE(m.setPatterns({{PatternKind::Regex, u"x"}}), std::string());
        QCOMPARE(m.window(), Matcher::kMaxWindow);
        QCOMPARE(m.setPatterns({{PatternKind::Text, std::u16string(4097, u'a')}}),
                 std::string("pattern 1: longer than 4096 bytes"));
        QCOMPARE(
            m.setPatterns({{PatternKind::Text, u"ok"}, {PatternKind::Regex, u"(a"}}).substr(0, 35),
            std::string("pattern 2: not a regular expression"));
    }

    void pacing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Pace>("pace");
        QTest::addColumn<QList<int>>("units");
        QTest::addRow("per character")
            << QByteArray("ab\n") << Pace::PerCharacter << QList<int>{1, 1, 1};
        QTest::addRow("per line: LF, CR LF, CR, unended")
            << QByteArray("a\nbc\r\nd\re") << Pace::PerLine << QList<int>{2, 4, 2, 1};
        QTest::addRow("full speed in blocks")
            << QByteArray(10, 'x') << Pace::FullSpeed << QList<int>{4, 4, 2};
    }
    void pacing() {
        QFETCH(QByteArray, bytes);
        QFETCH(Pace, pace);
        QList<int> units;
        for (std::size_t pos = 0, n; (n = unitLength(span(bytes), pos, pace, 4)) > 0; pos += n)
            units << int(n);
        QTEST(units, "units");
    }

    void scheduleIsAbsolute() {
        PaceSchedule s(1000, 1000);
        QCOMPARE(s.dueUs(10000), 10'001'000); // no drift however late each wake-up was
        s.restart(50'000, 7);                 // held: unit 7 goes now, the next a delay later
        QCOMPARE(s.dueUs(7), 50'000);
        QCOMPARE(s.dueUs(8), 51'000);
        s.left(8, 51'000); // on time: the schedule stands
        QCOMPARE(s.dueUs(9), 52'000);
        s.left(9, 60'500); // late: the next waits its whole delay, never sent at once
        QCOMPARE(s.dueUs(10), 61'500);
        s.restart(60'600, 10); // a hold that ends at once still keeps the gap
        QCOMPARE(s.dueUs(10), 61'500);
    }
};

QTEST_APPLESS_MAIN(TstQuickSend)
#include "tst_quicksend.moc"
