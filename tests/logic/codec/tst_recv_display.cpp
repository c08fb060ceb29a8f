#include <QtTest>

#include <climits>

#include "logic/failure.h"
#include "logic/codec/recv_display.h"

using namespace varnok;
using namespace varnok::codec;

class TestRecvDisplay : public QObject {
    Q_OBJECT
  private slots:
    void hex_data();
    void hex();
    void hexAllBytes();
    void latin1KeepsEveryByte();
    void autoPass_data();
    void autoPass();
    void autoPassOverflow_data();
    void autoPassOverflow();
    void autoPassesTotalHasNoJump();
    void manual_data();
    void manual();
    void manualOverflow();
};

void TestRecvDisplay::hex_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("none") << QByteArray() << "";
    QTest::newRow("01 0A FF") << QByteArray::fromHex("010AFF") << "01 0A FF ";
    QTest::newRow("zero") << QByteArray::fromHex("00") << "00 ";
    QTest::newRow("below 10 hex") << QByteArray::fromHex("0F") << "0F ";
    QTest::newRow("upper case letters") << QByteArray::fromHex("abcdef") << "AB CD EF ";
    QTest::newRow("nul cr lf") << QByteArray::fromHex("000D0A") << "00 0D 0A ";
}

void TestRecvDisplay::hex() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const std::string got =
        hexDisplay(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
    QCOMPARE(QString::fromStdString(got), text);
}

void TestRecvDisplay::hexAllBytes() {
    std::uint8_t all[256];
    for (int i = 0; i < 256; ++i) {
        all[i] = std::uint8_t(i);
    }
    const std::string got = hexDisplay(all, 256);
    QCOMPARE(got.size(), std::size_t(3 * 256));
    for (int i = 0; i < 256; ++i) {
        const QString triple = QString::fromStdString(got.substr(std::size_t(3 * i), 3));
        QCOMPARE(triple, QStringLiteral("%1 ").arg(i, 2, 16, QChar('0')).toUpper());
    }
}

void TestRecvDisplay::latin1KeepsEveryByte() {
    const std::uint8_t bytes[] = {0x00, 0x0D, 0x0A, 0x41, 0x7F, 0x80, 0xA0, 0xE9, 0xFF};
    const std::u16string text = latin1Text(bytes, sizeof bytes);
    QCOMPARE(text.size(), sizeof bytes);
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        QCOMPARE(int(text[i]), int(bytes[i]));
    }
    QCOMPARE(latin1Text(bytes, 0).size(), std::size_t(0));
}

void TestRecvDisplay::autoPass_data() {
    QTest::addColumn<qint64>("display");
    QTest::addColumn<int>("base");
    QTest::addColumn<bool>("showData");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("recvLength");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<int>("newBase");

    QTest::newRow("at limit kept")
        << qint64(1024) << 0 << true << 1024 << 1024 << 1024 << false << 0;
    QTest::newRow("one past limit cleared")
        << qint64(1025) << 0 << true << 1024 << 1025 << 1025 << true << 1025;
    QTest::newRow("cleared with a base")
        << qint64(1025) << 500 << true << 1024 << 1025 << 1525 << true << 1525;
    QTest::newRow("below limit keeps base")
        << qint64(9) << 300 << true << 1024 << 9 << 309 << false << 300;
    QTest::newRow("other limit") << qint64(8193) << 0 << true << 8192 << 8193 << 8193 << true
                                 << 8193;
    QTest::newRow("show off clears any data")
        << qint64(5) << 10 << false << 1024 << 5 << 15 << true << 15;
    QTest::newRow("show off nothing displayed")
        << qint64(0) << 10 << false << 1024 << 0 << 10 << false << 10;
    QTest::newRow("total reaches int32 max")
        << qint64(5) << INT_MAX - 5 << true << 1024 << 5 << INT_MAX << false << INT_MAX - 5;
}

void TestRecvDisplay::autoPass() {
    QFETCH(qint64, display);
    QFETCH(int, base);
    QFETCH(bool, showData);
    QFETCH(int, limit);
    QFETCH(int, recvLength);
    QFETCH(int, total);
    QFETCH(bool, clear);
    QFETCH(int, newBase);

    const AutoPass p = autoReceivePass(display, base, showData, limit);
    QCOMPARE(p.recvLength, recvLength);
    QCOMPARE(p.total, total);
    QCOMPARE(p.clearDisplay, clear);
    QCOMPARE(p.base, newBase);
}

void TestRecvDisplay::autoPassOverflow_data() {
    QTest::addColumn<qint64>("display");
    QTest::addColumn<int>("base");
    QTest::addColumn<bool>("showData");

    QTest::newRow("total one past max") << qint64(6) << INT_MAX - 5 << true;
    QTest::newRow("show off too") << qint64(6) << INT_MAX - 5 << false;
    QTest::newRow("display longer than 32 bits") << qint64(INT_MAX) + 1 << 0 << true;
}

