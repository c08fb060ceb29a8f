// Port B beside the terminal's port: listen only, the tap and the bridge, on real
// pseudo-terminal pairs.
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "engine/session.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/numbered_flood.h"
#include "support/pty_pair.h"

using namespace varnok;
using engine::BusPorts;

namespace {

// A session on Com1 = `a` (the test holds its device end), Com2 = `b`, with all it tells.
struct Rig {
    test::PtyPair a, b;
    engine::Session s;
    QStringList told; // messages, refusals and failures of every sender, losses and returns
    QByteArray fromB; // told by the bus for port B
    int lost = 0, back = 0;
    Rig() {
        serial::bindPort(1, a.slavePath().toStdString());
        serial::bindPort(2, b.slavePath().toStdString());
        const auto keep = [this](const QString& t) { told << t; };
        QObject::connect(&s.terminal(), &engine::TerminalEngine::message, &s, keep);
        QObject::connect(&s.master(), &engine::ModbusMaster::refused, &s, keep);
        QObject::connect(&s.quickSend(), &engine::QuickSender::failed, &s, keep);
        QObject::connect(&s.bus(), &BusPorts::sideLost, &s, [this, keep](const QString& t) {
            ++lost;
            keep(t);
        });
        QObject::connect(&s.bus(), &BusPorts::sideBack, &s, [this](const QString&) { ++back; });
        QObject::connect(&s.bus(), &BusPorts::received, &s,
                         [this](const QByteArray& x, engine::TrafficTime) { fromB += x; });
    }
    ~Rig() {
        s.shutdown();
        serial::clearPortBindings();
    }
    bool open() { return s.terminal().open({}).ok(); }
    void keep(const engine::Outcome& o) {
        if (!o)
            told << o.failure();
    }
};

const QString kListen = QStringLiteral("Listen only is on in the Monitor: nothing is sent.");

} // namespace

class TestBusPorts : public QObject {
    Q_OBJECT
    QTemporaryDir runtime_; // the bridge's link goes here, not where a running program has its own

  private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit()); }
    void listenOnlyRefusesEachSender_data();
    void listenOnlyRefusesEachSender();
    void tapTellsBAndWritesNothing();
    void tapKeepsAWhenBVanishesAndReopensB();
    void bridgeCarriesModbusToCreatedPty();
    void bridgeFloodedBothWaysLosesNothing();
    void bridgeStopsWhenBVanishes();
    void lowLatencyOnPtyTellsWhyNot();
};

// Each sender, started while listen only is on ("Poll running": started before).
using Sender = std::function<void(Rig&)>;
const std::vector<std::pair<const char*, Sender>>& senders() {
    static const std::vector<std::pair<const char*, Sender>> all = {
        {"terminal Send",
         [](Rig& r) {
             r.s.terminal().send({u"hi", {}, {}});
         }},
        {"auto-send tick",
         [](Rig& r) {
             r.s.terminal().send({u"hi", {}, {}}, true);
         }},
        {"Modbus tool send",
         [](Rig& r) { (void)r.s.terminal().sendRtuRequest(u"01 03 00 00 00 01"); }},
        {"sendBytes", [](Rig& r) { r.keep(r.s.terminal().sendBytes("x")); }},
        {"console exchange",
         [](Rig& r) {
             r.keep(r.s.terminal().consoleExchange("AT\r", 0, "Read", &r.s, [](auto) {}));
         }},
        {"Poll start", [](Rig& r) { r.s.master().start(); }},
        {"Poll running", [](Rig&) {}},
        {"Poll write",
         [](Rig& r) {
             r.keep(r.s.master().write({1, 6, 0, 1, {7}, {}}));
         }},
        {"Find start",
         [](Rig& r) {
             engine::FindRequest f;
             f.bauds = {9600};
             f.framings = {serial::parseSettings("9600,n,8,1")};
             r.keep(r.s.finder().start(f));
         }},
        {"Quick Send entry", [](Rig& r) { r.keep(r.s.quickSend().sendEntry(0)); }},
        {"Quick Send sequence", [](Rig& r) { r.s.quickSend().runSequence(0); }},
        {"Quick Send file",
         [](Rig& r) { r.s.quickSend().startFile("abc", quicksend::Pace::FullSpeed, 0); }},
        {"Quick Send auto-answer",
         [](Rig& r) {
             r.s.quickSend().setRulesEnabled(true);
             r.a.write("PING");
         }},
        {"Quick Send break", [](Rig& r) { r.s.quickSend().sendBreak(10); }},
        {"Quick Send RTS", [](Rig& r) { r.keep(r.s.quickSend().setRts(true)); }},
        // A user that did not ask first meets the write path's own guard.
        {"a lease's write",
         [](Rig& r) {
             r.s.terminal().askForLine(engine::LineUse(QStringLiteral("x")), &r.s,
                                       [&r](engine::LineLease l) {
                                           try {
                                               l.write("x");
                                           } catch (const Failure& f) {
                                               r.told << QString::fromStdString(f.description());
                                           }
                                       });
         }},
    };
    return all;
}

