// The Telnet stream of a remote serial port: what the wire carries (hexadecimal) read as data
// and commands, split between two chunks at every position; data written and read back; the
// server's answers to port commands; the client's answers to the server's options.
#include <QTest>

#include "logic/serial/telnet_codec.h"

using namespace varnok::serial;
using namespace varnok::serial::telnet;

namespace {

QByteArray bytes(const QByteArray& hex) {
    return QByteArray::fromHex(hex);
}

QString hex(const std::string& s) {
    return QString::fromLatin1(QByteArray::fromStdString(s).toHex(' '));
}

// "data | WILL 3 | SB 44 6b00": what the parser found, the chunk split after `at` bytes.
QString parsed(const std::string& wire, std::size_t at) {
    Parser p;
    std::string data;
    std::vector<Command> commands;
    p.feed(std::string_view(wire).substr(0, at), data, commands);
    p.feed(std::string_view(wire).substr(at), data, commands);
    static const char* const kVerbs[] = {"WILL", "WONT", "DO", "DONT"};
    QString out = hex(data);
    for (const Command& c : commands)
        out += QString(" | ") + (c.verb == kSb ? "SB" : kVerbs[c.verb - kWill]) + " " +
               QString::number(c.option) + (c.verb == kSb ? " " + hex(c.body) : "");
    return out;
}

} // namespace

class TstTelnetCodec : public QObject {
    Q_OBJECT
  private slots:
    void parse_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("result");
        QTest::newRow("IAC IAC is one 0xff data byte") << bytes("41ffff42") << "41 ff 42";
        QTest::newRow("options between data")
            << bytes("41fffb03fffd2c42") << "41 42 | WILL 3 | DO 44";
        QTest::newRow("a sub-negotiation has its IAC IAC undoubled")
            << bytes("fffa2c64ffff61fff041") << "41 | SB 44 64 ff 61";
        QTest::newRow("NOP, GA and a stray SE are dropped")
            << bytes("41fff142fff943fff0") << "41 42 43";
        QTest::newRow("a command inside a sub-negotiation ends it")
            << bytes("fffa2c65fffc0142") << "42 | WONT 1";
        QTest::newRow("an overlong sub-negotiation is dropped, parsing goes on")
            << bytes("fffa2c" + QByteArray(2 * 600, '0') + "fff041fffe01") << "41 | DONT 1";
    }
    void parse() {
        QFETCH(QByteArray, wire);
        QFETCH(QString, result);
        for (qsizetype at = 0; at <= wire.size(); ++at)
            QVERIFY2(parsed(wire.toStdString(), std::size_t(at)) == result,
                     qPrintable(QString::number(at) + ": " +
                                parsed(wire.toStdString(), std::size_t(at))));
    }

    void dataRoundTrip() {
        std::string all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        for (const std::string& data :
             {all, std::string(5, '\xff'), std::string("\xff"), all + all})
            for (std::size_t at = 0; at <= data.size() * 2; at += 7) {
                const std::string wire = escape(data);
                QCOMPARE(wire.size(), data.size() + std::count(data.begin(), data.end(), '\xff'));
                QCOMPARE(parsed(wire, std::min(at, wire.size())), hex(data));
            }
    }

    void commands_data() {
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("expected");
        QTest::newRow("baud 9600, four bytes big endian")
            << hex(setBaudRate(9600)) << "ff fa 2c 01 00 00 25 80 ff f0";
        QTest::newRow("a baud rate's 0xff bytes doubled")
            << hex(setBaudRate(65535)) << "ff fa 2c 01 00 00 ff ff ff ff ff f0";
        QTest::newRow("7 data bits") << hex(setDataSize(7)) << "ff fa 2c 02 07 ff f0";
        QTest::newRow("even parity is 3") << hex(setParity(Parity::Even)) << "ff fa 2c 03 03 ff f0";
        QTest::newRow("1.5 stop bits is 3")
            << hex(setStopSize(StopBits::OneAndHalf)) << "ff fa 2c 04 03 ff f0";
        QTest::newRow("DTR on is control 8") << hex(setControl(kDtrOn)) << "ff fa 2c 05 08 ff f0";
        QTest::newRow("purge the receive buffer")
            << hex(purgeData(kPurgeReceive)) << "ff fa 2c 0c 01 ff f0";
    }
    void commands() {
        QFETCH(QString, wire);
        QFETCH(QString, expected);
        QCOMPARE(wire, expected);
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("result");
        QTest::newRow("baud") << bytes("6500002580") << "1=9600";
        QTest::newRow("data size") << bytes("6607") << "2=7";
        QTest::newRow("several answers in one sub-negotiation")
            << bytes("650001c20066086701680269037001") << "1=115200 2=8 3=1 4=2 5=3 12=1";
        QTest::newRow("modem state") << bytes("6bb0") << "7=176";
        QTest::newRow("signature") << bytes("6473657232") << "0='ser2'";
        QTest::newRow("a one-byte baud code is answered, value unknown") << bytes("6503") << "1=?";
        QTest::newRow("a one-byte baud code packed before the next answer")
            << bytes("65036608") << "1=? 2=8";
        QTest::newRow("baud 0 tells nothing") << bytes("6500000000") << "1=?";
        QTest::newRow("an answer cut short") << bytes("66") << "2=?";
        QTest::newRow("client codes are no answers") << bytes("010203") << "";
        QTest::newRow("garbage after an answer ends the reading") << bytes("6608076607") << "2=8";
    }
    void replies() {
        QFETCH(QByteArray, body);
        QFETCH(QString, result);
        QStringList got;
        for (const Reply& r : readReplies(body.toStdString()))
            got << QString::number(r.command) + "=" +
                       (!r.text.empty()  ? "'" + QString::fromStdString(r.text) + "'"
                        : r.valueUnknown ? "?"
                                         : QString::number(r.value));
        QCOMPARE(got.join(' '), result);
    }

    void negotiate_data() {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("comPort");
        QTest::newRow("a server's greeting: ECHO refused, nothing answered twice")
            << bytes("fffb03fffd03fffb01fffe01fffd00fffb00fffd2cfffd03") << "ff fe 01"
            << "agreed";
        QTest::newRow("unknown options refused") << bytes("fffd18fffbc8") << "ff fc 18 ff fe c8"
                                                 << "";
        QTest::newRow("DONT COM-PORT-OPTION refuses port control") << bytes("fffe2c") << ""
                                                                   << "refused";
        QTest::newRow("binary withdrawn after agreement is acknowledged")
            << bytes("fffb00fffc00fffd00fffe00") << "ff fe 00 ff fc 00"
            << "";
    }
    void negotiate() {
        QFETCH(QByteArray, server);
        QFETCH(QString, answers);
        QFETCH(QString, comPort);
        Negotiator n;
        QCOMPARE(hex(n.start()), QString("ff fb 00 ff fb 03 ff fb 2c ff fd 00 ff fd 03"));
        Parser p;
        std::string data, out;
        std::vector<Command> commands;
        p.feed(server.toStdString(), data, commands);
        for (const Command& c : commands)
            out += n.answer(c.verb, c.option);
        QCOMPARE(hex(out), answers);
        QCOMPARE(QString(n.comPortAgreed()    ? "agreed"
                         : n.comPortRefused() ? "refused"
                                              : ""),
                 comPort);
    }
};

QTEST_MAIN(TstTelnetCodec)
#include "tst_telnet_codec.moc"
