// The Modbus master on the engine's port against the device simulator: values of each read
// function, writes read back, timeouts with retries, exceptions, and how it shares the port;
// over the network against pymodbus, libmodbus (right and wrong) and ser2net on 127.0.0.1.
#include <QSignalSpy>
#include <QTest>
#include <QTestEventLoop>
#include <memory>

#include "engine/modbus_master.h"
#include "engine/poll_setup.h"
#include "engine/session.h"
#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "support/bytes.h"
#include "support/devsim_process.h"
#include "support/engine_rig.h"
#include "support/fake_lines_port.h"
#include "loopback/modbus_servers.h"
#include "support/ser2net_process.h"
#include "support/tcp_soak.h"
#include "support/test_support.h"

using namespace varnok;
using engine::PollResult;
using test::request;

namespace {

// A simulator, an engine opened on it and a master, with what each tells in order.
struct Rig {
    test::DevsimProcess sim;
    std::unique_ptr<engine::TerminalEngine> e;
    std::unique_ptr<engine::ModbusMaster> m;
    QStringList results, traffic;
    bool start(const QStringList& args) {
        if (!sim.start(args))
            return false;
        serial::bindPort(1, sim.path().toStdString());
        e = std::make_unique<engine::TerminalEngine>();
        m = std::make_unique<engine::ModbusMaster>(*e);
        QObject::connect(m.get(), &engine::ModbusMaster::done, m.get(),
                         [this](const PollResult& r) {
                             QStringList v;
                             for (const auto x : r.reply.registers)
                                 v << QString::number(x);
                             for (const bool b : r.reply.bits)
                                 v << QString::number(b);
                             results << QString("%1 %2%3 /%4")
                                            .arg(!r.read ? "w" : "r" + QString::number(*r.read),
                                                 r.text, v.isEmpty() ? "" : " " + v.join(' '))
                                            .arg(r.attempts);
                         });
        QObject::connect(e.get(), &engine::TerminalEngine::sent, m.get(),
                         [this](const QByteArray& b, auto) { traffic << "TX " + b.toHex(' '); });
        QObject::connect(e.get(), &engine::TerminalEngine::received, m.get(),
                         [this](const QByteArray&, auto) { traffic << "RX"; });
        return e->open({}).ok();
    }
    ~Rig() { serial::clearPortBindings(); }
};

// A session on Com1 bound to a network port, with the master's results as "ok 1010 1011" or
// their text, and the engine's messages.
struct NetRig {
    engine::Session s;
    QStringList results, messages;
    NetRig() {
        QObject::connect(&s.master(), &engine::ModbusMaster::done, &s, [this](const PollResult& r) {
            QStringList v{r.text};
            for (const auto x : r.reply.registers)
                v << QString::number(x);
            results << v.join(' ');
        });
        QObject::connect(&s.terminal(), &engine::TerminalEngine::message, &s,
                         [this](const QString& t) { messages << t; });
    }
    ~NetRig() { serial::clearPortBindings(); }
    bool open(const QString& scheme, int port) {
        serial::bindPort(1, QString("%1://127.0.0.1:%2").arg(scheme).arg(port).toStdString());
        return s.terminal().open({}).ok() &&
               QTest::qWaitFor([this] { return s.terminal().isOpen(); }, 5000);
    }
    bool poll(const QString& read, int periodMs = 0, int timeoutMs = 1000) {
        return s.master().setReads({{request(read), periodMs, timeoutMs, 0}}) &&
               (s.master().start(), true);
    }
};

} // namespace

