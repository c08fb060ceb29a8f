// A script's checks as test-harness lines: one line per check, the plan at the end.
#include <QTest>

#include "logic/script/tap_text.h"

class TestTapText : public QObject {
    Q_OBJECT
  private slots:
    void line_data() {
        QTest::addColumn<bool>("passed");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("passed") << true << 1 << QByteArray("volts") << QByteArray("ok 1 - volts\n");
        QTest::newRow("failed") << false << 12 << QByteArray("in range")
                                << QByteArray("not ok 12 - in range\n");
        QTest::newRow("no text: no dash") << true << 3 << QByteArray() << QByteArray("ok 3\n");
        QTest::newRow("line breaks become spaces: one line per check")
            << false << 2 << QByteArray("a\r\nb") << QByteArray("not ok 2 - a  b\n");
        QTest::newRow("'#' escaped: never read as a directive")
            << true << 4 << QByteArray("station #3 \\ ok")
            << QByteArray("ok 4 - station \\#3 \\\\ ok\n");
    }
    void line() {
        QFETCH(bool, passed);
        QFETCH(int, number);
        QFETCH(QByteArray, text);
        QTEST(
            QByteArray::fromStdString(varnok::script::tapLine(passed, number, text.toStdString())),
            "expected");
    }
    void plan_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("three checks") << 3 << QByteArray("1..3\n");
        QTest::newRow("no checks") << 0 << QByteArray("1..0\n");
    }
    void plan() {
        QFETCH(int, count);
        QTEST(QByteArray::fromStdString(varnok::script::tapPlan(count)), "expected");
    }
};

QTEST_APPLESS_MAIN(TestTapText)
#include "tst_tap_text.moc"
