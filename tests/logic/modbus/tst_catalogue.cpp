#include "logic/modbus/catalogue.h"

#include <QTest>

using namespace varnok::modbus;

namespace {

QString explanation(int index) {
    return QString::fromStdString(functionExplanation(index));
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
  private slots:
    void items_data();
    void items();
    void fullTexts_data();
    void fullTexts();
    void shape_data();
    void shape();
    void outOfRange_data();
    void outOfRange();
};

void TestCatalogue::items_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "FC1  Read multi-coils status ( 0xxxx ) for DO";
    QTest::newRow("1") << 1 << "FC2  Read multi-input discrete ( 1xxxx ) for DI";
    QTest::newRow("2") << 2 << "FC3  Read multi-registers ( 4xxxx ) for AO";
    QTest::newRow("3") << 3 << "FC4  Read multi-input registers ( 3xxxx )";
    QTest::newRow("4") << 4 << "FC5  Write single-coil ( 0xxxx ) for DO";
    QTest::newRow("5") << 5 << "FC6  Write single-register ( 4xxxx ) for AO";
    QTest::newRow("6") << 6 << "FC15  Write multi-coils ( 0xxxx ) for DO";
    QTest::newRow("7") << 7 << "FC16  Write multi-registers ( 4xxxx ) for AO";
}

void TestCatalogue::items() {
    QFETCH(int, index);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(functionItems().at(static_cast<std::size_t>(index))), text);
}

void TestCatalogue::fullTexts_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("FC5")
        << 4
        << QStringList{"[Request]",
                       "    Byte 0:       Net ID (Station number)",
                       "    Byte 1:       FC=05",
                       "    Byte 2-3:     Reference number",
                       "    Byte 4:       =FF to trun ON coil, =00 to trun OFF coil",
                       "    Byte 5:       =00",
                       "",
                       "[Response]",
                       "    Byte 0:       Net ID (Station number)",
                       "    Byte 1:       FC=05",
                       "    Byte 2-3:     Reference number",
                       "    Byte 4:       =FF to trun ON coil, =00 to trun OFF coil (echoed)",
                       "    Byte 5:       =00"};
    QTest::newRow("FC6 eleven lines") << 5
                                      << QStringList{"[Request]",
                                                     "    Byte 0:       Net ID (Station number)",
                                                     "    Byte 1:       FC=06",
                                                     "    Byte 2-3:     Reference number",
                                                     "    Byte 4-5:     Register value",
                                                     "",
                                                     "[Response]",
                                                     "    Byte 0:       Net ID (Station number)",
                                                     "    Byte 1:       FC=06",
                                                     "    Byte 2-3:     Reference number",
                                                     "    Byte 4-5:     Register value"};
}

void TestCatalogue::fullTexts() {
    QFETCH(int, index);
    QFETCH(QStringList, lines);
    QCOMPARE(explanation(index), lines.join("\r\n"));
}

// Every explanation: request and response sections split by one empty line, CR LF only,
// the function code of its item on the second line of each section.
void TestCatalogue::shape_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("codeLine");
    QTest::addColumn<int>("requestLines");
    QTest::addColumn<int>("responseLines");
    QTest::addColumn<QString>("lastRequestLine");
    QTest::addColumn<QString>("lastResponseLine");
    QTest::newRow("FC1") << 0 << "    Byte 1:       FC=01" << 4 << 4
                         << "    Byte 4-5:     Bit count"
                         << "    Byte 3-(B+2): Bit values (least significant is first coil!)";
    QTest::newRow("FC2") << 1 << "    Byte 1:       FC=02" << 4 << 4
                         << "    Byte 4-5:     Bit count"
                         << "    Byte 3-(B+2): Bit values (least significant is first coil!)";
    QTest::newRow("FC3") << 2 << "    Byte 1:       FC=03" << 4 << 4
                         << "    Byte 4-5:     Word count"
                         << "    Byte 3-(B+2): Register values";
    QTest::newRow("FC4") << 3 << "    Byte 1:       FC=04" << 4 << 4
                         << "    Byte 4-5:     Word count"
                         << "    Byte 3-(B+2): Register values";
    QTest::newRow("FC5") << 4 << "    Byte 1:       FC=05" << 5 << 5 << "    Byte 5:       =00"
                         << "    Byte 5:       =00";
    QTest::newRow("FC6") << 5 << "    Byte 1:       FC=06" << 4 << 4
                         << "    Byte 4-5:     Register value"
                         << "    Byte 4-5:     Register value";
    QTest::newRow("FC15")
        << 6 << "    Byte 1:       FC=0F (hex)" << 6 << 4
        << "    Byte 7-(B+6): Data to be written (least significant is first coil!)"
        << "    Byte 4-5:     Bit count";
    QTest::newRow("FC16") << 7 << "    Byte 1:       FC=10 (hex)" << 6 << 4
                          << "    Byte 7-(B+6): Register values"
                          << "    Byte 4-5:     Word count";
}

void TestCatalogue::shape() {
    QFETCH(int, index);
    QFETCH(QString, codeLine);
    QFETCH(int, requestLines);
    QFETCH(int, responseLines);
    QFETCH(QString, lastRequestLine);
    QFETCH(QString, lastResponseLine);
    const QString text = explanation(index);
    QVERIFY(!text.endsWith("\r\n"));
    QCOMPARE(text.count('\n'), text.count("\r\n"));
    QCOMPARE(text.count('\r'), text.count("\r\n"));
    const QStringList lines = text.split("\r\n");
    QCOMPARE(lines.size(), requestLines + responseLines + 3);
    QCOMPARE(lines.count(QString()), 1);
    QCOMPARE(lines.first(), QStringLiteral("[Request]"));
    QCOMPARE(lines.at(requestLines + 1), QString());
    QCOMPARE(lines.at(requestLines + 2), QStringLiteral("[Response]"));
    QCOMPARE(lines.at(2), codeLine);
    QCOMPARE(lines.at(requestLines + 4), codeLine);
    QCOMPARE(lines.at(requestLines), lastRequestLine);
    QCOMPARE(lines.last(), lastResponseLine);
    QVERIFY(QString::fromStdString(functionItems().at(static_cast<std::size_t>(index)))
                .startsWith(QStringLiteral("FC%1 ").arg(codeLine.mid(21, 2).toInt(nullptr, 16))));
}

void TestCatalogue::outOfRange_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("8") << 8;
    QTest::newRow("large") << 1000;
}

void TestCatalogue::outOfRange() {
    QFETCH(int, index);
    QVERIFY(functionExplanation(index).empty());
}

QTEST_APPLESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
