// Finding the device simulator at a setting other than the first tried, with the hints,
// refusals, stopping and listening the sweep reports, and the port's settings put back.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>
#include <termios.h>

#include "engine/find_sweep.h"
#include "engine/session.h"
#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/engine_rig.h"
#include "support/fake_lines_port.h"
#include "loopback/modbus_servers.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using engine::FindAnswer;

namespace {

const char* kKinds[] = {"reply", "exception", "garbled", "heard", "refused"};

// "9600 8N1,8E1" -> bauds and framings
engine::FindRequest settings(const QString& text) {
    engine::FindRequest r;
    const QStringList f = text.split(' ');
    for (const QString& b : f[0].split(','))
        r.bauds.push_back(b.toInt());
    for (const QString& x : f[1].split(','))
        r.framings.push_back(serial::parseSettings(
            "1," + QString("%1,%2,%3").arg(x[1]).arg(x[0]).arg(x[2]).toStdString()));
    return r;
}

// A port on the simulator's device or the test's own pair, an engine on it and a sweep.
struct Rig {
    test::DevsimProcess sim;
    std::unique_ptr<test::PtyPair> pty;
    std::unique_ptr<engine::TerminalEngine> e;
    std::unique_ptr<engine::FindSweep> f;
    QStringList answers;
    int probes = 0;
    bool start(const QStringList& simArgs, bool realLine = false) {
        if (!simArgs.isEmpty() && !sim.start(simArgs))
            return false;
        if (simArgs.isEmpty())
            pty = std::make_unique<test::PtyPair>();
        serial::bindPort(1, (pty ? pty->slavePath() : sim.path()).toStdString());
        auto port = std::make_unique<test::FakeLinesPort>();
        port->realLine = realLine; // the pseudo-terminal's refusal of a parity then counts
        e = std::make_unique<engine::TerminalEngine>(std::move(port));
        f = std::make_unique<engine::FindSweep>(*e);
        QObject::connect(f.get(), &engine::FindSweep::answer, f.get(), [this](const FindAnswer& a) {
            answers << QString("%1 %2%3: %4")
                           .arg(QString::fromStdString(modbus::settingName(a.line)),
                                kKinds[int(a.kind)],
                                a.station ? " st " + QString::number(a.station) : "", a.text);
        });
        QObject::connect(e.get(), &engine::TerminalEngine::sent, f.get(),
                         [this](const QByteArray&, auto) { ++probes; });
        return e->open({}).ok();
    }
    ~Rig() { serial::clearPortBindings(); }
};

} // namespace

class TstFindSweep : public QObject {
    Q_OBJECT
  private slots:
    // Over Modbus TCP only stations are tried, at the settings in force (the bauds and
    // framings ticked are not), unit ids 0 and 255 after the range: a device answering to 255
    // alone is found there, and the silence of unit 0 is nothing found.
    void modbusTcpSweepsUnitIds() {
        test::EngineRig rig(test::fakeLink(serial::LinkKind::ModbusTcp));
        engine::FindSweep f(rig.e);
        QVERIFY(rig.open());
        QStringList answers;
        connect(&f, &engine::FindSweep::answer, &f, [&](const FindAnswer& a) {
            answers << QString("st %1: %2").arg(a.station).arg(a.text);
        });
        engine::FindRequest r = settings("9600,19200 8E1,8N1");
        r.lastStation = 2;
        r.autoTimeout = false;
        r.fixedTimeoutMs = 50;
        QVERIFY(f.start(r));
        QCOMPARE(f.total(), 4);
        QByteArray units;
        for (int i = 0; i < 4; ++i) {
            const QByteArray request = rig.pty.readExactly(12, 1000);
            units += request.mid(6, 1);
            if (request.mid(6, 1) == "\xFF")
                rig.pty.write(request.left(4) + QByteArray::fromHex("0005FF03021234"));
        }
        QTRY_VERIFY(!f.running());
        QCOMPARE(units.toHex(), QByteArray("010200ff"));
        QCOMPARE(answers, QStringList{"st 255: value 4660"});
    }

    // Against pymodbus serving unit 5 alone over Modbus TCP: found at unit 5 and nothing else
    // (the other units, 0 and 255 get no reply).
    void modbusTcpFindsTheOnlyUnit() {
        if (!test::PymodbusServer::unavailable().empty())
            QSKIP(test::PymodbusServer::unavailable().c_str());
        test::PymodbusServer server;
        QVERIFY(server.start(test::PymodbusServer::Framing::Tcp, {5}));
        serial::bindPort(1, "modbus-tcp://127.0.0.1:" + std::to_string(server.port()));
        engine::Session s;
        QVERIFY(s.terminal().open({}).ok());
        QTRY_VERIFY(s.terminal().isOpen());
        QStringList answers;
        connect(&s.finder(), &engine::FindSweep::answer, &s, [&](const FindAnswer& a) {
            answers << QString("%1 st %2: %3").arg(kKinds[int(a.kind)]).arg(a.station).arg(a.text);
        });
        engine::FindRequest r = settings("9600 8N1");
        r.lastStation = 8;
        r.stopAtFirst = false;
        r.address = 10;
        r.autoTimeout = false;
        r.fixedTimeoutMs = 80;
        QSignalSpy finished(&s.finder(), &engine::FindSweep::finished);
        QVERIFY(s.finder().start(r));
        QCOMPARE(s.finder().total(), 10);
        QVERIFY(finished.wait(5000));
        QCOMPARE(answers, QStringList{"reply st 5: value 1010"});
        serial::clearPortBindings();
    }

