// The delimiter scanner that reads dotted values out of a console reply.
#include <QElapsedTimer>
#include <QTest>

#include "logic/netsetting/extract_tokens.h"

using varnok::netsetting::Extract_Tokens;
using varnok::netsetting::TokenSlots;

namespace {

// The 12 slots as text, an unset slot as <unset> (an empty string stays "").
QStringList render(const TokenSlots& tokens) {
    QStringList out;
    for (const auto& s : tokens)
        out << (s ? QString::fromLatin1(s->data(), qsizetype(s->size()))
                  : QStringLiteral("<unset>"));
    return out;
}

} // namespace

class TestExtractTokens : public QObject {
    Q_OBJECT
  private slots:
    void scan_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("delim");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("expected");
        // The filled slots joined by '|', the rest unset; "" fills none.
        const auto row = [](const char* name, const QByteArray& text, int start, const char* delim,
                            int count, int kind, const QString& filled) {
            QStringList want = filled.isEmpty() ? QStringList() : filled.split('|');
            while (want.size() < 12)
                want << QStringLiteral("<unset>");
            QTest::newRow(name) << text << start << QByteArray(delim) << count << kind << want;
        };
        const QByteArray three = "a=10.0.0.7 b=255.0.0.0 c=10.0.0.1";
        const QString quad = "1|1|1|1|2|2|2|2|";
        const QByteArray five = "=1.1.1.1=2.2.2.2=3.3.3.3=4.4.4.4=5.5.5.5";
        const QByteArray fifteen = "=1=2=3=4=5=6=7=8=9=10=11=12=13=14=15";
        row("address mask gateway", three, 1, "=", 3, 0, "10|0|0|7|255|0|0|0|10|0|0|1");
        row("short values, missing third", "x=1.2\r\ny=3", 1, "=", 3, 0, "1|2|2|2|3|3|3|3");
        row("digits after underscore", "fw_0421.bin info.cfg", 1, "_", 1, 1, "0421");
        row("no delimiter", "ip 192.168.0.1", 1, "=", 3, 0, "");
        row("empty text", "", 1, "=", 3, 0, "");
        row("kind 3", three, 1, "=", 3, 3, "");
        row("kind -1", three, 1, "=", 3, -1, "");
        row("upper-case delimiter finds lower case", "ax5bX6cx7", 1, "X", 3, 1, "5|6|7");
        row("lower-case delimiter finds upper case", "Q12", 1, "q", 1, 1, "12");
        row("latin-1 delimiter ignores case", QByteArray::fromHex("C431E432"), 1, "\xE4", 2, 1,
            "1|2");
        // The dotted split.
        row("two parts repeat the last", "=10.7", 1, "=", 1, 0, "10|7|7|7");
        row("leading dot", "=.5", 1, "=", 1, 0, "|5|5|5");
        row("five parts lose the fifth", "=1.2.3.4.5", 1, "=", 1, 0, "1|2|3|4");
        row("no dot repeats the whole run", "=42", 1, "=", 1, 0, "42|42|42|42");
        row("trailing dot", "=1.", 1, "=", 1, 0, "1|||");
        row("blank after delimiter: empty run", "ip= 1.2.3.4", 1, "=", 1, 0, "|||");
        row("kind 1 stops at the dot", "v=12.5", 1, "=", 1, 1, "12");
        row("kind 2 ascii letters only", "n=ab\xE9z", 1, "=", 1, 2, "ab");
        // A reply that ends right after a delimiter.
        row("ends after the second delimiter", "a=1.2.3.4 b=", 1, "=", 3, 0, "1|2|3|4||||");
        row("ends after delimiter, kind 1", "x=1 y=", 1, "=", 2, 1, "1|");
        row("delimiters only", "===", 1, "=", 3, 0, "|||||||||||");
        // Start applies to every search, each time within what is left of the text.
        row("start skips into the remainder", "a=1 b=2 c=3", 5, "=", 3, 1, "2");
        row("negative start is taken as 1", "=1=2", -7, "=", 2, 1, "1|2");
        row("start past the end", "=1=2", 100, "=", 2, 1, "");
        row("empty delimiter finds nothing", three, 1, "", 3, 0, "");
        // Counts outside 1..12.
        row("count 0 processes every occurrence", five, 1, "=", 0, 0, quad + "5|5|5|5");
        row("count 4: the fourth lands in the last group", five, 1, "=", 4, 0, quad + "4|4|4|4");
        row("count 13 of 15, kind 1 keeps 12", fifteen, 1, "=", 13, 1,
            "1|2|3|4|5|6|7|8|9|10|11|12");
        row("count -1, kind 2", "=a=b=c", 1, "=", -1, 2, "a|b|c");
        // Replies longer than 32767 characters.
        row("values after 40000 characters",
            QByteArray(40000, 'x') + "ip=192.168.0.1 mask=255.255.255.0 gw=192.168.0.254", 1, "=",
            3, 0, "192|168|0|1|255|255|255|0|192|168|0|254");
        row("run of 40000 digits", "=" + QByteArray(40000, '7') + "=1", 1, "=", 2, 1,
            QString(40000, '7') + "|1");
        row("start past 32767", QByteArray("=1").repeated(20000) + "=9", 40001, "=", 1, 1, "9");
    }
    void scan() {
        QFETCH(QByteArray, text);
        QFETCH(int, start);
        QFETCH(QByteArray, delim);
        QFETCH(int, count);
        QFETCH(int, kind);
        const TokenSlots tokens =
            Extract_Tokens(text.toStdString(), start, delim.toStdString(), count, kind);
        QTEST(render(tokens), "expected");
    }

    // Every '.' is a delimiter and also inside the class, so each run reaches the end of the
    // text: scanning each run again would be quadratic. A million characters must stay quick.
    void longRunsStayLinear() {
        for (const auto& [c, kind] : {std::pair{'.', 0}, std::pair{'=', 1}}) {
            QElapsedTimer timer;
            timer.start();
            const TokenSlots tokens = Extract_Tokens(std::string(1000000, c), 1, {&c, 1}, 0, kind);
            QVERIFY2(timer.elapsed() < 5000, "scan is not linear");
            QCOMPARE(render(tokens), QStringList(12, QString()));
        }
    }
};

QTEST_APPLESS_MAIN(TestExtractTokens)
#include "tst_extract_tokens.moc"
