// Quick Send in the engine layer over a pseudo-terminal pair: entries, a sequence and answers
// on the wire and in the counters, a paced file, a far end that stops reading, failures told
// once.
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <limits>

#include "engine/quick_send.h"
#include "engine/quick_send_keeper.h"
#include "engine/session.h"
#include "support/engine_rig.h"
#include "support/files.h"

using namespace varnok;
using namespace varnok::engine;
using quicksend::Entry;
using quicksend::Pace;

namespace {

QuickSendBook book() {
    QuickSendBook b;
    b.entries = {{u"poll", u"1 3 0 0 0 1", quicksend::DataForm::Hex, quicksend::LineEnd::None,
                  quicksend::Checksum::ModbusCrc16},
                 {u"ok", u"OK", {}, quicksend::LineEnd::CRLF},
                 {u"x", u"x\\x00"}};
    b.sequences = {{u"two", {{u"ok", 0}, {u"x", 30}}, 2}};
    b.rules = {{{quicksend::PatternKind::Text, u"PING\\r"}, u"ok"},
               {{quicksend::PatternKind::Regex, u"T=[0-9]+;"}, u"x", 40}};
    return b;
}

struct Rig : test::EngineRig {
    QuickSender q{&e};
    QStringList failures;
    qint64 total = 0;
    Rig() {
        QObject::connect(&q, &QuickSender::failed, &q, [this](const QString& t) { failures << t; });
        QObject::connect(&e, &TerminalEngine::sendCountersChanged, &q,
                         [this](std::int32_t, std::int32_t t) { total = t; });
        QVERIFY(open());
        q.setBook(book());
    }
    // A command's failure joins those told, where the user reads it.
    bool told(const engine::Outcome& outcome) {
        if (!outcome.failure().isEmpty())
            failures << outcome.failure();
        return outcome.ok();
    }
};

} // namespace

