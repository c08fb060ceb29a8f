// The port's settings text, and which device a port number opens.
#include <QTest>

#include "logic/serial/port_map.h"
#include "logic/serial/settings_text.h"

using namespace varnok::serial;

class TstSettingsText : public QObject {
    Q_OBJECT
  private slots:
    // The settings read back as "baud,parity,bits,stop", or "! " and what the refusal says.
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        const auto row = [](const char* name, const char* text, const char* result) {
            QTest::newRow(name) << QString::fromLatin1(text) << QString::fromLatin1(result);
        };
        row("default", "115200,n,8,1", "115200,n,8,1");
        row("even 7 2", "115200,e,7,2", "115200,e,7,2");
        row("upper O", "9600,O,8,1", "9600,o,8,1");
        row("mark 5 1.5", "300,m,5,1.5", "300,m,5,1.5");
        row("space 6", "921600,S,6,1", "921600,s,6,1");
        row("unlisted baud", "250000,n,8,1", "250000,n,8,1");
        row("blanks around fields", " 9600 , n , 8 , 1 ", "9600,n,8,1");
        row("nine bits", "115200,n,9,1", "! data bits");
        row("parity x", "115200,x,8,1", "! parity");
        row("parity word", "115200,none,8,1", "! parity");
        row("stop 3", "115200,n,8,3", "! stop bits");
        row("three fields", "115200,n,8", "! expected");
        row("five fields", "115200,n,8,1,1", "! expected");
        row("empty", "", "! expected");
        row("baud word", "fast,n,8,1", "! not a whole number");
        row("baud negative", "-9600,n,8,1", "! not a whole number");
        row("baud zero", "0,n,8,1", "! greater than 0");
        row("baud past 32 bits", "99999999999,n,8,1", "! too large");
        row("no baud", ",n,8,1", "! missing");
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        try {
            const LineSettings s = parseSettings(text.toStdString());
            const char* const stops[] = {"1", "1.5", "2"};
            QCOMPARE(QString::asprintf("%d,%c,%d,%s", s.baud, "neoms"[int(s.parity)], s.dataBits,
                                       stops[int(s.stopBits)]),
                     result);
        } catch (const SettingsFailure& e) {
            const QString d = QString::fromStdString(e.description());
            QVERIFY2(result.startsWith("! ") && d.contains(result.mid(2)), qPrintable(d));
            QVERIFY2(d.contains('"' + text + '"'), qPrintable(d));
        }
    }

    // The rule at each end of its ranges, and what a binding changes: a path replaces the rule
    // until an empty path gives it back.
    void mapping_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("bindings");
        QTest::addColumn<QString>("path");
        const auto row = [](int number, const QString& path, const QStringList& bindings = {}) {
            QTest::addRow("Com%d%s", number, bindings.isEmpty() ? "" : " bound")
                << number << bindings << path;
        };
        for (const char* rule :
             {"0=", "1=/dev/ttyS0", "32=/dev/ttyS31", "33=/dev/ttyUSB0", "64=/dev/ttyUSB31",
              "65=/dev/ttyACM0", "96=/dev/ttyACM31", "97=", "256="})
            row(QString(rule).section('=', 0, 0).toInt(), QString(rule).section('=', 1));
        row(200, "/tmp/sim", {"/x", "/tmp/sim"});
        row(3, "/dev/ttyS2", {"/dev/pts/9", ""});
    }
    void mapping() {
        QFETCH(int, number);
        QFETCH(QStringList, bindings);
        for (const QString& b : bindings)
            bindPort(number, b.toStdString());
        QTEST(QString::fromStdString(devicePathFor(number)), "path");
        clearPortBindings();
        QVERIFY(!isPortBound(number));
    }

    // The --port option: "number path", or "" when malformed.
    void bindingOption_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        const auto row = [](const char* text, const char* result) {
            QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(result);
        };
        row("Com1=/dev/pts/3", "1 /dev/pts/3");
        row("COM255=/x", "255 /x");
        row("com2=/a=b", "2 /a=b");
        for (const char* bad : {"Com0=/x", "Com256=/x", "Com=/x", "Com1=", "Com1", "Tty1=/x"})
            row(bad, "");
    }
    void bindingOption() {
        QFETCH(QString, text);
        const auto b = parsePortBinding(text.toStdString());
        QTEST(b ? QString::number(b->first) + ' ' + QString::fromStdString(b->second) : QString(),
              "result");
    }
};

QTEST_APPLESS_MAIN(TstSettingsText)
#include "tst_settings_text.moc"
