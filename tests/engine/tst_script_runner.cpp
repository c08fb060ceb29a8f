// Scripts drive the line on the event loop: over a pseudo-terminal pair, against the device
// simulator, and with the faults a script meets at the bench.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "engine/quick_send.h"
#include "engine/script/script_runner.h"
#include "support/devsim_process.h"
#include "support/engine_rig.h"

using namespace varnok;
using engine::ScriptResult;
using engine::ScriptRunner;

namespace {

// A runner on the rig's engine, with what the script printed and how it ended.
struct ScriptRig : test::EngineRig {
    engine::QuickSender quick{&e};
    ScriptRunner script{e, quick};
    QString output;
    std::optional<ScriptResult> result;

    ScriptRig() {
        QObject::connect(&script, &ScriptRunner::output, &e,
                         [this](const QString& t) { output += t; });
        QObject::connect(&script, &ScriptRunner::finished, &e,
                         [this](const ScriptResult& r) { result = r; });
    }
    bool start(const QByteArray& source, const QStringList& args = {}) {
        const engine::Outcome started = script.run(source, QStringLiteral("t.lua"), args);
        if (!started)
            output += started.failure();
        return started.ok();
    }
    bool waitEnd(int ms = 5000) {
        return QTest::qWaitFor([this] { return result.has_value(); }, ms);
    }
};

} // namespace

class TestScriptRunner : public QObject {
    Q_OBJECT
  private slots:
    void endsAsTheScriptSays_data();
    void endsAsTheScriptSays();
    void syntaxErrorRunsNothing();
    void answersOverTheLine();
    void runtimeErrorGivesTheLineBack();
    void expectOnAVanishedDeviceReturnsPortClosed();
    void userClosingThePortEndsTheScript();
    void otherUsersWaitForTheScript();
    void floodToAFarEndNotReadingLosesNothing();
    void stopEndsAWaitingSendAndAnEndlessLoop_data();
    void stopEndsAWaitingSendAndAnEndlessLoop();
    void modbusAgainstTheSimulator_data();
    void modbusAgainstTheSimulator();
};

void TestScriptRunner::endsAsTheScriptSays_data() {
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // contained in what was printed or the error
    QTest::newRow("print joins its values with tabs")
        << QByteArray("print('a', 1, nil)") << 0 << "a\t1\tnil\n";
    QTest::newRow("a failed check goes on and ends 1")
        << QByteArray("check(false, 'x'); check(true); print('after')") << 1 << "after\n";
    QTest::newRow("exit ends with its code") << QByteArray("exit(3); print('no')") << 3 << "";
    QTest::newRow("os.exit ends only the script") << QByteArray("os.exit(0)") << 0 << "";
    QTest::newRow("exit inside pcall still ends the script")
        << QByteArray("pcall(exit, 1); print('no')") << 1 << "";
    QTest::newRow("a runtime error names its file and line")
        << QByteArray("\nlocal t = nil\nprint(t.x)") << 2 << "t.lua:3:";
    QTest::newRow("a bad argument names the script's line")
        << QByteArray("\n\nsendhex('zz')") << 2 << "t.lua:3: sendhex";
    QTest::newRow("os.execute is refused without leave")
        << QByteArray("os.execute('true')") << 2 << "os.execute is not allowed";
    QTest::newRow("io.popen is refused without leave")
        << QByteArray("io.popen('true')") << 2 << "io.popen is not allowed";
    QTest::newRow("send on a closed port says so")
        << QByteArray("send('x')") << 2 << "the port is not open";
    QTest::newRow("arg holds the name and the arguments")
        << QByteArray("print(arg[0], arg[1], #arg)") << 0 << "t.lua\tone\t1\n";
    QTest::newRow("crc16 gives the wire bytes and the number")
        << QByteArray("local w, n = crc16(unhex('01 03 00 00 00 01')); print(hex(w), n)") << 0
        << "84 0A\t2692\n";
    QTest::newRow("checksum by its key")
        << QByteArray("print(hex(checksum('xor', '\\1\\2\\4')))") << 0 << "07\n";
    QTest::newRow("decode a float32 CDAB")
        << QByteArray("print(modbus.decode({0x0FDB, 0x4049}, 'float32', 'CDAB') > 3.14)") << 0
        << "true\n";
    QTest::newRow("decode an int16")
        << QByteArray("print(modbus.decode({65535}, 'int16'))") << 0 << "-1\n";
    QTest::newRow("a wrapped coroutine may wait")
        << QByteArray("local f = coroutine.wrap(function() sleep(20) coroutine.yield(1) "
                      "return 2 end)\nprint(f(), f())")
        << 0 << "1\t2\n";
    QTest::newRow("coroutine.resume keeps its own yields and errors")
        << QByteArray("local co = coroutine.create(function(a) local b = coroutine.yield(a + 1) "
                      "sleep(1) return b * 2 end)\nprint(coroutine.resume(co, 1))\n"
                      "print(coroutine.resume(co, 5))\nprint(coroutine.resume(co))")
        << 0 << "true\t2\ntrue\t10\nfalse\tcannot resume dead coroutine\n";
    QTest::newRow("sleep waits on the clock")
        << QByteArray("local t = now(); sleep(30); print(now() - t >= 30)") << 0 << "true\n";
    QTest::newRow("a bad pattern is the script's mistake")
        << QByteArray("open{}; expect('%', 10)") << 2 << "t.lua:1: expect:";
    QTest::newRow("an open that fails ends with status 3")
        << QByteArray("open{port='/nonexistent/tty'}") << 3 << "t.lua:1: open:";
}

