#include <QTest>

#include "logic/serial/port_map.h"
#include "logic/serial/settings_text.h"

using namespace varnok::serial;

class TstSettingsText : public QObject {
    Q_OBJECT
  private slots:
    void good_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("stop");
        QTest::newRow("default") << "115200,n,8,1" << 115200 << int(Parity::None) << 8 << 0;
        QTest::newRow("e72") << "115200,e,7,2" << 115200 << int(Parity::Even) << 7 << 2;
        QTest::newRow("upper O") << "9600,O,8,1" << 9600 << int(Parity::Odd) << 8 << 0;
        QTest::newRow("mark 1.5") << "300,m,5,1.5" << 300 << int(Parity::Mark) << 5 << 1;
        QTest::newRow("space") << "921600,S,6,1" << 921600 << int(Parity::Space) << 6 << 0;
        QTest::newRow("unlisted baud") << "250000,n,8,1" << 250000 << int(Parity::None) << 8 << 0;
        QTest::newRow("blanks") << " 9600 , n , 8 , 1 " << 9600 << int(Parity::None) << 8 << 0;
    }
    void good() {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, bits);
        QFETCH(int, stop);
        const LineSettings s = parseSettings(text.toStdString());
        QCOMPARE(s.baud, baud);
        QCOMPARE(int(s.parity), parity);
        QCOMPARE(s.dataBits, bits);
        QCOMPARE(int(s.stopBits), stop);
    }

    void bad_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("says");
        QTest::newRow("nine bits") << "115200,n,9,1"
                                   << "data bits";
        QTest::newRow("parity x") << "115200,x,8,1"
                                  << "parity";
        QTest::newRow("parity word") << "115200,none,8,1"
                                     << "parity";
        QTest::newRow("stop 3") << "115200,n,8,3"
                                << "stop bits";
        QTest::newRow("three fields") << "115200,n,8"
                                      << "expected";
        QTest::newRow("five fields") << "115200,n,8,1,1"
                                     << "expected";
        QTest::newRow("empty") << ""
                               << "expected";
        QTest::newRow("baud word") << "fast,n,8,1"
                                   << "not a whole number";
        QTest::newRow("baud zero") << "0,n,8,1"
                                   << "greater than 0";
        QTest::newRow("baud negative") << "-9600,n,8,1"
                                       << "not a whole number";
        QTest::newRow("baud huge") << "99999999999,n,8,1"
                                   << "too large";
        QTest::newRow("no baud") << ",n,8,1"
                                 << "missing";
        QTest::newRow("semicolons") << "9600;n;8;1"
                                    << "expected";
    }
    void bad() {
        QFETCH(QString, text);
        QFETCH(QString, says);
        try {
            parseSettings(text.toStdString());
            QFAIL("accepted");
        } catch (const SettingsFailure& e) {
            const QString d = QString::fromStdString(e.description());
            QVERIFY2(d.contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(d));
            QVERIFY2(d.contains(says), qPrintable(d));
        }
    }

    void mapping_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        QTest::newRow("Com1") << 1 << "/dev/ttyS0";
        QTest::newRow("Com32") << 32 << "/dev/ttyS31";
        QTest::newRow("Com33") << 33 << "/dev/ttyUSB0";
        QTest::newRow("Com64") << 64 << "/dev/ttyUSB31";
        QTest::newRow("Com65") << 65 << "/dev/ttyACM0";
        QTest::newRow("Com96") << 96 << "/dev/ttyACM31";
        QTest::newRow("Com97") << 97 << "";
        QTest::newRow("Com255") << 255 << "";
        QTest::newRow("Com0") << 0 << "";
        QTest::newRow("Com256") << 256 << "";
    }
    void mapping() {
        QFETCH(int, number);
        QFETCH(QString, path);
        QCOMPARE(QString::fromStdString(devicePathFor(number)), path);
    }

    void binding() {
        bindPort(3, "/dev/pts/9");
        bindPort(200, "/tmp/sim");
        QCOMPARE(devicePathFor(3), std::string("/dev/pts/9"));
        QCOMPARE(devicePathFor(200), std::string("/tmp/sim"));
        QCOMPARE(devicePathFor(4), std::string("/dev/ttyS3"));
        bindPort(3, "");
        QCOMPARE(devicePathFor(3), std::string("/dev/ttyS2"));
        clearPortBindings();
        QVERIFY(!isPortBound(200));
    }

    void bindingOption_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << "Com1=/dev/pts/3" << 1 << "/dev/pts/3";
        QTest::newRow("case") << "COM255=/x" << 255 << "/x";
        QTest::newRow("path with =") << "com2=/a=b" << 2 << "/a=b";
        QTest::newRow("zero") << "Com0=/x" << -1 << "";
        QTest::newRow("too high") << "Com256=/x" << -1 << "";
        QTest::newRow("no number") << "Com=/x" << -1 << "";
        QTest::newRow("no path") << "Com1=" << -1 << "";
        QTest::newRow("no equals") << "Com1" << -1 << "";
        QTest::newRow("other name") << "Tty1=/x" << -1 << "";
    }
    void bindingOption() {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(QString, path);
        const auto b = parsePortBinding(text.toStdString());
        QCOMPARE(b.has_value(), number > 0);
        if (b) {
            QCOMPARE(b->first, number);
            QCOMPARE(QString::fromStdString(b->second), path);
        }
    }
};

QTEST_APPLESS_MAIN(TstSettingsText)
#include "tst_settings_text.moc"
