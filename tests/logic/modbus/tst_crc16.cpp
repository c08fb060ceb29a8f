#include "logic/modbus/crc16.h"
#include "logic/modbus/rtu_frame.h"

#include <QRandomGenerator>
#include <QTest>

using namespace varnok::modbus;

namespace {

const std::uint8_t* bytes(const QByteArray& a) {
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

// CRC-16/MODBUS the long way round: MSB-first over bit-reversed input with the plain
// polynomial, then the register reversed. Shares nothing with the table method.
std::uint16_t slowCrc(const QByteArray& data) {
    auto reverse = [](std::uint32_t v, int width) {
        std::uint32_t r = 0;
        for (int i = 0; i < width; ++i, v >>= 1)
            r = (r << 1) | (v & 1U);
        return r;
    };
    std::uint32_t crc = 0xFFFF;
    for (char c : data) {
        crc ^= reverse(static_cast<std::uint8_t>(c), 8) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000U) ? ((crc << 1) ^ 0x8005U) & 0xFFFFU : (crc << 1) & 0xFFFFU;
    }
    return static_cast<std::uint16_t>(reverse(crc, 16));
}

} // namespace

class TestCrc16 : public QObject {
    Q_OBJECT
  private slots:
    void workedResults_data();
    void workedResults();
    void tableRows_data();
    void tableRows();
    void completeFrameGivesZero_data() { workedResults_data(); }
    void completeFrameGivesZero();
    void countZeroOrLess_data();
    void countZeroOrLess();
    void trailingElementsIgnored_data();
    void trailingElementsIgnored();
    void orderNotSwapped();
    void agreesWithBitwiseCrc();
};

void TestCrc16::workedResults_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");
    QTest::newRow("fc04") << QByteArray::fromHex("010400000001") << 0x31 << 0xCA;
    QTest::newRow("fc03") << QByteArray::fromHex("010300000001") << 0x84 << 0x0A;
    QTest::newRow("fc03 ten") << QByteArray::fromHex("01030000000A") << 0xC5 << 0xCD;
    QTest::newRow("fc01") << QByteArray::fromHex("010100000008") << 0x3D << 0xCC;
    QTest::newRow("fc02") << QByteArray::fromHex("010200000008") << 0x79 << 0xCC;
    QTest::newRow("fc05") << QByteArray::fromHex("01050000FF00") << 0x8C << 0x3A;
    QTest::newRow("fc06") << QByteArray::fromHex("010600010003") << 0x98 << 0x0B;
    QTest::newRow("fc0f") << QByteArray::fromHex("010F0000000801FF") << 0xBE << 0xD5;
    QTest::newRow("fc10") << QByteArray::fromHex("01100000000102000A") << 0x26 << 0x57;
    QTest::newRow("digits 1-9") << QByteArray("123456789") << 0x37 << 0x4B;
}

void TestCrc16::workedResults() {
    QFETCH(QByteArray, request);
    QFETCH(int, hi);
    QFETCH(int, lo);
    const CrcRegisters r = Calc_CRC16(bytes(request), static_cast<int>(request.size()));
    QCOMPARE(int(r.hi), hi);
    QCOMPARE(int(r.lo), lo);
}

void TestCrc16::tableRows_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");
    const int rows[][3] = {{0x00, 0x00, 0x00}, {0x01, 0xC1, 0xC0}, {0x02, 0x81, 0xC1},
                           {0x03, 0x40, 0x01}, {0x7F, 0x41, 0xE0}, {0x80, 0x01, 0xA0},
                           {0xFE, 0x81, 0x80}, {0xFF, 0x40, 0x40}};
    for (const auto& r : rows)
        QTest::addRow("%02X", r[0]) << r[0] << r[1] << r[2];
}

void TestCrc16::tableRows() {
    QFETCH(int, index);
    QFETCH(int, hi);
    QFETCH(int, lo);
    QCOMPARE(int(crcTables().hi[index]), hi);
    QCOMPARE(int(crcTables().lo[index]), lo);
}

void TestCrc16::completeFrameGivesZero() {
    QFETCH(QByteArray, request);
    QFETCH(int, hi);
    QFETCH(int, lo);
    QByteArray frame = request;
    frame.append(char(hi)).append(char(lo));
    const CrcRegisters r = Calc_CRC16(bytes(frame), static_cast<int>(frame.size()));
    QCOMPARE(int(r.hi), 0);
    QCOMPARE(int(r.lo), 0);
}

void TestCrc16::countZeroOrLess_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
    QTest::newRow("most negative 16-bit") << -32768;
}

void TestCrc16::countZeroOrLess() {
    QFETCH(int, count);
    const std::uint8_t junk[2] = {0x12, 0x34};
    const CrcRegisters r = Calc_CRC16(junk, count);
    QCOMPARE(int(r.hi), 0xFF);
    QCOMPARE(int(r.lo), 0xFF);
    QCOMPARE(int(Calc_CRC16(nullptr, 0).hi), 0xFF);
}

void TestCrc16::trailingElementsIgnored_data() {
    QTest::addColumn<QByteArray>("trailer");
    QTest::newRow("zeros") << QByteArray::fromHex("0000");
    QTest::newRow("ones") << QByteArray::fromHex("FFFF");
    QTest::newRow("its own crc") << QByteArray::fromHex("31CA");
    QTest::newRow("long") << QByteArray(300, '\x5A');
}

void TestCrc16::trailingElementsIgnored() {
    QFETCH(QByteArray, trailer);
    const QByteArray buffer = QByteArray::fromHex("010400000001") + trailer;
    const CrcRegisters r = Calc_CRC16(bytes(buffer), 6);
    QCOMPARE(int(r.hi), 0x31);
    QCOMPARE(int(r.lo), 0xCA);
}

void TestCrc16::orderNotSwapped() {
    const RtuFrame f = Build_RTU_Frame(u"1 3 0 0 0 1");
    QCOMPARE(f.frame.size(), std::size_t(8));
    QCOMPARE(int(f.frame[6]), 0x84);
    QCOMPARE(int(f.frame[7]), 0x0A);
}

void TestCrc16::agreesWithBitwiseCrc() {
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 500; ++round) {
        QByteArray data(rng.bounded(0, 300), Qt::Uninitialized);
        for (char& c : data)
            c = static_cast<char>(rng.bounded(256));
        const CrcRegisters r = Calc_CRC16(bytes(data), static_cast<int>(data.size()));
        const std::uint16_t v = slowCrc(data);
        QCOMPARE(int(r.hi), v & 0xFF);
        QCOMPARE(int(r.lo), v >> 8);
    }
}

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
