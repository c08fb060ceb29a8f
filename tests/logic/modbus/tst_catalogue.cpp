// The request/response layout the window shows for each function of the list.
#include "logic/modbus/catalogue.h"

#include <QTest>

using namespace varnok::modbus;

class TestCatalogue : public QObject {
    Q_OBJECT
  private slots:
    // The list text's code, then per section its title, its line count below the title, and
    // its first two and last lines with the byte label cut from its column.
    void explanation_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("expected");
        const QString coil = " (least significant is first coil!)";
        const auto row = [](int index, const char* code, const QStringList& ends) {
            const QString id = "0: Net ID (Station number)", fc = QStringLiteral("1: FC=") + code;
            const QString item = "FC" + QString::number(QString(code).left(2).toInt(nullptr, 16));
            QTest::addRow("FC%s", code)
                << index << QStringList{item,         "[Request]", ends[0], id, fc,     ends[1],
                                        "[Response]", ends[2],     id,      fc, ends[3]};
        };
        row(0, "01", {"4", "4-5: Bit count", "4", "3-(B+2): Bit values" + coil});
        row(1, "02", {"4", "4-5: Bit count", "4", "3-(B+2): Bit values" + coil});
        row(2, "03", {"4", "4-5: Word count", "4", "3-(B+2): Register values"});
        row(3, "04", {"4", "4-5: Word count", "4", "3-(B+2): Register values"});
        row(4, "05", {"5", "5: =00", "5", "5: =00"});
        row(5, "06", {"4", "4-5: Register value", "4", "4-5: Register value"});
        row(6, "0F (hex)", {"6", "7-(B+6): Data to be written" + coil, "4", "4-5: Bit count"});
        row(7, "10 (hex)", {"6", "7-(B+6): Register values", "4", "4-5: Word count"});
    }
    void explanation() {
        QFETCH(int, index);
        QStringList got{
            QString::fromStdString(functionItems().at(std::size_t(index))).section("  ", 0, 0)};
        const QString text = QString::fromStdString(functionExplanation(index));
        // CR LF between lines only, none at the end, one empty line between the sections.
        QCOMPARE(text.count('\n') + text.count('\r'), 2 * text.count("\r\n"));
        for (const QString& section : text.split("\r\n\r\n")) {
            const QStringList lines = section.split("\r\n");
            got << lines[0] << QString::number(lines.size() - 1);
            for (const QString& line : {lines[1], lines[2], lines.last()})
                got << line.left(18).simplified().mid(5) + ' ' + line.mid(18);
        }
        QTEST(got, "expected");
        QVERIFY(functionExplanation(index - kFunctionCount).empty()); // just outside, either side
        QVERIFY(functionExplanation(index + kFunctionCount).empty());
    }
};

QTEST_APPLESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
