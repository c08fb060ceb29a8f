#include <QtTest>

#include "logic/codec/send_history.h"

using varnok::codec::SendHistory;

namespace {

QString q(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

// Runs a script of "r:TEXT" (record), "u" (Up) and "d" (Down); Up and Down give what the
// send box would show.
QStringList run(SendHistory& h, const QStringList& script) {
    QStringList shown;
    for (const QString& step : script) {
        if (step.startsWith(QLatin1String("r:"))) {
            h.record(step.mid(2).toStdU16String());
        } else if (step == QLatin1String("u")) {
            shown << q(h.up());
        } else if (step == QLatin1String("d")) {
            shown << q(h.down());
        }
    }
    return shown;
}

} // namespace

class TestSendHistory : public QObject {
    Q_OBJECT
  private slots:
    void walk_data();
    void walk();
    void emptyTextNotRecorded();
    void caseInsensitiveMatch_data();
    void caseInsensitiveMatch();
    void thirtyThreeTexts();
    void fullHistoryKeepsLatestInLastEntry();
};

void TestSendHistory::walk_data() {
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("cursor");

    QTest::newRow("up shows the text before the last send")
        << QStringList{"r:a", "r:b", "r:c", "u"} << QStringList{"b"} << 3 << 1;
    QTest::newRow("up walks to entry 0 and stays")
        << QStringList{"r:a", "r:b", "r:c", "u", "u", "u", "u"} << QStringList{"b", "a", "a", "a"}
        << 3 << 0;
    QTest::newRow("down reaches the empty entry at count")
        << QStringList{"r:a", "r:b", "r:c", "u", "u", "d", "d", "d", "d"}
        << QStringList{"b", "a", "b", "c", "", ""} << 3 << 3;
    QTest::newRow("down right after a send")
        << QStringList{"r:a", "r:b", "d"} << QStringList{""} << 2 << 2;
    QTest::newRow("up on empty history") << QStringList{"u", "d"} << QStringList{"", ""} << 0 << 0;
    QTest::newRow("repeated text resets the cursor without storing")
        << QStringList{"r:a", "r:b", "r:c", "u", "u", "r:B", "u"} << QStringList{"b", "a", "c"} << 3
        << 2;
    QTest::newRow("walk then a new text")
        << QStringList{"r:a", "r:b", "u", "u", "r:z", "u", "d", "d"}
        << QStringList{"a", "a", "b", "z", ""} << 3 << 3;
}

void TestSendHistory::walk() {
    QFETCH(QStringList, script);
    QFETCH(QStringList, shown);
    QFETCH(int, count);
    QFETCH(int, cursor);

    SendHistory h;
    QCOMPARE(run(h, script), shown);
    QCOMPARE(h.count(), count);
    QCOMPARE(h.cursor(), cursor);
}

void TestSendHistory::emptyTextNotRecorded() {
    SendHistory h;
    h.record(u"");
    QCOMPARE(h.count(), 0);
    QCOMPARE(h.cursor(), 0);

    h.record(u"a");
    h.record(u"b");
    h.up();
    QCOMPARE(h.cursor(), 0);
    h.record(u""); // an empty send leaves the cursor where the walk put it
    QCOMPARE(h.cursor(), 0);
    QCOMPARE(h.count(), 2);
}

void TestSendHistory::caseInsensitiveMatch_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("count");

    QTest::newRow("abc ABC") << "abc"
                             << "ABC" << 1;
    QTest::newRow("mixed") << "Hello World"
                           << "hELLO wORLD" << 1;
    QTest::newRow("latin-1 letters") << QString::fromUtf8("ÄÖÜÉ") << QString::fromUtf8("äöüé") << 1;
    QTest::newRow("y diaeresis") << QString::fromUtf8("ÿ") << QString::fromUtf8("Ÿ") << 1;
    QTest::newRow("times and divide differ")
        << QString::fromUtf8("×") << QString::fromUtf8("÷") << 2;
    QTest::newRow("prefix differs") << "abc"
                                    << "abcd" << 2;
    QTest::newRow("trailing blank differs") << "abc"
                                            << "abc " << 2;
    QTest::newRow("digits not folded") << "1"
                                       << "!" << 2;
}

void TestSendHistory::caseInsensitiveMatch() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, count);

    SendHistory h;
    h.record(first.toStdU16String());
    h.record(second.toStdU16String());
    QCOMPARE(h.count(), count);
    QCOMPARE(q(h.entry(0)), first); // the first spelling is kept
}

void TestSendHistory::thirtyThreeTexts() {
    SendHistory h;
    for (int i = 0; i < 33; ++i) {
        h.record(QStringLiteral("text%1").arg(i).toStdU16String());
    }
    QCOMPARE(h.count(), 31);
    for (int i = 0; i <= 30; ++i) {
        QCOMPARE(q(h.entry(i)), QStringLiteral("text%1").arg(i));
    }
    QCOMPARE(q(h.entry(31)), QStringLiteral("text32"));
    QCOMPARE(h.cursor(), 31);
    // All 32 in use: Down stays on entry 31, which is not empty.
    QCOMPARE(q(h.down()), QStringLiteral("text32"));
    QCOMPARE(q(h.up()), QStringLiteral("text30"));
}

void TestSendHistory::fullHistoryKeepsLatestInLastEntry() {
    SendHistory h;
    for (int i = 0; i < 32; ++i) {
        h.record(QStringLiteral("t%1").arg(i).toStdU16String());
    }
    QCOMPARE(q(h.entry(31)), QStringLiteral("t31"));
    // Entry 31 takes part in the search, so the latest text is not written again ...
    h.record(u"T31");
    QCOMPARE(q(h.entry(31)), QStringLiteral("t31"));
    // ... nor is an older one: it is found, and entry 31 keeps the latest.
    h.record(u"t5");
    QCOMPARE(q(h.entry(31)), QStringLiteral("t31"));
    QCOMPARE(q(h.entry(5)), QStringLiteral("t5"));
    h.record(u"new");
    QCOMPARE(q(h.entry(31)), QStringLiteral("new"));
    QCOMPARE(q(h.entry(30)), QStringLiteral("t30"));
    QCOMPARE(h.count(), 31);
}

QTEST_APPLESS_MAIN(TestSendHistory)
#include "tst_send_history.moc"
