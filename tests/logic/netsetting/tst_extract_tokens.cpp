// The N500 console's rules: the delimiter scanner that reads dotted values out of a reply,
// the three values found in the answer to a read, and the command that writes them.
#include <QElapsedTimer>
#include <QTest>

#include "logic/netsetting/console_protocol.h"
#include "logic/netsetting/extract_tokens.h"

using varnok::netsetting::Extract_Tokens;
using varnok::netsetting::TokenSlots;

namespace {

// The 12 slots joined by '|', an unset one as '?', the unset ones at the end left out.
QString render(const TokenSlots& tokens) {
    QStringList out;
    for (const auto& s : tokens)
        out << (s ? QString::fromStdString(*s) : QString("?"));
    while (!out.isEmpty() && out.last() == "?")
        out.removeLast();
    return out.join('|');
}

} // namespace

class TestExtractTokens : public QObject {
    Q_OBJECT
  private slots:
    void scan_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("delim");
        QTest::addColumn<QList<int>>("args"); // start, count, kind
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& text, int start, const char* delim,
                            int count, int kind, const QString& filled) {
            QTest::newRow(name) << text << QByteArray(delim) << QList<int>{start, count, kind}
                                << filled;
        };
        const QString quad = "1|1|1|1|2|2|2|2|";
        const QByteArray five = "=1.1.1.1=2.2.2.2=3.3.3.3=4.4.4.4=5.5.5.5";
        row("short values, missing third", "x=1.2\r\ny=3", 1, "=", 3, 0, "1|2|2|2|3|3|3|3");
        row("no delimiter", "ip 192.168.0.1", 1, "=", 3, 0, "");
        row("kind 3 fills nothing", "a=1.2.3.4", 1, "=", 3, 3, "");
        row("upper-case delimiter finds lower case", "ax5bX6cx7", 1, "X", 3, 1, "5|6|7");
        row("lower-case delimiter finds upper case", "Q12", 1, "q", 1, 1, "12");
        row("latin-1 delimiter, any case", QByteArray::fromHex("C431E432"), 1, "\xE4", 2, 1, "1|2");
        row("leading dot", "=.5", 1, "=", 1, 0, "|5|5|5");
        row("five parts lose the fifth", "=1.2.3.4.5", 1, "=", 1, 0, "1|2|3|4");
        row("trailing dot", "=1.", 1, "=", 1, 0, "1|||");
        row("blank after delimiter: empty run", "ip= 1.2.3.4", 1, "=", 1, 0, "|||");
        row("kind 1 stops at the dot", "v=12.5", 1, "=", 1, 1, "12");
        row("kind 2 ascii letters only", "n=ab\xE9z", 1, "=", 1, 2, "ab");
        row("ends after delimiter, kind 1", "x=1 y=", 1, "=", 2, 1, "1|");
        row("delimiters only", "===", 1, "=", 3, 0, "|||||||||||");
        // Start applies to every search, each time within what is left of the text.
        row("start skips into the remainder", "a=1 b=2 c=3", 5, "=", 3, 1, "2");
        row("negative start is taken as 1", "=1=2", -7, "=", 2, 1, "1|2");
        row("start past the end", "=1=2", 100, "=", 2, 1, "");
        row("empty delimiter finds nothing", "=1", 1, "", 3, 0, "");
        row("count 0 processes every occurrence", five, 1, "=", 0, 0, quad + "5|5|5|5");
        row("count 4: the fourth lands in the last group", five, 1, "=", 4, 0, quad + "4|4|4|4");
        row("count 13 of 15, kind 1 keeps 12", "=1=2=3=4=5=6=7=8=9=10=11=12=13=14=15", 1, "=", 13,
            1, "1|2|3|4|5|6|7|8|9|10|11|12");
        row("count -1, kind 2", "=a=b=c", 1, "=", -1, 2, "a|b|c");
        // Replies longer than 32767 characters; a million characters in one run stay quick.
        row("values after 40000 characters", QByteArray(40000, 'x') + "a=1.2.3.4 b=5.6", 1, "=", 2,
            0, "1|2|3|4|5|6|6|6");
        row("run of 40000 digits", "=" + QByteArray(40000, '7') + "=1", 1, "=", 2, 1,
            QString(40000, '7') + "|1");
        row("start past 32767", QByteArray("=1").repeated(20000) + "=9", 40001, "=", 1, 1, "9");
        // A '.' delimiter is inside the class: each run reaches the end, so no run is rescanned.
        row("a million dots", QByteArray(1000000, '.'), 1, ".", 0, 0, "|||||||||||");
        row("a million delimiters, kind 1", QByteArray(1000000, '='), 1, "=", 0, 1, "|||||||||||");
    }
    void scan() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, delim);
        QFETCH(QList<int>, args);
        QElapsedTimer timer;
        timer.start();
        const TokenSlots tokens =
            Extract_Tokens(text.toStdString(), args[0], delim.toStdString(), args[1], args[2]);
        QVERIFY2(timer.elapsed() < 5000, "scan is not linear");
        QTEST(render(tokens), "expected");
    }

    // The answer to "ip\rmask\rgateway\r": twelve boxes, or the names of what is missing.
    void reply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("boxes"); // the twelve joined by '|'
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("message"); // what GET says after waiting 200 ms
        const QString none = "|||||||||||";
        const QString kept = " The boxes keep what they had.";
        QTest::newRow("three values")
            << QByteArray("IP=10.0.0.7\r\nMASK=255.0.0.0\r\nGATEWAY=10.0.0.1")
            << "10|0|0|7|255|0|0|0|10|0|0|1"
            << ""
            << "";
        QTest::newRow("no reply: all three missing")
            << QByteArray() << none << "IP, Mask and Gateway"
            << "GET: no reply within 200 ms, so IP, Mask and Gateway are missing." + kept;
        QTest::newRow("a reply without '=': it lacks all three, it is no silence")
            << QByteArray("?\r\n") << none << "IP, Mask and Gateway"
            << "GET: the reply lacks IP, Mask and Gateway." + kept;
        QTest::newRow("cut after the mask: the gateway is named missing, no box blanked")
            << QByteArray("IP=1.2.3.4\r\nMASK=255.0.0.0\r\n") << "1|2|3|4|255|0|0|0||||"
            << "Gateway"
            << "GET: the reply lacks Gateway." + kept;
        QTest::newRow("cut right after the third '=': the gateway is missing")
            << QByteArray("IP=1.2.3.4 MASK=5.6.7.8 GATEWAY=") << "1|2|3|4|5|6|7|8||||"
            << "Gateway"
            << "GET: the reply lacks Gateway." + kept;
        QTest::newRow("a short value is a value")
            << QByteArray("=1.2.3.4=5.6.7.8=.5") << "1|2|3|4|5|6|7|8||5|5|5"
            << ""
            << "";
    }
    void reply() {
        QFETCH(QByteArray, reply);
        const varnok::netsetting::ConsoleValues v =
            varnok::netsetting::scanReply(reply.toStdString());
        QStringList boxes;
        for (const std::string& b : v.boxes)
            boxes << QString::fromStdString(b);
        QTEST(boxes.join('|'), "boxes");
        QTEST(QString::fromStdString(varnok::netsetting::joinNames(v.missing)), "missing");
        QTEST(QString::fromStdString(varnok::netsetting::readProblem(reply.toStdString(), v, 200)),
              "message");
    }

    // What SET writes, or why it writes nothing (the first box at fault, by name).
    void setCommand_data() {
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("problem");
        QTest::newRow("twelve numbers")
            << "192|168|0|1|255|255|255|0|192|168|0|254"
            << QByteArray("ip 192.168.0.1\rmask 255.255.255.0\rgateway 192.168.0.254\r") << "";
        QTest::newRow("an empty box refuses SET by name: an empty part makes \"ip 10.0.0.\"")
            << "10|0|0||255|0|0|0|10|0|0|1" << QByteArray()
            << "IP, box 4 is empty: type a number from 0 to 255";
        QTest::newRow("an empty gateway refuses SET at its first box: \"gateway ...\" goes out")
            << "10|0|0|7|255|0|0|0||||" << QByteArray()
            << "Gateway, box 1 is empty: type a number from 0 to 255";
        QTest::newRow("past 255") << "10|0|0|7|255|0|0|0|10|0|0|256" << QByteArray()
                                  << "Gateway, box 4: 256 is not a number from 0 to 255";
    }
    void setCommand() {
        QFETCH(QString, boxes);
        varnok::netsetting::Boxes typed;
        const QStringList parts = boxes.split('|');
        for (int i = 0; i < 12; ++i)
            typed[size_t(i)] = parts[i].toStdString();
        const std::string problem = varnok::netsetting::boxesProblem(typed);
        QTEST(QString::fromStdString(problem), "problem");
        if (problem.empty())
            QTEST(QByteArray::fromStdString(varnok::netsetting::setCommand(typed)), "command");
    }
};

QTEST_APPLESS_MAIN(TestExtractTokens)
#include "tst_extract_tokens.moc"