void TestBusPorts::listenOnlyRefusesEachSender_data() {
    QTest::addColumn<int>("sender");
    for (int i = 0; i < int(senders().size()); ++i)
        QTest::newRow(senders()[std::size_t(i)].first) << i;
}

void TestBusPorts::listenOnlyRefusesEachSender() {
    QFETCH(int, sender);
    Rig r;
    QVERIFY(r.open());
    engine::QuickSendBook book;
    book.entries = {{u"ok", u"OK"}};
    book.sequences = {{u"one", {{u"ok", 0}}, 1}};
    book.rules = {{{quicksend::PatternKind::Text, u"PING"}, u"ok"}};
    r.s.quickSend().setBook(book);
    QVERIFY(r.s.master().setReads({{{1, 3, 0, 1, {}, {}}, 0, 100, 0}}));
    const bool running = QByteArray(senders()[std::size_t(sender)].first) == "Poll running";
    if (running) {
        r.s.master().start();
        QVERIFY(!r.a.readExactly(8, 2000).isEmpty());
    }
    QSignalSpy changed(&r.s.terminal(), &engine::TerminalEngine::listenOnlyChanged);
    r.s.terminal().setListenOnly(true);
    QCOMPARE(changed.count(), 1);
    senders()[std::size_t(sender)].second(r);
    QTRY_VERIFY(!r.told.isEmpty());
    QVERIFY2(r.told.join('|').contains(kListen), qPrintable(r.told.join('|')));
    QVERIFY(!r.s.master().polling());
    r.a.readAvailable(); // a poll in flight when listen only went on
    QCOMPARE(r.a.readFor(150), QByteArray());
}

void TestBusPorts::tapTellsBAndWritesNothing() {
    Rig r;
    QVERIFY(!r.s.bus().startTap(2)); // A closed
    QVERIFY(r.open());
    QVERIFY(r.s.bus().startTap(2));
    QCOMPARE(r.s.bus().mode(), BusPorts::Mode::Tap);
    QVERIFY(r.s.terminal().listenOnly());
    QVERIFY(r.s.bus().labelB().startsWith("Port B (Com2, /dev/pts/"));
    QByteArray fromA;
    QObject::connect(&r.s.terminal(), &engine::TerminalEngine::received, &r.s,
                     [&](const QByteArray& x, engine::TrafficTime) { fromA += x; });
    r.a.write("request");
    r.b.write("reply");
    QTRY_COMPARE(r.fromB, QByteArray("reply"));
    QTRY_COMPARE(fromA, QByteArray("request"));
    r.s.terminal().send({u"x", {}, {}});
    QCOMPARE(r.a.readFor(100), QByteArray());
    QCOMPARE(r.b.readFor(10), QByteArray());
    r.s.bus().stop();
    QVERIFY(!r.s.terminal().listenOnly());
}

void TestBusPorts::tapKeepsAWhenBVanishesAndReopensB() {
    QTemporaryDir dir;
    const QString link = dir.filePath("b");
    auto b1 = std::make_unique<test::PtyPair>();
    QVERIFY(QFile::link(b1->slavePath(), link));
    Rig r;
    serial::bindPort(2, link.toStdString());
    r.s.terminal().setReopen(true);
    QVERIFY(r.open());
    QVERIFY(r.s.bus().startTap(2));
    b1->closeMaster();
    QTRY_COMPARE(r.lost, 1);
    QVERIFY(r.told.last().endsWith(" is gone"));
    QVERIFY(r.told.last().startsWith("Port B (Com2, "));
    QByteArray fromA;
    QObject::connect(&r.s.terminal(), &engine::TerminalEngine::received, &r.s,
                     [&](const QByteArray& x, engine::TrafficTime) { fromA += x; });
    r.a.write("still");
    QTRY_COMPARE(fromA, QByteArray("still"));
    test::PtyPair b2;
    QFile::remove(link);
    QVERIFY(QFile::link(b2.slavePath(), link));
    QTRY_COMPARE_WITH_TIMEOUT(r.back, 1, 5000);
    b2.write("again");
    QTRY_COMPARE(r.fromB, QByteArray("again"));
    QCOMPARE(r.lost, 1);
}