class TstModbusMaster : public QObject {
    Q_OBJECT
  private slots:
    void transactions_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QStringList>("writes"); // queued first
        QTest::addColumn<QStringList>("reads");  // then polled once each
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("status"); // of read 0
        QTest::newRow("each read function, pi at 52")
            << "--static" << QStringList{}
            << QStringList{"1 3 0 1", "1 4 0 2", "1 1 0 3", "1 2 0 4", "1 3 52 2"}
            << QStringList{"r0 ok 4660 /1", "r1 ok 12288 12289 /1", "r2 ok 0 0 0 /1",
                           "r3 ok 0 1 0 1 /1", "r4 ok 16457 4059 /1"}
            << "polls 1 valid 1 requests 1 retries 0 timeouts 0 stale 0";
        QTest::newRow("writes read back")
            << "--static"
            << QStringList{"1 16 10 2 258 772", "1 6 12 1 7", "1 15 3 3 1 0 1", "1 5 9 1 1"}
            << QStringList{"1 3 10 3", "1 1 3 7"} << QStringList{"w ok /1",
                                                                 "w ok /1",
                                                                 "w ok /1",
                                                                 "w ok /1",
                                                                 "r0 ok 258 772 7 /1",
                                                                 "r1 ok 1 0 1 0 0 0 1 /1"}
            << "polls 1 valid 1 requests 1 retries 0 timeouts 0 stale 0";
        QTest::newRow("silent: timeout after two retries")
            << "--silent" << QStringList{} << QStringList{"1 3 0 1"} << QStringList{"r0 timeout /3"}
            << "polls 1 valid 0 requests 3 retries 2 timeouts 3 stale 1";
        QTest::newRow("past the map: exception, no retry")
            << "" << QStringList{} << QStringList{"1 3 64 1"}
            << QStringList{"r0 exception 02 illegal data address /1"}
            << "polls 1 valid 0 requests 1 retries 0 timeouts 0 stale 1";
    }
    void transactions() {
        QFETCH(QString, args);
        QFETCH(QStringList, writes);
        QFETCH(QStringList, reads);
        QFETCH(QStringList, results);
        QFETCH(QString, status);
        Rig rig;
        QVERIFY(rig.start(QProcess::splitCommand(args)));
        std::vector<engine::PollRead> list;
        for (const QString& r : reads)
            list.push_back({request(r), 60000, 150, 2});
        QVERIFY(rig.m->setReads(list));
        for (const QString& w : writes)
            QVERIFY(rig.m->write(request(w)));
        QSignalSpy cycle(rig.m.get(), &engine::ModbusMaster::cycleDone);
        rig.m->start();
        QVERIFY(cycle.wait(5000));
        QCOMPARE(rig.results, results);
        const modbus::PollStatus& s = rig.m->status(0);
        QCOMPARE(QString("polls %1 valid %2 requests %3 retries %4 timeouts %5 stale %6")
                     .arg(s.polls)
                     .arg(s.valid)
                     .arg(s.requests)
                     .arg(s.retries)
                     .arg(s.timeouts)
                     .arg(s.stale),
                 status);
    }

    // The terminal's own sends wait for the transaction on the line; its receive reads
    // nothing while the master polls and is automatic again after; a bad read sends nothing.
    void sharesThePort() {
        Rig rig;
        QVERIFY(rig.start({"--static", "--delay", "150"}));
        QVERIFY(!rig.m->setReads({{request("1 3 65500 100"), 0, 500, 0}}));
        QVERIFY(rig.m->setReads({{request("1 3 0 1"), 0, 1000, 0}}));
        QSignalSpy done(rig.m.get(), &engine::ModbusMaster::done);
        rig.m->start();
        QVERIFY(rig.e->manualReceive());
        // "Auto Recv" clicked while a reply is awaited: the reply still reaches the master,
        // the terminal's receive does not take it and time the poll out.
        rig.e->startAutoReceive();
        QVERIFY(rig.e->sendBytes("x"));
        QVERIFY(done.wait(2000));
        QVERIFY2(rig.results.value(0).startsWith("r0 ok"), qPrintable(rig.results.join('|')));
        rig.m->stop();
        QTRY_VERIFY(rig.traffic.size() >= 3);
        QCOMPARE(rig.traffic.mid(0, 3), (QStringList{"TX 01 03 00 00 00 01 84 0a", "RX", "TX 78"}));
        QTRY_VERIFY(!rig.e->manualReceive());
        // Closing the port ends polling for good.
        QSignalSpy polling(rig.m.get(), &engine::ModbusMaster::pollingChanged);
        rig.m->start();
        rig.e->close();
        QCOMPARE(polling.size(), 2);
        QVERIFY(!rig.m->polling());
    }

    // On Modbus TCP (a link of that kind, the test playing the server) every try goes out
    // with a new transaction id; a late reply with the previous id, in one read with the
    // right one, is dropped and counted, never taken as the answer: values never shift.
    void modbusTcpDropsStaleReplies() {
        test::EngineRig r(test::fakeLink(serial::LinkKind::ModbusTcp));
        engine::ModbusMaster m(r.e);
        QVERIFY(r.open());
        QStringList results;
        connect(&m, &engine::ModbusMaster::done, &m, [&](const PollResult& p) {
            results << p.text + (p.ok ? ' ' + QString::number(p.reply.registers.at(0)) : "");
        });
        QVERIFY(m.setReads({{request("1 3 0 1"), 0, 300, 0}}));
        m.start();
        QCOMPARE(r.pty.readExactly(12, 1000), QByteArray::fromHex("000100000006010300000001"));
        QCOMPARE(r.pty.readExactly(12, 1000), QByteArray::fromHex("000200000006010300000001"));
        r.pty.write(QByteArray::fromHex("0001000000050103020001") +
                    QByteArray::fromHex("0002000000050103020002"));
        QTRY_COMPARE(results.size(), 2);
        m.stop();
        QCOMPARE(results, (QStringList{"timeout", "ok 2"}));
        QCOMPARE(m.status(0).staleReplies, 1u);
        QVERIFY(QString::fromStdString(modbus::statusText(m.status(0), ""))
                    .contains("stale replies dropped: 1"));
    }

    // Values read over each kind of network port are the server's own (pymodbus: holding
    // register i = 1000 + i; the simulator: input register i = 0x3000 + i), each request in the
    // port's framing: an MBAP header on Modbus TCP, an RTU frame with its CRC on the others.
    void pollsOverTheNetwork_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("values");
        QTest::addColumn<QString>("request"); // the first on the wire, "*" for the id
        QTest::newRow("modbus-tcp: pymodbus, MBAP") << "modbus-tcp"
                                                    << "1 3 10 4"
                                                    << "1010 1011 1012 1013"
                                                    << "* 00 00 00 06 01 03 00 0a 00 04";
        QTest::newRow("tcp: pymodbus, RTU frames over TCP") << "tcp"
                                                            << "1 3 10 4"
                                                            << "1010 1011 1012 1013"
                                                            << "01 03 00 0a 00 04 64 0b";
        QTest::newRow("rfc2217: ser2net to the simulator on a pseudo-terminal")
            << "rfc2217"
            << "1 4 0 4"
            << "12288 12289 12290 12291"
            << "01 04 00 00 00 04 f1 c9";
    }
    void pollsOverTheNetwork() {
        QFETCH(QString, scheme);
        QFETCH(QString, read);
        QFETCH(QString, values);
        QFETCH(QString, request);
        test::PymodbusServer pymodbus;
        test::DevsimProcess sim;
        test::Ser2netProcess ser2net;
        int port = 0;
        if (scheme == "rfc2217") {
            if (!test::Ser2netProcess::installed())
                QSKIP("ser2net is not installed");
            QVERIFY(sim.start({"--static"}) && ser2net.start(sim.path()));
            port = ser2net.rfc2217Port();
        } else {
            if (!test::PymodbusServer::unavailable().empty())
                QSKIP(test::PymodbusServer::unavailable().c_str());
            using F = test::PymodbusServer::Framing;
            QVERIFY(pymodbus.start(scheme == "tcp" ? F::RtuOverTcp : F::Tcp));
            port = pymodbus.port();
        }
        NetRig rig;
        QByteArray first;
        connect(&rig.s.terminal(), &engine::TerminalEngine::sent, &rig.s,
                [&](const QByteArray& b, auto) { first = first.isEmpty() ? b : first; });
        QVERIFY(rig.open(scheme, port));
        QVERIFY(rig.poll(read));
        QTRY_VERIFY(rig.results.size() >= 3);
        rig.s.master().stop();
        QCOMPARE(rig.results.mid(0, 3), QStringList(3, "ok " + values));
        QVERIFY2(test::wildcardMatch(request, first.toHex(' ')), first.toHex(' ').constData());
        QVERIFY2(rig.messages.isEmpty(), qPrintable(rig.messages.join('\n')));
    }

    // A libmodbus server answering wrongly on Modbus TCP: the master never takes the value.
    void wrongReplies_data() {
        QTest::addColumn<bool>("wrongId");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("counts"); // valid, stale replies dropped, other errors
        QTest::newRow("a reply with another transaction id is dropped and counted")
            << true << 0 << -1 << "timeout"
            << "0 1 0";
        QTest::newRow("protocol id 1 is flagged")
            << false << 1 << -1 << "protocol id 1 in the MBAP header, not 0"
            << "0 0 1";
        QTest::newRow("length 0 is flagged")
            << false << 0 << 0 << "MBAP header with an impossible length: * bytes dropped"
            << "0 0 1";
        QTest::newRow("length 300 is flagged")
            << false << 0 << 300 << "MBAP header with an impossible length: * bytes dropped"
            << "0 0 1";
    }
    void wrongReplies() {
        QFETCH(bool, wrongId);
        QFETCH(int, protocol);
        QFETCH(int, length);
        QFETCH(QString, result);
        QFETCH(QString, counts);
        test::LibmodbusServer server;
        QVERIFY(server.start({wrongId, protocol, length, -1}));
        NetRig rig;
        QVERIFY(rig.open("modbus-tcp", server.port()));
        QVERIFY(rig.poll("1 3 10 4", 60000, 200)); // one poll
        QTRY_VERIFY(!rig.results.isEmpty());
        rig.s.master().stop();
        QVERIFY2(test::wildcardMatch(result, rig.results[0]), qPrintable(rig.results[0]));
        const modbus::PollStatus& s = rig.s.master().status(0);
        QCOMPARE(QString("%1 %2 %3").arg(s.valid).arg(s.staleReplies).arg(s.otherErrors), counts);
    }

    // The server closes the connection while a poll waits for its reply: the loss is told
    // once and the port is closed; with Reopen on, polling goes on by itself once the server
    // accepts again.
    void serverClosesWhileAPollWaits_data() {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("Reopen off: the port closes and polling ends") << false;
        QTest::newRow("Reopen on: polling goes on by itself") << true;
    }
    void serverClosesWhileAPollWaits() {
        QFETCH(bool, reopen);
        test::LibmodbusServer server;
        QVERIFY(server.start({false, 0, -1, 2})); // two answers on each connection
        NetRig rig;
        rig.s.terminal().setReopen(reopen);
        QVERIFY(rig.open("modbus-tcp", server.port()));
        QVERIFY(rig.poll("1 3 10 4", 50, 1000));
        QTRY_VERIFY(!rig.s.terminal().isOpen());
        const QStringList ok(2, "ok 1010 1011 1012 1013");
        QCOMPARE(rig.results, ok); // the third poll ends with the port, told to nobody
        QCOMPARE(rig.messages.size(), 1);
        QCOMPARE(rig.s.master().polling(), reopen);
        QCOMPARE(rig.s.terminal().watchingForReopen(), reopen);
        if (!reopen) {
            QTest::qWait(300);
            QCOMPARE(rig.messages.size(), 1);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.results.size() >= 4, 4000);
        rig.s.master().stop();
        QCOMPARE(rig.results.mid(0, 4), ok + ok);
    }

    // Polls of registers whose values differ through a server stopped and started again twice
    // on its port: every value is its register's own, and the requests on the wire are the
    // replies, timeouts, errors and the one waiting (bench_soak_tcp runs 10,000).
    void soakThroughServerRestarts_data() {
        QTest::addColumn<int>("polls");
        QTest::newRow("a poll cut by the lost server counts as an error: the requests add up")
            << 2000;
    }
    void soakThroughServerRestarts() {
        QFETCH(int, polls);
        test::TcpSoak soak(polls, 2);
        QTestEventLoop loop; // QTRY's waits sleep between turns: a poll would wait for them
        soak.finished = [&loop] { loop.exitLoop(); };
        QVERIFY(soak.start());
        loop.enterLoopMSecs(20000);
        QVERIFY(soak.done());
        const test::TcpSoak::Result r = soak.result();
        qInfo("%s", qPrintable(r.text()));
        QCOMPARE(r.polls, polls);
        QCOMPARE(r.shifted, 0);
        QCOMPARE(r.restarts, 2);
        QCOMPARE(r.messages, 2); // each loss told once
        QVERIFY2(r.addsUp(), qPrintable(r.text()));
    }

    // Poll's model lives in the session with no window: a value of two registers shows on its
    // first row, the chart's samples are the values read (not their text) with a gap for a
    // failed poll, and a value the row's format cannot hold is refused with nothing sent.
    void pollModelWithoutAWindow() {
        engine::Session session;
        engine::PollModel& m = session.poll();
        QVERIFY(m.setReads({{{1, 3, 0, 2, {}, {}}, 0, 100, 0}}));
        m.setRowFormat(0, {modbus::ValueType::Float32});
        QVERIFY(m.covered(1) && m.rowOf({1, 3, 1}) < 0);
        QVERIFY(m.setData(m.index(0, m.ColPlot), Qt::Checked, Qt::CheckStateRole));
        const auto report = [&](bool ok, qint64 wallMs) {
            PollResult r{0, m.master().reads()[0].request, ok, false, {}, {}, 0, 0, wallMs};
            r.reply.registers = {0x4049, 0x0FDB};
            emit m.master().done(r);
        };
        report(true, 1000);
        report(false, 2000);
        report(true, 3000);
        QTRY_COMPARE(m.index(0, m.ColValue).data().toString(), QString("3.14159274"));
        QCOMPARE(m.index(0, m.ColRaw).data().toString(), QString("4049 0FDB"));
        const auto runs = m.trace({1, 3, 0})->runs(0);
        QCOMPARE(runs.size(), std::size_t(2));
        QCOMPARE(runs[0][0].second, double(3.14159274f));
        QSignalSpy failed(&m, &engine::PollModel::failed);
        QVERIFY(!m.setData(m.index(0, m.ColValue), "1e39", Qt::EditRole));
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().endsWith("Nothing was sent."));
    }

    // Definitions are judged by the rule Apply uses; a field of the wrong type refuses the file.
    void definitions_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("result"); // the rows as "station function address name", or why
        const QByteArray read = R"({"station":1,"function":3,"address":0,"count":2,"period_ms":0,)"
                                R"("timeout_ms":100,"retries":0})";
        const auto file = [&](const QByteArray& reads, const QByteArray& rest) {
            return "{\"reads\":[" + reads + "]" + rest + "}";
        };
        const QByteArray row = R"({"station":2,"function":3,"address":0,"name":"flow",)"
                               R"("format":"float32","plot":true})";
        QTest::newRow("a row keeps its station")
            << file(read, ",\"rows\":[" + row + "]") << "2 3 0 flow";
        QTest::newRow("always_16 as text is refused: a field of the wrong type")
            << file(read, R"(,"always_16":"yes")")
            << "\"always_16\" is of another type, not true or false";
        QTest::newRow("a name as a number is refused")
            << file(read, ",\"rows\":[" + QByteArray(row).replace("\"flow\"", "7") + "]")
            << "row 1: \"name\" is of another type, not a text";
        QTest::newRow("a row without its station is refused")
            << file(read, ",\"rows\":[" + QByteArray(row).replace("\"station\":2,", "") + "]")
            << "row 1: \"station\" is missing, not a whole number";
        QTest::newRow("retries past 3 are refused as Apply refuses them: one rule")
            << file(QByteArray(read).replace("\"retries\":0", "\"retries\":5"), {})
            << "read 1: the retries \"5\" must be a whole number from 0 to 3";
        QTest::newRow("a timeout of 0 ms is refused as Apply refuses it")
            << file(QByteArray(read).replace("100", "0"), {})
            << "read 1: the timeout \"0\" must be a whole number from 1 to 3600000";
        QTest::newRow("a count past the limit reads as one sentence")
            << file(QByteArray(read).replace("\"count\":2", "\"count\":126"), {})
            << "read 1: the count must be from 1 to 125 registers; 126 is past the protocol's "
               "limit";
    }
    void definitions() {
        QFETCH(QByteArray, json);
        QFETCH(QString, result);
        QStringList got;
        try {
            const engine::PollSetup setup = engine::parseDefinitions(json);
            for (const auto& [k, d] : setup.rows)
                got << QString::number(k.station) + ' ' + QString::number(k.function) + ' ' +
                           QString::number(k.address) + ' ' + d.name;
            // What is saved loads back the same.
            const engine::PollSetup again =
                engine::parseDefinitions(engine::definitionsJson(setup));
            QVERIFY(again.rows == setup.rows && again.reads.size() == setup.reads.size());
        } catch (const Failure& e) {
            got << QString::fromStdString(e.description());
        }
        QCOMPARE(got.join('|'), result);
    }
};

QTEST_GUILESS_MAIN(TstModbusMaster)
#include "tst_modbus_master.moc"
