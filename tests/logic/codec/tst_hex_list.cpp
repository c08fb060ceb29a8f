// The typed hexadecimal list, the RTU frame built from it and the CRC-16 that closes it.
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include "logic/codec/hex_list.h"
#include "logic/codec/recv_display.h"
#include "logic/failure.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/rtu_frame.h"

using namespace varnok;
using namespace varnok::codec;
using namespace varnok::modbus;

namespace {

const std::uint8_t* bytes(const QByteArray& a) {
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

QByteArray toBytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

QString list(int values, const QString& last = QStringLiteral("7")) {
    return QStringLiteral("A ").repeated(values - 1) + last;
}

// The CRC bit by bit as the standard defines it, without the tables or the register split.
std::uint16_t bitwiseCrc(const QByteArray& data) {
    std::uint16_t crc = 0xFFFF;
    for (char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    return crc;
}

} // namespace

class TestHexList : public QObject {
    Q_OBJECT
  private slots:
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QByteArray>("crc"); // as it goes on the wire, when known
        const auto row = [](const char* name, const QString& text, HexListError error,
                            const QByteArray& hex = {}, const char* crc = "") {
            QTest::newRow(name) << text << int(error) << QByteArray::fromHex(hex)
                                << QByteArray::fromHex(crc);
        };
        using E = HexListError;
        // Known answers: the CRC's low-order byte goes first.
        row("fc01", "1 1 0 0 0 8", E::None, "010100000008", "3DCC");
        row("fc03", "1 3 0 0 0 1", E::None, "010300000001", "840A");
        row("fc04, the initial text", "1 4 0 0 0 1", E::None, "010400000001", "31CA");
        row("fc05", "1 5 0 0 FF 0", E::None, "01050000FF00", "8C3A");
        row("fc0f", "1 F 0 0 0 8 1 FF", E::None, "010F0000000801FF", "BED5");
        row("fc10", "1 10 0 0 0 1 2 0 A", E::None, "01100000000102000A", "2657");
        row("digits 1-9", "31 32 33 34 35 36 37 38 39", E::None, "313233343536373839", "374B");
        row("runs of spaces around", "  1  3   0 0 0  a ", E::None, "01030000000A");
        row("mixed case", "fF 0a 0B", E::None, "FF0A0B");
        row("leading zeros do not count", "000F 0001", E::None, "0F01");
        row("empty", "", E::None, "", "FFFF");
        row("blanks only", "      ", E::None);
        row("100", "100", E::ValueTooBig);
        row("0103 typed together", "1 0103", E::ValueTooBig);
        row("hundred digits", QString(100, 'F'), E::ValueTooBig);
        row("0x01", "0x01 3", E::NotHex);
        row("G100 is not hex before too big", "G100", E::NotHex);
        row("100G", "100G", E::NotHex);
        row("tab is no separator", "1\t3", E::NotHex);
        row("line break is no separator", "1 3\r\n0", E::NotHex);
        row("no-break space is no separator", QString::fromUtf16(u"1\u00A02"), E::NotHex);
        row("full-width digit", QString::fromUtf16(u"1 \uFF13"), E::NotHex);
        row("unit whose low byte is A", QString::fromUtf16(u"\u0141"), E::NotHex);
        row("first failure wins: not hex", "1 G1 100", E::NotHex);
        row("first failure wins: too big", "1 100 G1", E::ValueTooBig);
        row("32766 values", list(32766), E::None, QByteArray(32765, '\x0A').toHex() + "07");
        row("32767 values", list(32767), E::TooManyValues);
        row("length before values", list(32767, "G1"), E::TooManyValues);
        row("32766 values, last not hex", list(32766, "G1"), E::NotHex);
        QByteArray all(256, 0);
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        const std::string shown = hexDisplay(bytes(all), 256);
        row("every byte through the hex display", QString::fromStdString(shown), E::None,
            all.toHex());
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(QByteArray, values);
        const HexList got = parseHexList(text.toStdU16String());
        QCOMPARE(int(got.error), error);
        QCOMPARE(toBytes(got.bytes), values);

        // The frame builder reads the same list, the whole of it, and fails with its own kinds.
        QFETCH(QByteArray, crc);
        QString failure;
        try {
            const RtuFrame f = Build_RTU_Frame(text.toStdU16String());
            QCOMPARE(f.count, int(values.size()));
            if (!crc.isEmpty()) {
                QCOMPARE(toBytes(f.frame).toHex(' '), (values + crc).toHex(' '));
                // The count bounds the CRC: what lies past it is never read.
                const CrcRegisters r = Calc_CRC16(bytes(values + QByteArray(300, 'Z')), f.count);
                QCOMPARE(QByteArray(1, char(r.hi)) + char(r.lo), crc);
            }
        } catch (const Failure& f) {
            failure = QString::fromStdString(f.description());
        }
        const char* const kinds[] = {"", "Type mismatch", "Overflow", "Overflow"};
        QCOMPARE(failure, QLatin1String(kinds[error]));
    }

    void countZeroOrLess() {
        const std::uint8_t junk[2] = {0x12, 0x34};
        for (int count : {0, -5, -32768}) {
            const CrcRegisters r = Calc_CRC16(junk, count);
            QCOMPARE(r.hi & r.lo, 0xFF);
        }
    }

    void agreesWithBitwiseCrc() {
        QRandomGenerator rng(20240611);
        for (int round = 0; round < 500; ++round) {
            QByteArray data(rng.bounded(0, 300), Qt::Uninitialized);
            for (char& c : data)
                c = static_cast<char>(rng.bounded(256));
            const CrcRegisters r = Calc_CRC16(bytes(data), int(data.size()));
            QCOMPARE(r.hi | (r.lo << 8), int(bitwiseCrc(data)));
        }
    }

    // 65k characters in one token, in blanks and in values: parsing stays linear.
    void longTextsAreFast() {
        const std::u16string texts[] = {(QString(65000, '0') + '1').toStdU16String(),
                                        (QString(65000, ' ') + '1').toStdU16String(),
                                        list(32766).toStdU16String()};
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 20; ++i)
            for (const auto& text : texts)
                QCOMPARE(int(parseHexList(text).error), int(HexListError::None));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed()) + " ms"));
    }
};

QTEST_APPLESS_MAIN(TestHexList)
#include "tst_hex_list.moc"