    void sweep_data() {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<bool>("realLine");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("probe"); // function stations address stopAtFirst
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("garbled at 19200, found at 9600")
            << "--static --station 2 --baud 9600" << false << "19200,9600 8E1,8N1"
            << "3 1-3 0 1"
            << QStringList{"19200 8E1 garbled: something answered garbled at 19200 8E1",
                           "9600 8N1 reply st 2: value 4660"};
        QTest::newRow("stop bits tell 8N2, the sweep goes on")
            << "--static --station 1 --baud 19200 --framing 8N2" << false << "19200 8E1,8N2"
            << "4 1-2 1 0"
            << QStringList{"19200 8E1 garbled: something answered garbled at 19200 8E1",
                           "19200 8N2 reply st 1: value 12289"};
        QTest::newRow("an exception is a device") << "--station 5" << false << "115200 8N1"
                                                  << "3 4-6 64 1"
                                                  << QStringList{"115200 8N1 exception st 5: "
                                                                 "exception 02 illegal data "
                                                                 "address"};
        QTest::newRow("43/14 identification") << "--static --station 3" << false << "115200 8N1"
                                              << "43 1-3 0 1"
                                              << QStringList{"115200 8N1 reply st 3: Varnok, "
                                                             "DEVSIM, 1.0"};
        QTest::newRow("a real line refusing even parity: skipped")
            << "--static --baud 38400" << true << "38400 8E1,8N1"
            << "1 1-1 0 1"
            << QStringList{"38400 8E1 refused: * refuses the parity even",
                           "38400 8N1 reply st 1: value 0"};
    }
    void sweep() {
        QFETCH(QString, sim);
        QFETCH(bool, realLine);
        QFETCH(QString, settings);
        QFETCH(QString, probe);
        QFETCH(QStringList, answers);
        Rig rig;
        QVERIFY(rig.start(QProcess::splitCommand(sim), realLine));
        engine::FindRequest r = ::settings(settings);
        const QStringList p = probe.split(' ');
        const int fn = p[0].toInt();
        r.probe = fn == 3    ? engine::FindProbe::ReadHolding
                  : fn == 4  ? engine::FindProbe::ReadInput
                  : fn == 1  ? engine::FindProbe::ReadCoils
                  : fn == 43 ? engine::FindProbe::DeviceIdentification
                             : engine::FindProbe::ReportServerId;
        r.firstStation = p[1].section('-', 0, 0).toInt();
        r.lastStation = p[1].section('-', 1, 1).toInt();
        r.address = std::uint16_t(p[2].toInt());
        r.stopAtFirst = p[3] == "1";
        // Room for a machine busy with sanitizers and parallel tests: a reply slowed by the load
        // still comes within the timeout.
        r.allowanceMs = 60;
        QSignalSpy finished(rig.f.get(), &engine::FindSweep::finished);
        QVERIFY(rig.f->start(r));
        QVERIFY(rig.f->plannedMs() > 0);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(rig.answers.size(), answers.size());
        for (qsizetype i = 0; i < answers.size(); ++i)
            QVERIFY2(test::wildcardMatch(answers[i], rig.answers[i]), qPrintable(rig.answers[i]));
        QCOMPARE(rig.e->lineSettings(), (serial::LineSettings{115200}));
        QTRY_VERIFY(!rig.e->manualReceive());
    }

    // Stopped while a probe is on the line: that probe ends, no other is sent.
    void stopEndsTheProbeOnTheLine() {
        Rig rig;
        QVERIFY(rig.start({"--silent"}));
        engine::FindRequest r = settings("9600 8E1,8N1");
        r.autoTimeout = false;
        r.fixedTimeoutMs = 200;
        QObject::connect(rig.e.get(), &engine::TerminalEngine::sent, rig.f.get(), [&] {
            if (rig.probes == 3)
                rig.f->stop();
        });
        QSignalSpy finished(rig.f.get(), &engine::FindSweep::finished);
        QVERIFY(rig.f->start(r));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(rig.probes, 3);
        QVERIFY(rig.answers.isEmpty());
        QCOMPARE(rig.e->lineSettings(), (serial::LineSettings{115200}));
    }

