// The request/response layout the window shows for each function of the list.
#include "logic/modbus/catalogue.h"

#include <QTest>

using namespace varnok::modbus;

class TestCatalogue : public QObject {
    Q_OBJECT
  private slots:
    // Section lengths and closing lines tell the compositions apart.
    void explanation_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("request");  // line count, then the last line
        QTest::addColumn<QStringList>("response"); // the same for the response
        const QString bits = "    Byte 3-(B+2): Bit values (least significant is first coil!)";
        const QString regs = "    Byte 3-(B+2): Register values";
        const QString bitCount = "    Byte 4-5:     Bit count";
        const QString wordCount = "    Byte 4-5:     Word count";
        const QString value = "    Byte 4-5:     Register value";
        const QString zero = "    Byte 5:       =00";
        const auto row = [](int index, const char* code, int requestLines,
                            const QString& lastRequest, int responseLines,
                            const QString& lastResponse) {
            QTest::addRow("FC%s", code)
                << index << QString::fromLatin1(code)
                << QStringList{QString::number(requestLines), lastRequest}
                << QStringList{QString::number(responseLines), lastResponse};
        };
        row(0, "01", 4, bitCount, 4, bits);
        row(1, "02", 4, bitCount, 4, bits);
        row(2, "03", 4, wordCount, 4, regs);
        row(3, "04", 4, wordCount, 4, regs);
        row(4, "05", 5, zero, 5, zero);
        row(5, "06", 4, value, 4, value);
        row(6, "0F (hex)", 6,
            "    Byte 7-(B+6): Data to be written (least significant is first coil!)", 4, bitCount);
        row(7, "10 (hex)", 6, "    Byte 7-(B+6): Register values", 4, wordCount);
    }
    void explanation() {
        QFETCH(int, index);
        QFETCH(QString, code);
        QFETCH(QStringList, request);
        QFETCH(QStringList, response);
        const QString item = QString::fromStdString(functionItems().at(std::size_t(index)));
        QVERIFY(item.startsWith(QStringLiteral("FC%1  ").arg(code.left(2).toInt(nullptr, 16))));
        const QString text = QString::fromStdString(functionExplanation(index));
        // CR LF between lines only, none at the end, one empty line between the sections.
        QCOMPARE(text.count('\n'), text.count("\r\n"));
        QCOMPARE(text.count('\r'), text.count("\r\n"));
        const QStringList lines = text.split("\r\n");
        const int n = request[0].toInt();
        QCOMPARE(lines.size(), n + response[0].toInt() + 3);
        for (int first : {0, n + 2}) {
            QCOMPARE(lines[first], first ? "[Response]" : "[Request]");
            QCOMPARE(lines[first + 1], "    Byte 0:       Net ID (Station number)");
            QCOMPARE(lines[first + 2], "    Byte 1:       FC=" + code);
        }
        QCOMPARE(lines[n + 1], QString());
        QCOMPARE(lines[n], request[1]);
        QCOMPARE(lines.last(), response[1]);
    }

    void outOfRange() {
        for (int index : {-1, kFunctionCount, 1000})
            QVERIFY(functionExplanation(index).empty());
    }
};

QTEST_APPLESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