void TestScriptRunner::endsAsTheScriptSays() {
    QFETCH(QByteArray, source);
    QFETCH(int, status);
    QFETCH(QString, output);
    ScriptRig rig;
    QVERIFY(rig.start(source, {QStringLiteral("one")}));
    QVERIFY(rig.waitEnd());
    const QString seen = rig.output + rig.result->error;
    QCOMPARE(rig.result->status, status);
    QVERIFY2(seen.contains(output), qPrintable(seen));
}

void TestScriptRunner::syntaxErrorRunsNothing() {
    ScriptRig rig;
    QVERIFY(rig.open());
    QVERIFY(!rig.start("send('x')\n\nif then"));
    QCOMPARE(ScriptRunner::lineOfError(rig.output, QStringLiteral("t.lua")), 3);
    QVERIFY(!rig.script.running());
    QCOMPARE(rig.pty.readFor(50), QByteArray());
}

void TestScriptRunner::answersOverTheLine() {
    ScriptRig rig;
    QVERIFY(rig.open());
    QVERIFY(rig.start("send('AT\\r')\n"
                      "local m, i = expect({'ERROR', 'OK\\r\\n'}, 2000)\n"
                      "print(m, i, readline(500))\n"
                      "print(read(3, 500), read(9, 50))\n"
                      "print(expect('never', 20))"));
    QCOMPARE(rig.pty.readExactly(3, 2000), QByteArray("AT\r"));
    rig.pty.write("xxOK\r\nline two\r\nabcde");
    QVERIFY(rig.waitEnd());
    QCOMPARE(rig.result->status, 0);
    QCOMPARE(rig.output, QStringLiteral("OK\r\n\t2\tline two\nabc\tde\nnil\ttimeout\n"));
    // The terminal's receive showed the same bytes as they came.
    QTRY_VERIFY(rig.e.displayText().contains(QStringLiteral("line two")));
}

void TestScriptRunner::runtimeErrorGivesTheLineBack() {
    ScriptRig rig;
    QVERIFY(rig.open());
    QVERIFY(rig.start("send('a'); error('boom')"));
    QVERIFY(rig.waitEnd());
    QCOMPARE(rig.result->status, 2);
    QCOMPARE(rig.result->errorLine, 1);
    QVERIFY(rig.e.isOpen());
    QCOMPARE(rig.e.lineHolder(), QString());
    rig.e.send({u"b", codec::EndOfString::None, {}});
    QCOMPARE(rig.pty.readExactly(2, 2000), QByteArray("ab"));
}

void TestScriptRunner::expectOnAVanishedDeviceReturnsPortClosed() {
    ScriptRig rig;
    QVERIFY(rig.open());
    // What came before the device vanished is still read: once, not in an endless loop.
    QVERIFY(rig.start("print(expect('x', 5000)); print(read(10, 5000), read(1, 5000))"));
    rig.pty.write("ab");
    QTest::qWait(50);
    rig.pty.closeMaster();
    QVERIFY(rig.waitEnd(3000));
    QCOMPARE(rig.output, QStringLiteral("nil\tport closed\nab\tnil\tport closed\n"));
    QCOMPARE(rig.result->status, 0);
}

void TestScriptRunner::userClosingThePortEndsTheScript() {
    ScriptRig rig;
    QVERIFY(rig.open());
    QVERIFY(rig.start("while true do sleep(10) end"));
    QTest::qWait(50);
    QCOMPARE(rig.e.lineHolder(), QStringLiteral("Script"));
    rig.e.close();
    QVERIFY(rig.waitEnd(1000));
    QCOMPARE(rig.result->status, 2);
    QVERIFY(rig.result->stopped);
}

void TestScriptRunner::otherUsersWaitForTheScript() {
    ScriptRig rig;
    QVERIFY(rig.open());
    QVERIFY(rig.start("sleep(150); send('s')"));
    QTest::qWait(30);
    bool granted = false;
    rig.e.askForLine(engine::LineUse(QStringLiteral("Find Device")), &rig.e,
                     [&](engine::LineLease lease) {
                         granted = true;
                         lease.write("f");
                     });
    QVERIFY(!granted);
    QVERIFY(rig.waitEnd());
    QTRY_VERIFY(granted);
    QCOMPARE(rig.pty.readExactly(2, 2000), QByteArray("sf"));
}