void TestRecvDisplay::autoPassOverflow() {
    QFETCH(qint64, display);
    QFETCH(int, base);
    QFETCH(bool, showData);
    QVERIFY_THROWS_EXCEPTION(Overflow, autoReceivePass(display, base, showData, 1024));
}

void TestRecvDisplay::autoPassesTotalHasNoJump() {
    // Chunks of 600, 600 and 300 with the default limit: the second read empties the display,
    // and the total still counts everything received.
    std::int64_t display = 0;
    std::int32_t base = 0;
    const int chunks[] = {600, 600, 300};
    const int totals[] = {600, 1200, 1500};
    const bool clears[] = {false, true, false};
    for (int i = 0; i < 3; ++i) {
        display += chunks[i];
        const AutoPass p = autoReceivePass(display, base, true, 1024);
        QCOMPARE(p.total, totals[i]);
        QCOMPARE(p.clearDisplay, clears[i]);
        base = p.base;
        if (p.clearDisplay) {
            display = 0;
        }
    }
    QCOMPARE(display, std::int64_t(300));
    QCOMPARE(base, 1200);
}

void TestRecvDisplay::manual_data() {
    QTest::addColumn<qint64>("display");
    QTest::addColumn<qint64>("chunk");
    QTest::addColumn<int>("base");
    QTest::addColumn<qint64>("drop");
    QTest::addColumn<int>("recvLength");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("newBase");

    const qint64 cap = kManualDisplayCap;
    const int icap = int(cap);
    QTest::newRow("first read") << qint64(0) << qint64(5) << 0 << qint64(0) << 5 << 5 << 0;
    QTest::newRow("second read adds") << qint64(5) << qint64(3) << 0 << qint64(0) << 8 << 8 << 0;
    QTest::newRow("base carried") << qint64(5) << qint64(3) << 100 << qint64(0) << 8 << 108 << 100;
    QTest::newRow("empty read") << qint64(4) << qint64(0) << 7 << qint64(0) << 4 << 11 << 7;
    QTest::newRow("exactly at cap")
        << cap - 10 << qint64(10) << 0 << qint64(0) << icap << icap << 0;
    QTest::newRow("one past cap drops one")
        << cap << qint64(1) << 100 << qint64(1) << icap << icap + 101 << 101;
    QTest::newRow("crossing the cap")
        << cap - 10 << qint64(20) << 0 << qint64(10) << icap << icap + 10 << 10;
    QTest::newRow("chunk larger than the cap")
        << qint64(0) << cap + 50 << 0 << qint64(50) << icap << icap + 50 << 50;
    QTest::newRow("chunk larger than cap onto a full display")
        << cap << cap + 1 << 0 << cap + 1 << icap << 2 * icap + 1 << icap + 1;
}

void TestRecvDisplay::manual() {
    QFETCH(qint64, display);
    QFETCH(qint64, chunk);
    QFETCH(int, base);
    QFETCH(qint64, drop);
    QFETCH(int, recvLength);
    QFETCH(int, total);
    QFETCH(int, newBase);

    const ManualAppend m = manualReceiveAppend(display, chunk, base);
    QCOMPARE(qint64(m.dropFront), drop);
    QCOMPARE(m.recvLength, recvLength);
    QCOMPARE(m.total, total);
    QCOMPARE(m.base, newBase);
    // Everything received is still counted: what was dropped went into the base.
    QCOMPARE(qint64(m.total), qint64(base) + display + chunk);
}

void TestRecvDisplay::manualOverflow() {
    QVERIFY_THROWS_EXCEPTION(Overflow, manualReceiveAppend(0, 10, INT_MAX - 5));
    QVERIFY_THROWS_EXCEPTION(Overflow, manualReceiveAppend(kManualDisplayCap, 10, INT_MAX - 5));
    const ManualAppend m = manualReceiveAppend(0, 5, INT_MAX - 5);
    QCOMPARE(m.total, INT_MAX);
    // Lengths whose sum is past 64 bits (found by fuzz_recv_display): refused, not wrapped.
    QVERIFY_THROWS_EXCEPTION(Overflow,
                             manualReceiveAppend(6926536231198728997LL, 2676586236095037440LL, 0));
    QVERIFY_THROWS_EXCEPTION(Overflow, manualReceiveAppend(LLONG_MAX, LLONG_MAX, INT_MIN));
    QVERIFY_THROWS_EXCEPTION(Overflow, manualReceiveAppend(0, LLONG_MAX, 16722431));
}

QTEST_APPLESS_MAIN(TestRecvDisplay)
#include "tst_recv_display.moc"
