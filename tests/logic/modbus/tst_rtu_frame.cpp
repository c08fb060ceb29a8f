#include "logic/failure.h"
#include "logic/modbus/rtu_frame.h"

#include <QElapsedTimer>
#include <QTest>

using namespace varnok::modbus;

namespace {

std::u16string_view view(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

// "OK", "Overflow" or "Type mismatch", with the frame as hex when OK.
QString outcome(const QString& text, QByteArray* frame = nullptr) {
    try {
        const RtuFrame f = Build_RTU_Frame(view(text));
        if (frame)
            *frame = QByteArray(reinterpret_cast<const char*>(f.frame.data()),
                                static_cast<qsizetype>(f.frame.size()));
        if (f.frame.size() != static_cast<std::size_t>(f.count) + 2)
            return QStringLiteral("bad size");
        return QStringLiteral("OK");
    } catch (const varnok::Failure& e) {
        return QString::fromStdString(e.description()) + ' ' + QString::number(e.number());
    }
}

QString repeatedList(int values, const QString& last = QStringLiteral("7")) {
    QString s;
    s.reserve(values * 2);
    for (int i = 1; i < values; ++i)
        s += QStringLiteral("A ");
    return s + last;
}

} // namespace

class TestRtuFrame : public QObject {
    Q_OBJECT
  private slots:
    void validLists_data();
    void validLists();
    void failingLists_data();
    void failingLists();
    void listLengthBound_data();
    void listLengthBound();
    void longListIsFast();
};

void TestRtuFrame::validLists_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    const QByteArray fc04 = QByteArray::fromHex("01040000000131CA");
    const QByteArray fc03 = QByteArray::fromHex("01030000000AC5CD");
    QTest::newRow("initial text") << "1 4 0 0 0 1" << fc04;
    QTest::newRow("runs of spaces") << "1  3   0    0 0  a" << fc03;
    QTest::newRow("spaces around") << "  1 3  0   0    0 A    " << fc03;
    QTest::newRow("two-digit values") << "01 04 00 00 00 01" << fc04;
    QTest::newRow("empty") << "" << QByteArray::fromHex("FFFF");
    QTest::newRow("blanks only") << "      " << QByteArray::fromHex("FFFF");
    QTest::newRow("0001 is one value") << "0001" << QByteArray::fromHex("017E80");
    QTest::newRow("000F is one value") << "000F" << QByteArray::fromHex("0FFF44");
    QTest::newRow("ff lower") << "ff" << QByteArray::fromHex("FFFF00");
    QTest::newRow("FF upper") << "FF" << QByteArray::fromHex("FFFF00");
    QTest::newRow("mixed case") << "fF 0a 0B"
                                << QByteArray::fromHex("FF0A0B") + QByteArray::fromHex("0697");
    QTest::newRow("long leading zeros") << QString(200, '0') + "1 4 0 0 0 1" << fc04;
    QTest::newRow("ASCII digits") << "31 32 33 34 35 36 37 38 39"
                                  << QByteArray("123456789") + QByteArray::fromHex("374B");
}

void TestRtuFrame::validLists() {
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QByteArray got;
    QCOMPARE(outcome(text, &got), QStringLiteral("OK"));
    QCOMPARE(got.toHex(' ').toUpper(), frame.toHex(' ').toUpper());
}

void TestRtuFrame::failingLists_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("failure");
    const QString overflow = QStringLiteral("Overflow 6");
    const QString mismatch = QStringLiteral("Type mismatch 13");
    QTest::newRow("0103 typed together") << "1 0103 0 0 0 1" << overflow;
    QTest::newRow("100") << "100" << overflow;
    QTest::newRow("FFF") << "1 3 FFF" << overflow;
    QTest::newRow("many digits") << QString(100, 'F') << overflow;
    QTest::newRow("0x01") << "0x01 3 0" << mismatch;
    QTest::newRow("G1") << "1 G1" << mismatch;
    QTest::newRow("tab inside") << "1\t3 0 0 0 1" << mismatch;
    QTest::newRow("tab between") << "1 3\t0" << mismatch;
    QTest::newRow("line break inside") << "1 3\r\n0 0" << mismatch;
    QTest::newRow("trailing LF") << "1 3 0 0 0 1\n" << mismatch;
    QTest::newRow("sign") << "1 -3" << mismatch;
    QTest::newRow("parentheses") << "(1) 3" << mismatch;
    QTest::newRow("full-width digit") << QString::fromUtf16(u"1 \uFF13") << mismatch;
    QTest::newRow("non-hex letter in big value") << "100G" << mismatch;
    QTest::newRow("first failure wins: mismatch") << "1 G1 100" << mismatch;
    QTest::newRow("first failure wins: overflow") << "1 100 G1" << overflow;
}

void TestRtuFrame::failingLists() {
    QFETCH(QString, text);
    QFETCH(QString, failure);
    QCOMPARE(outcome(text), failure);
}

void TestRtuFrame::listLengthBound_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("32766 values") << repeatedList(32766) << "OK";
    QTest::newRow("32767 values") << repeatedList(32767) << "Overflow 6";
    QTest::newRow("40000 values") << repeatedList(40000) << "Overflow 6";
    // the length is refused before any value is looked at
    QTest::newRow("32767 values, last bad") << repeatedList(32767, "G1") << "Overflow 6";
    QTest::newRow("32766 values, last bad") << repeatedList(32766, "G1") << "Type mismatch 13";
}

void TestRtuFrame::listLengthBound() {
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(outcome(text), result);
}

void TestRtuFrame::longListIsFast() {
    // ~65k characters in one token and in many: both must stay linear.
    const QString oneToken = QString(65000, '0') + '1';
    const QString manySpaces = QString(65000, ' ') + "1";
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(outcome(oneToken), QStringLiteral("OK"));
        QCOMPARE(outcome(manySpaces), QStringLiteral("OK"));
        QCOMPARE(outcome(repeatedList(32766)), QStringLiteral("OK"));
    }
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed()) + " ms"));
}

QTEST_APPLESS_MAIN(TestRtuFrame)
#include "tst_rtu_frame.moc"