void TestBusPorts::bridgeCarriesModbusToCreatedPty() {
    test::DevsimProcess sim;
    QVERIFY(sim.start({"--static"}));
    Rig r;
    serial::bindPort(1, sim.path().toStdString());
    QVERIFY(r.open());
    QVERIFY(r.s.bus().startBridge(std::nullopt));
    const QString path = r.s.bus().ptyPath();
    QCOMPARE(path, runtime_.filePath("varnok-binary/bridge"));
    QVERIFY(QFileInfo(path).isSymLink());
    QCOMPARE(QFileInfo(path).symLinkTarget(), r.s.bus().ptyDevice());
    QVERIFY(r.s.bus().ptyDevice().startsWith("/dev/pts/"));
    std::atomic<int> got{-2};
    uint16_t regs[2] = {};
    std::thread master([&] {
        modbus_t* ctx = modbus_new_rtu(path.toLocal8Bit().constData(), 115200, 'N', 8, 1);
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 2, 0);
        got = modbus_connect(ctx) == 0 ? modbus_read_registers(ctx, 52, 2, regs) : -3;
        modbus_close(ctx);
        modbus_free(ctx);
    });
    QTRY_VERIFY_WITH_TIMEOUT(got != -2, 5000);
    master.join();
    QCOMPARE(int(got), 2);
    QCOMPARE(regs[0], uint16_t(0x4049));
    QCOMPARE(regs[1], uint16_t(0x0FDB));
    r.s.bus().stop();
    QVERIFY(!QFileInfo::exists(path) && !QFileInfo(path).isSymLink());
}

void TestBusPorts::bridgeFloodedBothWaysLosesNothing() {
    Rig r;
    QVERIFY(r.open());
    QVERIFY(r.s.bus().startBridge(std::nullopt));
    const int far = ::open(r.s.bus().ptyPath().toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    QVERIFY(far >= 0);
    termios t{};
    ::tcgetattr(far, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(far, TCSANOW, &t);
    ::fcntl(r.a.masterFd(), F_SETFL, ::fcntl(r.a.masterFd(), F_GETFL) | O_NONBLOCK);
    std::atomic<long> errors{-1};
    std::thread ends([&] { // the pseudo-terminal's reader stalls for a while
        errors = test::numberedFlood({r.a.masterFd(), far}, {1 << 20, 0, true, far, 500, 4096});
    });
    QTRY_VERIFY_WITH_TIMEOUT(errors >= 0, 30000);
    ends.join();
    QCOMPARE(long(errors), 0L);
    QCOMPARE(r.s.bus().forwardedToA(), qint64(1 << 20));
    QCOMPARE(r.s.bus().forwardedToB(), qint64(1 << 20));
    // The stalled side held its queue to the bound: the other side's device held the rest.
    QVERIFY2(r.s.bus().peakQueued() <= BusPorts::kQueueBound + 5 * 65536,
             qPrintable(QString::number(r.s.bus().peakQueued())));
    ::close(far);
}

void TestBusPorts::bridgeStopsWhenBVanishes() {
    Rig r;
    QVERIFY(r.open());
    QVERIFY(r.s.bus().startBridge(2));
    QByteArray rx, tx; // what the terminal tells of A: read from it and written to it
    QObject::connect(&r.s.terminal(), &engine::TerminalEngine::received, &r.s,
                     [&](const QByteArray& x, engine::TrafficTime) { rx += x; });
    QObject::connect(&r.s.terminal(), &engine::TerminalEngine::sent, &r.s,
                     [&](const QByteArray& x, engine::TrafficTime) { tx += x; });
    r.a.write("ab");
    QCOMPARE(r.b.readExactly(2, 2000), QByteArray("ab"));
    r.b.write("cd");
    QCOMPARE(r.a.readExactly(2, 2000), QByteArray("cd"));
    QCOMPARE(rx + tx, QByteArray("abcd"));
    r.b.closeMaster();
    QTRY_COMPARE(r.s.bus().mode(), BusPorts::Mode::Single);
    QCOMPARE(r.lost, 1);
    QVERIFY(!r.s.terminal().listenOnly());
    QCOMPARE(r.a.readFor(100), QByteArray());
    QCOMPARE(r.lost, 1);
}

void TestBusPorts::lowLatencyOnPtyTellsWhyNot() {
    Rig r;
    QVERIFY(r.open());
    const QString why = r.s.terminal().setLowLatency(true);
    QCOMPARE(why, QStringLiteral("low latency not available on %1: Inappropriate ioctl for device")
                      .arg(r.a.slavePath()));
    QCOMPARE(r.s.terminal().setLowLatency(false), QString());
}

QTEST_MAIN(TestBusPorts)
#include "tst_bus_ports.moc"