class TstQuickSend : public QObject {
    Q_OBJECT
  private slots:
    void wire_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArrayList>("arrive"); // what the device sends, read by read
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("fired");
        QTest::addRow("entry with its CRC")
            << "entry" << QByteArrayList{} << QByteArray("\x01\x03\x00\x00\x00\x01\x84\x0A", 8)
            << 0;
        QTest::addRow("sequence run twice")
            << "sequence" << QByteArrayList{} << QByteArray("OK\r\nx\0OK\r\nx\0", 12) << 0;
        QTest::addRow("answer to a pattern split over two reads")
            << "" << QByteArrayList{"..PI", "NG\r.."} << QByteArray("OK\r\n") << 1;
        QTest::addRow("delayed answer to an expression, one per match")
            << "" << QByteArrayList{"T=1", "2;T=3;"} << QByteArray("x\0x\0", 4) << 2;
        QTest::addRow(
            "manual receive: rules answer as the bytes arrive, the manual read keeps them")
            << "manual" << QByteArrayList{"PING\r"} << QByteArray("OK\r\n") << 1;
        QTest::addRow("rules off: no answer")
            << "off" << QByteArrayList{"PING\r"} << QByteArray() << 0;
    }
    void wire() {
        QFETCH(QString, action);
        QFETCH(QByteArrayList, arrive);
        QFETCH(QByteArray, wire);
        Rig r;
        QSignalSpy steps(&r.q, &QuickSender::sequenceStep);
        if (action == "entry")
            QVERIFY(r.told(r.q.sendEntry(0)));
        if (action == "sequence")
            r.q.runSequence(0);
        if (action == "off")
            r.q.setRulesEnabled(false);
        if (action == "manual")
            r.e.manualRead();
        for (const QByteArray& a : arrive) {
            r.pty.write(a);
            QTRY_VERIFY(r.received.endsWith(a) || action == "manual");
        }
        QCOMPARE(r.pty.readExactly(wire.size(), 3000), wire);
        if (action == "manual") { // answered before the read, which still shows what came
            QCOMPARE(r.received, QByteArray());
            r.e.manualRead();
            QCOMPARE(r.e.displayText(), "PING\r");
        }
        QCOMPARE(r.pty.readFor(100), QByteArray());
        QCOMPARE(r.sent, wire);
        QCOMPARE(r.total, wire.size());
        QCOMPARE(r.failures, QStringList());
        if (action == "sequence") // each step highlighted, then the end
            QCOMPARE(steps.size(), 5);
        QTEST(r.q.firedCount(0) + r.q.firedCount(1), "fired");
    }

    void failuresToldOnce() {
        Rig r;
        QuickSendBook b = book();
        b.entries[2].periodMs = 20;
        r.q.setBook(b);
        r.q.setRepeating(2, true);
        QTRY_VERIFY(r.sent.size() >= 4);
        r.e.close(); // the repeat stops with the port, without a word of its own
        QVERIFY(!r.q.repeating(2));
        QTest::qWait(100);
        QCOMPARE(r.failures, QStringList());
        QVERIFY(r.open()); // a pseudo-terminal has no line to break and no RTS
        r.q.sendBreak(QuickSender::kBreakMs);
        QVERIFY(!r.told(r.q.setRts(true)));
        QCOMPARE(r.failures.size(), 2);
        QVERIFY2(r.failures[0].contains("has no serial line"), qPrintable(r.failures[0]));
        QVERIFY2(r.failures[1].contains("has no modem lines"), qPrintable(r.failures[1]));
        QVERIFY(!r.q.inBreak());
        b.rules[0].entry = u"nothing"; // a file naming a missing entry is refused whole
        QCOMPARE(checkBook(b), "rule 1 (\"PING\\r\"): it names no entry (\"nothing\")");
    }

    void unmended_data() {
        QTest::addColumn<QString>("use");
        for (const char* use : {"button or key", "repeat", "sequence", "rule"})
            QTest::addRow("%s: an entry that does not parse sends nothing and says so once", use)
                << use;
    }
    void unmended() {
        QFETCH(QString, use);
        Rig r;
        QuickSendBook b = book();
        b.entries[1].data = u"OK\\q"; // "ok" half typed: an unknown escape
        b.entries[1].periodMs = use == "repeat" ? 20 : 0;
        r.q.setBook(b);
        if (use == "button or key")
            QVERIFY(!r.told(r.q.sendEntry(1)));
        if (use == "repeat")
            r.q.setRepeating(1, true);
        if (use == "sequence")
            r.q.runSequence(0);
        if (use == "rule")
            r.pty.write("PING\rPING\r");
        QTRY_COMPARE(r.failures.size(), 1);
        QCOMPARE(r.pty.readFor(200), QByteArray());
        QCOMPARE(r.failures.size(), 1);
        QVERIFY2(r.failures[0].contains("\"ok\" is not in use until mended: character 3: unknown"),
                 qPrintable(r.failures[0]));
    }

    void echoFlood() {
        Rig r;
        QuickSendBook b = book();
        b.rules = {{{quicksend::PatternKind::Text, u"P"}, u"ok"}};
        r.q.setBook(b);
        QSignalSpy off(&r.q, &QuickSender::ruleSwitchedOff);
        r.pty.write(QByteArray(200, 'P')); // an echo of its own answers, as fast as they come
        QCOMPARE(r.pty.readExactly(50 * 4, 3000).size(), 50 * 4);
        QCOMPARE(r.pty.readFor(200), QByteArray());
        QCOMPARE(r.q.firedCount(0), 50); // at most 50 a second, then off with one word
        QCOMPARE(off.size(), 1);
        QVERIFY(!r.q.book().rules[0].enabled);
        QCOMPARE(r.failures, QStringList{"The auto-answer rule 1 (\"P\") fired more than 50 times "
                                         "in a second and is now off."});
    }

    void bookRules_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("after"); // entries, then the steps' and rules' entries
        QTest::addRow("rename goes through steps and rules") << "rename x y"
                                                             << "poll ok y[F1] | ok y | ok y";
        QTest::addRow("rename to a taken name is refused and changes nothing")
            << "rename x ok"
            << "poll ok x[F1] | ok x | ok x";
        QTest::addRow("remove takes the steps and rules that send it") << "remove"
                                                                       << "poll x[F1] | x | x";
        QTest::addRow("add gives a taken name a number through its steps; the key stays")
            << "add"
            << "poll ok x[F1] poll (2) ok (2) x (2) | ok x ok (2) x (2) | ok x ok (2) x (2)";
        QTest::addRow("a key is one entry's") << "key"
                                              << "poll[F1] ok x | ok x | ok x";
        QTest::addRow("a new entry is named by its place, with a number when that is taken")
            << "new"
            << "Entry 4 ok x[F1] Entry 4 (2) | ok x | ok x";
    }
    void bookRules() {
        QFETCH(QString, action);
        QuickSendBook b = book();
        b.entries[2].key = 1;
        if (action.startsWith("rename"))
            QCOMPARE(b.rename(2, action.split(' ')[2].toStdU16String()).isEmpty(),
                     !action.endsWith("ok"));
        if (action == "remove") {
            QCOMPARE(b.usersOf(1),
                     (QStringList{"sequence \"two\" step 1", "rule 1 (\"PING\\r\")"}));
            b.remove(1);
        }
        if (action == "add")
            b.add(b);
        if (action == "key")
            b.setKey(0, 1);
        if (action == "new") {
            b.rename(0, u"Entry 4");
            QCOMPARE(b.addEntry(), std::size_t(3));
        }
        QStringList names, steps, rules;
        for (const Entry& e : b.entries)
            names << QString::fromStdU16String(e.name) + (e.key ? QString("[F%1]").arg(e.key) : "");
        for (const Sequence& s : b.sequences)
            for (const SequenceStep& st : s.steps)
                steps << QString::fromStdU16String(st.entry);
        for (const AnswerRule& a : b.rules)
            rules << QString::fromStdU16String(a.entry);
        QTEST(names.join(' ') + " | " + steps.join(' ') + " | " + rules.join(' '), "after");
    }

    void kinds_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("kind");
        QTest::addRow("a kind is read in either case")
            << " rEGEX" << int(quicksend::PatternKind::Regex);
        QTest::addRow("hex as shown") << "Hex" << int(quicksend::PatternKind::Hex);
        QTest::addRow("anything else is text") << "crc" << int(quicksend::PatternKind::Text);
    }
    void kinds() {
        QFETCH(QString, typed);
        QFETCH(int, kind);
        QCOMPARE(int(kindNamed(typed)), kind);
        QCOMPARE(kindNamed(kindName(quicksend::PatternKind(kind))), quicksend::PatternKind(kind));
    }

    // What sends or answers on its own is told while it runs, and once it ends.
    void keeperTellsWhatRuns_data() {
        QTest::addColumn<QString>("what");
        QTest::addRow("a repeat runs") << "repeat";
        QTest::addRow("a sequence runs") << "sequence";
        QTest::addRow("an enabled rule answers") << "rule";
        QTest::addRow("a file is sent") << "file";
    }
    void keeperTellsWhatRuns() {
        QFETCH(QString, what);
        Rig r;
        QuickSendKeeper k(r.q);
        QSignalSpy told(&k, &QuickSendKeeper::runningChanged);
        k.book() = book();
        k.book().entries[1].periodMs = 1000;
        if (what != "rule")
            k.book().rules.clear();
        k.commit();
        if (what == "repeat")
            r.q.setRepeating(1, true);
        if (what == "sequence")
            r.q.runSequence(0);
        if (what == "file")
            r.q.startFile(QByteArray(20, 'a'), Pace::PerCharacter, 50);
        QVERIFY(k.running());
        r.q.setRepeating(1, false);
        r.q.stopSequence();
        r.q.setRulesEnabled(false);
        r.q.stopFile();
        QVERIFY(!k.running());
        QCOMPARE(told.size(), 2);
    }

    // A script entry runs its file through the session's runner; what cannot run is told
    // once, and a rule refuses it.
    void scriptEntry_data() {
        QTest::addColumn<QString>("use");
        QTest::addColumn<QByteArray>("script"); // the file's text; none without
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("told");
        QTest::addRow("button: the script runs and its bytes reach the line")
            << "button" << QByteArray("send('hi')") << QByteArray("hi") << "";
        QTest::addRow("sequence: a script step has the line until it ends, then the next step")
            << "sequence" << QByteArray("sleep(50) send('hi')") << QByteArray("hiOK\r\n") << "";
        QTest::addRow("a file that cannot be read: told, nothing sent")
            << "button" << QByteArray() << QByteArray() << "\"run\" did not run: ";
        QTest::addRow("rule: a script is no answer, the rules go off and say why")
            << "rule" << QByteArray("send('hi')") << QByteArray()
            << "Auto-answer is off (rule 1): \"run\" runs a script, and a rule answers with "
               "bytes only";
    }
    void scriptEntry() {
        QFETCH(QString, use);
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, wire);
        QFETCH(QString, told);
        test::PtyPair pty;
        serial::bindPort(1, pty.slavePath().toStdString());
        const auto unbind = qScopeGuard([] { serial::clearPortBindings(); });
        Session session;
        QVERIFY(session.terminal().open({}));
        QTemporaryDir dir;
        const QString path = dir.filePath("run.lua");
        QVERIFY(script.isNull() || test::writeFile(path, script));
        QuickSendBook b = book(), kept;
        b.entries.push_back({u"run", path.toStdU16String(), quicksend::DataForm::Script});
        b.sequences[0] = {u"s", {{u"run", 0}, {u"ok", 0}}, 1};
        b.rules[0].entry = u"run";
        QCOMPARE(bookFromJson(bookToJson(b), &kept), QString()); // the form and path kept
        QVERIFY(kept == b);
        QuickSender& q = session.quickSend();
        q.setBook(kept);
        QStringList failures;
        connect(&q, &QuickSender::failed, this, [&](const QString& t) { failures << t; });
        if (const Outcome ran = use == "button" ? q.sendEntry(3) : Outcome(); !ran)
            failures << ran.failure();
        if (use == "sequence")
            q.runSequence(0);
        if (use == "rule")
            pty.write("PING\r");
        QCOMPARE(pty.readExactly(wire.size(), 3000), wire);
        QTRY_COMPARE(failures.size(), told.isEmpty() ? 0 : 1);
        QVERIFY2(told.isEmpty() || failures.join("").startsWith(told),
                 qPrintable(failures.join("")));
    }

    void bookFiles() {
        QTemporaryDir dir;
        QuickSendBook b;
        const QString big = dir.filePath("big.json"), bad = dir.filePath("quicksend.json");
        QFile f(big); // past 16 MiB: refused before it is read
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(kMaxBookFileBytes + 1));
        f.close();
        QVERIFY(bookFromFile(big, &b).startsWith("the file has 16777217 bytes; a Quick Send file "
                                                 "holds at most 16 MiB"));
        QByteArray json = QByteArray(R"({"entries":[{"name":"big","data":)") + '"' +
                          QByteArray(65537, 'a') + "\"}]}";
        QCOMPARE(bookFromJson(json, &b), "entry 1 (\"big\"): the data is longer than 65536 bytes "
                                         "(bigger data goes through \"Send file\")");
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(json) > 0 && f.rename(bad));
        f.close(); // a remembered book that cannot be read is set aside; the start is empty
        b = book();
        QVERIFY(loadBook(bad, &b).contains("The file is kept as " + bad + ".unread-"));
        QVERIFY(b.entries.empty() && !QFile::exists(bad));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(bookToFile(bad, book()), QString());
        QCOMPARE(loadBook(bad, &b), QString());
        QVERIFY(b == book());
    }

    void file_data() {
        QTest::addColumn<int>("pace");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("stallFarEnd");
        QTest::addColumn<int>("stallLoopMs"); // the program busy elsewhere for this long
        QTest::addRow("1 ms after each character")
            << int(Pace::PerCharacter) << 1 << 200 << false << 0;
        QTest::addRow("after each line end") << int(Pace::PerLine) << 5 << 300 << false << 0;
        QTest::addRow("full speed, far end stops reading: held, nothing lost or counted twice")
            << int(Pace::FullSpeed) << 0 << 600'000 << true << 0;
        QTest::addRow("1 ms per character past a busy spell: no gap shorter than the delay")
            << int(Pace::PerCharacter) << 1 << 100 << false << 30;
    }
    void file() {
        QFETCH(int, pace);
        QFETCH(int, delayMs);
        QFETCH(int, size);
        QFETCH(bool, stallFarEnd);
        QFETCH(int, stallLoopMs);
        Rig r;
        QByteArray bytes;
        for (int i = 0; i < size; ++i)
            bytes += (i % 50 == 49) ? '\n' : char('A' + i % 26);
        QSignalSpy done(&r.q, &QuickSender::fileFinished);
        QSignalSpy progress(&r.q, &QuickSender::fileProgress);
        int writes = 0;
        qint64 lastNs = 0, leastGapNs = std::numeric_limits<qint64>::max();
        connect(&r.e, &TerminalEngine::sent, this, [&](const QByteArray&, TrafficTime t) {
            ++writes;
            if (lastNs > 0)
                leastGapNs = std::min(leastGapNs, t.monotonicNs - lastNs);
            lastNs = t.monotonicNs;
        });
        if (stallLoopMs > 0)
            QTimer::singleShot(20, this, [stallLoopMs] { QThread::msleep(stallLoopMs); });
        r.q.startFile(bytes, Pace(pace), delayMs);
        QByteArray got;
        if (stallFarEnd) {
            QTest::qWait(300);
            QVERIFY(r.q.sendingFile());
            QCOMPARE(r.total, r.sent.size()); // what is counted is what was handed on
            QVERIFY(r.sent.size() < size);
        }
        got = r.pty.readExactly(size, 20000);
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toBool(), true);
        QCOMPARE(got.size(), bytes.size());
        QVERIFY(got == bytes);
        QCOMPARE(r.total, size);
        QCOMPARE(progress.last()[0].toLongLong(), qint64(size));
        if (!stallFarEnd) // one write per unit: a character or a line
            QCOMPARE(writes, pace == int(Pace::PerLine) ? size / 50 : size);
        if (delayMs > 0)
            QVERIFY2(leastGapNs >= delayMs * 1'000'000, qPrintable(QString::number(leastGapNs)));
    }
};

QTEST_MAIN(TstQuickSend)
#include "tst_quick_send.moc"