void TestScriptRunner::floodToAFarEndNotReadingLosesNothing() {
    ScriptRig rig;
    QVERIFY(rig.open());
    // 10 MB of numbered lines, sent while the far end reads nothing for 300 ms.
    QVERIFY(rig.start("local t = {} for i = 1, 131072 do t[i] = string.format('%07d\\n', i) end\n"
                      "local block = table.concat(t)\n"
                      "for i = 1, 10 do send(block) end\n"
                      "print('sent')"));
    QTest::qWait(300);
    QVERIFY(!rig.result);
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < 10 * 1048576 && clock.elapsed() < 20000)
        got += rig.pty.readFor(20);
    QVERIFY(rig.waitEnd());
    QCOMPARE(rig.output, QStringLiteral("sent\n"));
    QCOMPARE(got.size(), 10 * 1048576);
    for (int block = 0; block < 10; ++block)
        for (int i : {1, 65536, 131072})
            QCOMPARE(got.mid(qsizetype(block) * 1048576 + (i - 1) * 8, 8),
                     QByteArray::number(i).rightJustified(7, '0') + '\n');
}

void TestScriptRunner::stopEndsAWaitingSendAndAnEndlessLoop_data() {
    QTest::addColumn<QByteArray>("source");
    QTest::newRow("endless loop") << QByteArray("open{}\nwhile true do end");
    QTest::newRow("endless loop in pcall")
        << QByteArray("open{}\npcall(function() while true do end end)");
    QTest::newRow("endless loop in a coroutine of the script")
        << QByteArray("open{}\ncoroutine.wrap(function() while true do end end)()");
    QTest::newRow("send held by a far end not reading")
        << QByteArray("open{}\nlocal s = string.rep('x', 1048576)\nwhile true do send(s) end");
}

void TestScriptRunner::stopEndsAWaitingSendAndAnEndlessLoop() {
    QFETCH(QByteArray, source);
    ScriptRig rig;
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &rig.e, [&] { ++ticks; });
    tick.start(20);
    QVERIFY(rig.start(source));
    QSignalSpy lines(&rig.script, &ScriptRunner::lineChanged);
    QTest::qWait(300);
    QVERIFY(!rig.result);
    QVERIFY2(ticks >= 8, "the event loop goes on while the script runs");
    QVERIFY2(rig.script.currentLine() >= 2, "the running line is the loop's, not the first");
    QElapsedTimer clock;
    clock.start();
    rig.script.stop();
    QVERIFY(rig.waitEnd(1000));
    QVERIFY(clock.elapsed() < 100);
    QVERIFY(rig.result->stopped);
    QCOMPARE(rig.result->status, 2);
    QCOMPARE(rig.e.lineHolder(), QString());
}

void TestScriptRunner::modbusAgainstTheSimulator_data() {
    QTest::addColumn<bool>("tcp");
    QTest::newRow("RTU on a local line") << false;
    QTest::newRow("Modbus TCP, the open waiting for the connection") << true;
}

void TestScriptRunner::modbusAgainstTheSimulator() {
    QFETCH(bool, tcp);
    test::DevsimProcess sim;
    QVERIFY(sim.start({"--static", "--tcp", "0"}));
    QString port = sim.path();
    if (tcp) {
        QVERIFY(sim.process().canReadLine() || sim.process().waitForReadyRead(5000));
        port = QString::fromLatin1(sim.process().readLine().trimmed()).section(u' ', 1);
    }
    ScriptRig rig;
    const QByteArray script = "open{port=arg[1], baud=19200}\n"
                              "local v = assert(modbus.read(1, 3, 52, 2))\n"
                              "print(#v, modbus.decode(v, 'float32') > 3.14)\n"
                              "print(modbus.write(1, 10, {7, 8}), modbus.read(1, 3, 10, 2)[2])\n"
                              "print(modbus.write(1, 3, true), modbus.read(1, 1, 3, 1)[1])\n"
                              "print(modbus.read(1, 3, 1000, 1))\n"
                              "print(modbus.read(9, 3, 0, 1, 100))\n";
    QVERIFY(rig.start(script, {port}));
    QVERIFY(rig.waitEnd(5000));
    QCOMPARE(rig.result->error, QString());
    QCOMPARE(rig.output.split(u'\n'),
             QStringList({"2\ttrue", "true\t8", "true\ttrue",
                          "nil\texception 02: illegal data address", "nil\ttimeout", ""}));
}

QTEST_MAIN(TestScriptRunner)
#include "tst_script_runner.moc"