    // Another master's requests pass at 4800: heard there, garbled at 9600, nothing sent.
    void listenHearsAnotherMaster() {
        Rig rig;
        QVERIFY(rig.start({}));
        QTimer other;
        QObject::connect(&other, &QTimer::timeout, &other, [&] {
            termios t{};
            ::tcgetattr(rig.pty->masterFd(), &t);
            rig.pty->write(cfgetospeed(&t) == B4800 ? QByteArray::fromHex("010300000001840A")
                                                    : QByteArray::fromHex("F9FBFAFAFC"));
        });
        other.start(20);
        engine::FindRequest r = settings("9600,4800 8N1");
        r.listen = true;
        r.listenMs = 200;
        QSignalSpy finished(rig.f.get(), &engine::FindSweep::finished);
        QVERIFY(rig.f->start(r));
        QVERIFY(finished.wait(5000));
        QCOMPARE(rig.answers.size(), 2);
        QCOMPARE(rig.answers[0], "9600 8N1 garbled: something answered garbled at 9600 8N1");
        QVERIFY2(
            test::wildcardMatch("4800 8N1 heard: * valid frames pass (station 1)", rig.answers[1]),
            qPrintable(rig.answers[1]));
        QCOMPARE(rig.probes, 0);
    }

    // Poll polls station 2 back to back while a sweep runs on the same port: they take turns
    // on the line. No request of the master goes out at a setting being tried, the sweep
    // finds what it would alone, every polled value is right, and polling goes on by itself
    // at the port's own settings once the sweep has ended.
    void findAndPollTakeTurns() {
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--static", "--station", "2", "--baud", "9600"}));
        serial::bindPort(1, sim.path().toStdString());
        engine::Session s;
        engine::OpenRequest open;
        open.baud = "9600";
        QVERIFY(s.terminal().open(open));
        const QByteArray pollFrame = QByteArray::fromHex("020300000002C438");
        int pollsAtTrial = 0, wrongValues = 0, polls = 0, pollsAfter = 0;
        bool sweeping = false;
        QObject::connect(&s.terminal(), &engine::TerminalEngine::sent, &s,
                         [&](const QByteArray& bytes, auto) {
                             if (bytes == pollFrame && s.terminal().lineSettings().baud != 9600)
                                 ++pollsAtTrial;
                         });
        QObject::connect(&s.master(), &engine::ModbusMaster::done, &s,
                         [&](const engine::PollResult& r) {
                             ++polls;
                             if (!sweeping)
                                 ++pollsAfter;
                             if (r.ok && r.reply.registers != std::vector<std::uint16_t>{0x1234, 0})
                                 ++wrongValues;
                         });
        QVERIFY(s.master().setReads({{{2, 3, 0, 2, {}, {}}, 0, 300, 0}}));
        s.master().start();
        QTRY_VERIFY(polls >= 3);
        QStringList answers;
        QObject::connect(&s.finder(), &engine::FindSweep::answer, &s, [&](const FindAnswer& a) {
            answers << QString("%1 %2 %3").arg(a.line.baud).arg(kKinds[int(a.kind)]).arg(a.station);
        });
        engine::FindRequest r = settings("19200,9600 8N1");
        r.firstStation = 1;
        r.lastStation = 3;
        r.stopAtFirst = false;
        QSignalSpy finished(&s.finder(), &engine::FindSweep::finished);
        sweeping = true;
        QVERIFY(s.finder().start(r));
        QTRY_VERIFY(s.poll().statusText().startsWith("Polling waits for Find Device:"));
        QVERIFY(finished.wait(20000));
        sweeping = false;
        pollsAfter = 0;
        QCOMPARE(answers, (QStringList{"9600 reply 2", "19200 garbled 0"})); // its own baud first
        QCOMPARE(s.terminal().lineSettings().baud, 9600);
        QTRY_VERIFY(pollsAfter >= 3);
        QCOMPARE(pollsAtTrial, 0);
        QCOMPARE(wrongValues, 0);
        QVERIFY(!s.poll().statusText().contains("waits"));
        s.master().stop();
    }

    // "Start polling" during a sweep waits for it; stopping meanwhile leaves nothing waiting.
    void pollingStartedDuringASweepWaits() {
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--silent"}));
        serial::bindPort(1, sim.path().toStdString());
        engine::Session s;
        QVERIFY(s.terminal().open({}));
        engine::FindRequest r = settings("9600 8N1");
        r.autoTimeout = false;
        r.fixedTimeoutMs = 50;
        QVERIFY(s.finder().start(r));
        int sent = 0;
        QObject::connect(&s.terminal(), &engine::TerminalEngine::sent, &s, [&] { ++sent; });
        QVERIFY(s.master().setReads({{{1, 3, 0, 1, {}, {}}, 0, 100, 0}}));
        s.master().start();
        QVERIFY(s.poll().statusText().startsWith("Polling waits for Find Device:"));
        QTRY_VERIFY(sent >= 2);
        QCOMPARE(s.master().busy(), false);
        s.master().stop();
        QVERIFY(!s.poll().statusText().contains("waits"));
        s.finder().stop();
    }
};

QTEST_GUILESS_MAIN(TstFindSweep)
#include "tst_find_sweep.moc"
