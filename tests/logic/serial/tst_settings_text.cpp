// Texts typed for a port: settings read and written back, or "! " and the refusal; "--port
// ComN=path" as "N path" ("" if malformed); "ComN" bound to each path after it ("-" unbinds) as its
// device.
#include <QTest>

#include "logic/serial/network_port.h"
#include "logic/serial/port_map.h"
#include "logic/serial/settings_text.h"

using namespace varnok::serial;

class TstSettingsText : public QObject {
    Q_OBJECT
  private slots:
    void texts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        const auto row = [](const char* name, const QString& text, const QString& result) {
            QTest::newRow(name) << text << result;
        };
        row("even 7 2, upper case", "115200,E,7,2", "115200,e,7,2");
        row("mark 5 1.5", "300,m,5,1.5", "300,m,5,1.5");
        row("space 6, upper case", "921600,S,6,1", "921600,s,6,1");
        row("unlisted baud, odd", "250000,o,8,1", "250000,o,8,1");
        row("blanks around fields", " 9600 , n , 8 , 1 ", "9600,n,8,1");
        row("nine bits", "115200,n,9,1", "! data bits");
        row("parity x", "115200,x,8,1", "! parity");
        row("parity word", "115200,none,8,1", "! parity");
        row("stop 3", "115200,n,8,3", "! stop bits");
        row("three fields", "115200,n,8", "! expected");
        row("five fields", "115200,n,8,1,1", "! expected");
        row("baud word", "fast,n,8,1", "! not a whole number");
        row("baud negative", "-9600,n,8,1", "! not a whole number");
        row("baud zero", "0,n,8,1", "! greater than 0");
        row("baud past 32 bits", "99999999999,n,8,1", "! too large");
        row("no baud", ",n,8,1", "! missing");
        row("option in capitals", "--port COM255=/x", "255 /x");
        row("option path with =", "--port Com1=/a=b", "1 /a=b");
        for (const char* bad : {"Com0=/x", "Com256=/x", "Com=/x", "Com1=", "Com1", "Tty1=/x"})
            row(bad, QStringLiteral("--port ") + bad, "");
        for (const char* rule :
             {"0=", "1=/dev/ttyS0", "32=/dev/ttyS31", "33=/dev/ttyUSB0", "64=/dev/ttyUSB31",
              "65=/dev/ttyACM0", "96=/dev/ttyACM31", "97=", "256="})
            row(rule, "Com" + QString(rule).section('=', 0, 0), QString(rule).section('=', 1));
        row("bound, the last binding wins", "Com200 /x /tmp/sim", "/tmp/sim");
        // Network ports: read and written back, or "! " and what the refusal names.
        row("rfc2217 by address", "net rfc2217://127.0.0.1:7001", "rfc2217://127.0.0.1:7001");
        row("raw tcp by name", "net tcp://localhost:2000", "tcp://localhost:2000");
        row("modbus tcp takes 502 when no port is given", "net modbus-tcp://127.0.0.1",
            "modbus-tcp://127.0.0.1");
        row("modbus tcp with its port", "net modbus-tcp://127.0.0.1:1502",
            "modbus-tcp://127.0.0.1:1502");
        row("ipv6 in brackets", "net tcp://[::1]:7000", "tcp://[::1]:7000");
        row("ipv6 modbus default port", "net modbus-tcp://[::1]", "modbus-tcp://[::1]");
        row("unknown scheme named", "net telnet://host:23", "! unknown scheme \"telnet\"");
        row("port 0 refused", "net tcp://host:0", "! not from 1 to 65535");
        row("port 65536 refused", "net rfc2217://host:65536", "! not from 1 to 65535");
        row("port not a number", "net tcp://host:http", "! not from 1 to 65535");
        row("rfc2217 needs its port", "net rfc2217://host", "! the port is missing");
        row("empty port after the colon", "net tcp://host:", "! not from 1 to 65535");
        row("no host", "net tcp://:7000", "! the host is missing");
        row("nothing after the scheme", "net rfc2217://", "! the host is missing");
        row("ipv6 without brackets", "net tcp://::1:7000", "! IPv6 goes in brackets");
        row("ipv6 without its closing bracket", "net tcp://[::1:7000", "! closing");
        row("no scheme", "net host:7000", "! scheme://host:port");
        row("unbound again", "Com3 /dev/pts/9 -", "/dev/ttyS2");
    }
    void texts() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        const QStringList words = text.split(' ');
        if (words[0] == "net") {
            std::string why;
            const auto port = parseNetworkPort(words[1].toStdString(), &why);
            if (result.startsWith("! "))
                QVERIFY2(!port && QString::fromStdString(why).contains(result.mid(2)), why.c_str());
            else
                QCOMPARE(port ? QString::fromStdString(networkPortText(*port))
                              : "!" + QString::fromStdString(why),
                         result);
            QCOMPARE(looksLikeNetworkPort(words[1].toStdString()), words[1].contains("://"));
        } else if (words[0] == "--port") {
            const auto b = parsePortBinding(words[1].toStdString());
            QCOMPARE(b ? QString::number(b->first) + ' ' + b->second.c_str() : "", result);
        } else if (words[0].startsWith("Com")) {
            const int number = words[0].mid(3).toInt();
            for (const QString& path : words.mid(1))
                bindPort(number, path == "-" ? "" : path.toStdString());
            QCOMPARE(QString::fromStdString(devicePathFor(number)), result);
            clearPortBindings();
            QVERIFY(!isPortBound(number));
        } else {
            try {
                const LineSettings s = parseSettings(text.toStdString());
                // Read and written back: the text a setting is shown and reused in.
                QCOMPARE(QString::fromStdString(settingsText(s)), result);
            } catch (const SettingsFailure& e) {
                const QString d = QString::fromStdString(e.description());
                QVERIFY2(result.startsWith("! ") && d.contains(result.mid(2)) &&
                             d.contains('"' + text + '"'),
                         qPrintable(d));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TstSettingsText)
#include "tst_settings_text.moc"
