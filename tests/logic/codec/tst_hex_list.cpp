// The typed hexadecimal list, the RTU frame built from it and the CRC-16 that closes it.
#include <QTest>
#include <bit>
#include <chrono>

#include "logic/codec/recv_display.h"
#include "logic/failure.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/rtu_frame.h"

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

// The CRC bit by bit as the standard defines it, without the tables or the register split,
// as it goes on the wire: low-order byte first.
QByteArray bitwiseCrc(const QByteArray& data) {
    std::uint16_t crc = 0xFFFF;
    for (char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    return QByteArray(1, char(crc & 0xFF)) + char(crc >> 8);
}

} // namespace

class TestHexList : public QObject {
    Q_OBJECT
  private slots:
    // Every list also goes through the frame builder, checked against the bit-by-bit CRC.
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("values");
        using E = HexListError;
        const auto row = [](const char* name, const QString& text, E error,
                            const QByteArray& hex = {}) {
            QTest::newRow(name) << text << int(error) << QByteArray::fromHex(hex);
        };
        row("empty", "", E::None);
        row("blanks only", "      ", E::None);
        row("runs of spaces around", "  1  3   0 0 0  a ", E::None, "01030000000A");
        row("mixed case", "fF 0a 0B", E::None, "FF0A0B");
        row("leading zeros do not count", "000F 0001", E::None, "0F01");
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
        QByteArray data(8000, 0); // every byte, then scattered ones (Fibonacci hashing)
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i < 256 ? i : (i * 2654435761U) >> 24);
        const auto shown = QString::fromStdString(hexDisplay(bytes(data), 8000));
        row("every byte and more through the hex display", shown, E::None, data.toHex());
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(QByteArray, values);
        const HexList got = parseHexList(text.toStdU16String());
        QCOMPARE(int(got.error), error);
        QCOMPARE(toBytes(got.bytes), values);
        QString failure; // the builder fails with its own kinds
        try {
            const RtuFrame f = Build_RTU_Frame(text.toStdU16String());
            QCOMPARE(f.count, int(values.size()));
            QCOMPARE(toBytes(f.frame).toHex(' '), (values + bitwiseCrc(values)).toHex(' '));
            // The count bounds the CRC: what lies past it is never read.
            const CrcRegisters r = Calc_CRC16(bytes(values + QByteArray(300, 'Z')), f.count);
            QCOMPARE(QByteArray(1, char(r.hi)) + char(r.lo), bitwiseCrc(values));
        } catch (const varnok::Failure& f) {
            failure = QString::fromStdString(f.description());
        }
        QCOMPARE(failure, QStringList({"", "Type mismatch", "Overflow", "Overflow"})[error]);
    }

    // The standard's check value, low-order byte first; counts of zero or less read nothing.
    void knownAnswers() {
        QCOMPARE(bitwiseCrc("123456789").toHex(), "374b");
        for (int count : {0, -5, -32768})
            QCOMPARE(std::bit_cast<std::uint16_t>(Calc_CRC16(nullptr, count)), 0xFFFF);
    }

    // 65k characters in one token, in blanks and in values: parsing stays linear.
    void longTextsAreFast() {
        const QString texts[] = {QString(65000, '0') + '1', QString(65000, ' ') + '1', list(32766)};
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 60; ++i)
            QCOMPARE(int(parseHexList(texts[i % 3].toStdU16String()).error), 0);
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    }
};

QTEST_APPLESS_MAIN(TestHexList)
#include "tst_hex_list.moc"
