#include <QtTest>

#include "logic/netsetting/extract_tokens.h"

using varnok::netsetting::Extract_Tokens;
using varnok::netsetting::TokenSlots;

namespace {

const QString U = QStringLiteral("<unset>");

// The 12 slots as text, an unset slot as <unset> (an empty string stays "").
QStringList render(const TokenSlots& tokens) {
    QStringList out;
    for (const auto& s : tokens) {
        out << (s ? QString::fromLatin1(s->data(), qsizetype(s->size())) : U);
    }
    return out;
}

QStringList slotsOf(QStringList filled) {
    while (filled.size() < 12) {
        filled << U;
    }
    return filled;
}

QByteArray repeated(const QByteArray& piece, int times) {
    return piece.repeated(times);
}

} // namespace

class TestExtractTokens : public QObject {
    Q_OBJECT
  private slots:
    void scan_data();
    void scan();
    void longRunsStayLinear();
};

void TestExtractTokens::scan_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<QByteArray>("delim");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("expected");

    const QByteArray three = "a=10.0.0.7 b=255.0.0.0 c=10.0.0.1";
    QTest::newRow("address mask gateway")
        << three << 1 << QByteArray("=") << 3 << 0
        << slotsOf({"10", "0", "0", "7", "255", "0", "0", "0", "10", "0", "0", "1"});
    QTest::newRow("count 1 fills one group")
        << three << 1 << QByteArray("=") << 1 << 0 << slotsOf({"10", "0", "0", "7"});
    QTest::newRow("short values and missing third")
        << QByteArray("x=1.2\r\ny=3") << 1 << QByteArray("=") << 3 << 0
        << slotsOf({"1", "2", "2", "2", "3", "3", "3", "3"});
    QTest::newRow("only the first three of four")
        << QByteArray("p=1.1.1.1 q=2.2.2.2 r=3.3.3.3 s=4.4.4.4") << 1 << QByteArray("=") << 3 << 0
        << slotsOf({"1", "1", "1", "1", "2", "2", "2", "2", "3", "3", "3", "3"});
    QTest::newRow("digits after underscore") << QByteArray("fw_0421.bin info.cfg") << 1
                                             << QByteArray("_") << 1 << 1 << slotsOf({"0421"});
    QTest::newRow("letters after dots") << QByteArray("fw_0421.bin info.cfg") << 1
                                        << QByteArray(".") << 2 << 2 << slotsOf({"bin", "cfg"});
    QTest::newRow("fewer delimiters than count")
        << QByteArray("A.B") << 1 << QByteArray(".") << 2 << 2 << slotsOf({"B"});
    QTest::newRow("no delimiter") << QByteArray("ip 192.168.0.1") << 1 << QByteArray("=") << 3 << 0
                                  << slotsOf({});
    QTest::newRow("empty text") << QByteArray() << 1 << QByteArray("=") << 3 << 0 << slotsOf({});
    QTest::newRow("kind 3") << three << 1 << QByteArray("=") << 3 << 3 << slotsOf({});
    QTest::newRow("kind -1") << three << 1 << QByteArray("=") << 3 << -1 << slotsOf({});
    QTest::newRow("upper-case delimiter finds lower case")
        << QByteArray("ax5bX6cx7") << 1 << QByteArray("X") << 3 << 1 << slotsOf({"5", "6", "7"});
    QTest::newRow("lower-case delimiter finds upper case")
        << QByteArray("Q12") << 1 << QByteArray("q") << 1 << 1 << slotsOf({"12"});
    QTest::newRow("latin-1 delimiter ignores case")
        << QByteArray("\xC4"
                      "1\xE4"
                      "2")
        << 1 << QByteArray("\xE4") << 2 << 1 << slotsOf({"1", "2"});

    // The dotted split.
    QTest::newRow("two parts repeat the last")
        << QByteArray("=10.7") << 1 << QByteArray("=") << 1 << 0 << slotsOf({"10", "7", "7", "7"});
    QTest::newRow("leading dot") << QByteArray("=.5") << 1 << QByteArray("=") << 1 << 0
                                 << slotsOf({"", "5", "5", "5"});
    QTest::newRow("five parts lose the fifth") << QByteArray("=1.2.3.4.5") << 1 << QByteArray("=")
                                               << 1 << 0 << slotsOf({"1", "2", "3", "4"});
    QTest::newRow("no dot repeats the whole run")
        << QByteArray("=42") << 1 << QByteArray("=") << 1 << 0 << slotsOf({"42", "42", "42", "42"});
    QTest::newRow("trailing dot") << QByteArray("=1.") << 1 << QByteArray("=") << 1 << 0
                                  << slotsOf({"1", "", "", ""});
    QTest::newRow("blank after delimiter: empty run")
        << QByteArray("ip= 1.2.3.4") << 1 << QByteArray("=") << 1 << 0 << slotsOf({"", "", "", ""});
    QTest::newRow("kind 1 stops at the dot")
        << QByteArray("v=12.5") << 1 << QByteArray("=") << 1 << 1 << slotsOf({"12"});
    QTest::newRow("kind 2 ascii letters only")
        << QByteArray("n=ab\xE9z") << 1 << QByteArray("=") << 1 << 2 << slotsOf({"ab"});

    // A reply that ends right after a delimiter.
    QTest::newRow("ends after delimiter, kind 0")
        << QByteArray("ip=") << 1 << QByteArray("=") << 3 << 0 << slotsOf({"", "", "", ""});
    QTest::newRow("ends after the second delimiter")
        << QByteArray("a=1.2.3.4 b=") << 1 << QByteArray("=") << 3 << 0
        << slotsOf({"1", "2", "3", "4", "", "", "", ""});
    QTest::newRow("ends after delimiter, kind 1")
        << QByteArray("x=") << 1 << QByteArray("=") << 2 << 1 << slotsOf({""});
    QTest::newRow("delimiters only") << QByteArray("===") << 1 << QByteArray("=") << 3 << 0
                                     << slotsOf({"", "", "", "", "", "", "", "", "", "", "", ""});

    // Start applies to every search, each time within what is left of the text.
    QTest::newRow("start skips into the remainder")
        << QByteArray("a=1 b=2 c=3") << 5 << QByteArray("=") << 3 << 1 << slotsOf({"2"});
    QTest::newRow("start 0 is taken as 1")
        << QByteArray("=1=2") << 0 << QByteArray("=") << 2 << 1 << slotsOf({"1", "2"});
    QTest::newRow("negative start is taken as 1")
        << QByteArray("=1=2") << -7 << QByteArray("=") << 2 << 1 << slotsOf({"1", "2"});
    QTest::newRow("start past the end")
        << QByteArray("=1=2") << 100 << QByteArray("=") << 2 << 1 << slotsOf({});
    QTest::newRow("empty delimiter finds nothing")
        << three << 1 << QByteArray() << 3 << 0 << slotsOf({});

    // Counts outside 1..12.
    const QByteArray five = "=1.1.1.1=2.2.2.2=3.3.3.3=4.4.4.4=5.5.5.5";
    QTest::newRow("count 0 processes every occurrence")
        << five << 1 << QByteArray("=") << 0 << 0
        << slotsOf({"1", "1", "1", "1", "2", "2", "2", "2", "5", "5", "5", "5"});
    QTest::newRow("count 4, kind 0: the fourth lands in the last group")
        << five << 1 << QByteArray("=") << 4 << 0
        << slotsOf({"1", "1", "1", "1", "2", "2", "2", "2", "4", "4", "4", "4"});
    QTest::newRow("count 100 with five occurrences")
        << five << 1 << QByteArray("=") << 100 << 0
        << slotsOf({"1", "1", "1", "1", "2", "2", "2", "2", "5", "5", "5", "5"});
    QTest::newRow("count 13 of 15, kind 0")
        << repeated("=", 1) + "1=2=3=4=5=6=7=8=9=10=11=12=13=14=15" << 1 << QByteArray("=") << 13
        << 0 << slotsOf({"1", "1", "1", "1", "2", "2", "2", "2", "13", "13", "13", "13"});
    QTest::newRow("count 13 of 15, kind 1 keeps 12")
        << QByteArray("=1=2=3=4=5=6=7=8=9=10=11=12=13=14=15") << 1 << QByteArray("=") << 13 << 1
        << slotsOf({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"});
    QTest::newRow("count 0, kind 1")
        << QByteArray("=1=2") << 1 << QByteArray("=") << 0 << 1 << slotsOf({"1", "2"});
    QTest::newRow("count -1, kind 2")
        << QByteArray("=a=b=c") << 1 << QByteArray("=") << -1 << 2 << slotsOf({"a", "b", "c"});

    // Replies longer than 32767 characters.
    QTest::newRow("values after 40000 characters")
        << repeated("x", 40000) + "ip=192.168.0.1 mask=255.255.255.0 gw=192.168.0.254" << 1
        << QByteArray("=") << 3 << 0
        << slotsOf({"192", "168", "0", "1", "255", "255", "255", "0", "192", "168", "0", "254"});
    QTest::newRow("run of 40000 digits")
        << "=" + repeated("7", 40000) + "=1" << 1 << QByteArray("=") << 2 << 1
        << slotsOf({QString(40000, QChar('7')), "1"});
    QTest::newRow("start past 32767")
        << repeated("=1", 20000) + "=9" << 40001 << QByteArray("=") << 1 << 1 << slotsOf({"9"});
}

void TestExtractTokens::scan() {
    QFETCH(QByteArray, text);
    QFETCH(int, start);
    QFETCH(QByteArray, delim);
    QFETCH(int, count);
    QFETCH(int, kind);
    QFETCH(QStringList, expected);

    const TokenSlots tokens =
        Extract_Tokens(std::string_view(text.constData(), std::size_t(text.size())), start,
                       std::string_view(delim.constData(), std::size_t(delim.size())), count, kind);
    QCOMPARE(render(tokens), expected);
}

void TestExtractTokens::longRunsStayLinear() {
    // Every '.' is a delimiter and also inside the class, so each run reaches the end of the
    // text; scanning each run would be quadratic. A million characters must still be quick.
    const std::string dots(1000000, '.');
    QElapsedTimer timer;
    timer.start();
    const TokenSlots tokens = Extract_Tokens(dots, 1, ".", 0, 0);
    QVERIFY2(timer.elapsed() < 5000, "scan is not linear");
    QCOMPARE(render(tokens), QStringList(12, QString()));

    const std::string equals(1000000, '=');
    timer.restart();
    const TokenSlots same = Extract_Tokens(equals, 1, "=", 0, 1);
    QVERIFY2(timer.elapsed() < 5000, "scan is not linear");
    QCOMPARE(render(same), QStringList(12, QString()));
}

QTEST_APPLESS_MAIN(TestExtractTokens)
#include "tst_extract_tokens.moc"
