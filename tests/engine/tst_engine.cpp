// The terminal engine without a window, on a pseudo-terminal pair: receive, send, auto-send,
// the port's life, the modem lines and the traffic it tells.
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <unistd.h>

#include "engine/quick_send.h"
#include "support/engine_rig.h"
#include "support/fake_lines_port.h"
#include "support/test_support.h"

using namespace varnok;
using codec::EndOfString;
using engine::SendRequest;
using test::EngineRig;

Q_DECLARE_METATYPE(EndOfString)

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

} // namespace

class TstEngine : public QObject {
    Q_OBJECT
  private slots:
    void receive_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("showData");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("total");
        const QByteArray awkward = bytes({0, 'a', 0x0D, 0x80, 0xA0, 0xFF});
        QTest::addRow("text, every byte one Latin-1 character")
            << false << true << QByteArrayList{awkward} << QString::fromLatin1(awkward) << 6 << 6;
        QTest::addRow("hex") << true << true << QByteArrayList{bytes({1, 0x0A, 0xFF})}
                             << QStringLiteral("01 0A FF ") << 9 << 9;
        QTest::addRow("emptied past 1024, total keeps counting")
            << false << true << QByteArrayList{QByteArray(1000, 'x'), QByteArray(30, 'y')}
            << QString() << 1030 << 1030;
        QTest::addRow("ShowData off: emptied every read")
            << false << false << QByteArrayList{"abc", "de"} << QString() << 2 << 5;
    }
    void receive() {
        QFETCH(bool, binary);
        QFETCH(bool, showData);
        QFETCH(QByteArrayList, reads);
        EngineRig r;
        QVERIFY(r.open());
        QVERIFY(r.e.autoReceiveRunning());
        r.e.setReceiveBinary(binary);
        r.e.setShowData(showData);
        qsizetype written = 0;
        for (const QByteArray& chunk : reads) {
            r.pty.write(chunk);
            written += chunk.size();
            QTRY_COMPARE(r.received.size(), written);
        }
        QTEST(r.e.displayText(), "display");
        QTEST(int(r.e.receiveLength()), "length");
        QTEST(int(r.e.receiveTotal()), "total");
        QCOMPARE(r.messages, QStringList());
    }

    void manualKeepsTheLastMiB() {
        EngineRig r;
        QVERIFY(r.open());
        r.e.manualRead();
        QTRY_VERIFY(!r.e.autoReceiveRunning());
        for (int i = 0; i < 257; ++i) { // a chunk past the cap, read by hand as it comes
            r.pty.write(i < 256 ? QByteArray(4096, 'a') : QByteArray(4092, 'a') + "tail");
            QTRY_COMPARE((r.e.manualRead(), r.received.size()), (i + 1) * 4096);
        }
        QCOMPARE(r.e.displayText().size(), 1048576);
        QVERIFY(r.e.displayText().endsWith(u"atail"));
        QCOMPARE(r.e.receiveTotal(), 257 * 4096); // what went off the front still counts
    }

    void send_data() {
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QString>("text");
        QTest::addColumn<EndOfString>("eos");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("message");
        QTest::addRow("text and CR")
            << true << "AT" << EndOfString::CR << "" << QByteArray("AT\r") << 3 << "";
        QTest::addRow("no-break space goes as A0")
            << true << QStringLiteral("a\u00A0") << EndOfString::None << "" << bytes({'a', 0xA0})
            << 2 << "";
        QTest::addRow("Def bytes after the text")
            << true << "x" << EndOfString::Def << "1A0" << bytes({'x', 0x1A, 0}) << 3 << "";
        QTest::addRow("Def not hexadecimal: nothing counted or sent")
            << true << "x" << EndOfString::Def << "ZZ" << QByteArray() << 0
            << "Don't use space in \"Def\" field !!";
        QTest::addRow("not Latin-1") << true << QStringLiteral("\u20AC") << EndOfString::None << ""
                                     << QByteArray() << 0 << "*U+20AC*";
        QTest::addRow("binary list")
            << false << " 1 3  ff" << EndOfString::CR << "" << bytes({1, 3, 0xFF}) << 4 << "";
        QTest::addRow("binary, not hexadecimal: counted, not sent")
            << false << "1 G1" << EndOfString::None << "" << QByteArray() << 4
            << "Please send binary data (00~FF) !!";
        QTest::addRow("binary, more than 32766 values: refused, not counted")
            << false << QString(32767 * 2, u' ').replace(QStringLiteral("  "), QStringLiteral("1 "))
            << EndOfString::None << "" << QByteArray() << 0 << "A list holds at most 32766 values*";
        QTest::addRow("binary, value too big")
            << false << "100" << EndOfString::None << "" << QByteArray() << 3
            << "Space need to be placed between every binary data  !!";
    }
    void send() {
        QFETCH(bool, ascii);
        QFETCH(QString, text);
        QFETCH(EndOfString, eos);
        QFETCH(QString, def);
        QFETCH(QByteArray, wire);
        QFETCH(QString, message);
        EngineRig r;
        QVERIFY(r.open());
        r.e.setSendAscii(ascii);
        r.e.send({text.toStdU16String(), eos, def.toStdU16String()});
        QCOMPARE(r.pty.readFor(100), wire);
        QCOMPARE(r.sent, wire);
        QTEST(int(r.e.sendShown()), "shown");
        QCOMPARE(r.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QVERIFY2(test::wildcardMatch(message, r.messages[0]), qPrintable(r.messages[0]));
    }

    void sendTotals() {
        EngineRig r;
        QVERIFY(r.open());
        QList<int> totals;
        QObject::connect(&r.e, &engine::TerminalEngine::sendCountersChanged, &r.e,
                         [&](int, int total) { totals << total; });
        const SendRequest ab{u"ab", EndOfString::None, u""};
        r.e.send(ab);
        r.e.setSendTotalText(QStringLiteral("x1")); // as the user left the box: no number
        r.e.send(ab);
        r.e.clearSendCounters();
        QCOMPARE(totals, (QList<int>{2, 2, 0}));
    }

    void autoSend_data() {
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("def");
        QTest::addColumn<bool>("sends");
        QTest::addColumn<int>("messages");
        QTest::addRow("ticks send") << "20"
                                    << "0D" << true << 0;
        QTest::addRow("0 stops the ticks") << "0"
                                           << "0D" << false << 0;
        QTest::addRow("a period that is no number") << "abc"
                                                    << "0D" << true << 1;
        QTest::addRow("past 65535") << "70000"
                                    << "0D" << true << 1;
        QTest::addRow("a failing tick stops auto-send: it does not come back every period")
            << "1"
            << "ZZ" << false << 1;
    }
    void autoSend() {
        QFETCH(QString, period);
        QFETCH(QString, def);
        EngineRig r;
        QVERIFY(r.open());
        const SendRequest request{u"T", EndOfString::Def, def.toStdU16String()};
        QObject::connect(&r.e, &engine::TerminalEngine::autoSendDue, &r.e,
                         [&] { r.e.send(request, true); });
        r.keep(r.e.setAutoSendPeriod(QStringLiteral("20")));
        r.keep(r.e.setAutoSendPeriod(period));
        r.e.setAutoSend(true);
        test::serveEvents(300);
        QTEST(r.sent.size() > 0, "sends");
        QTEST(int(r.messages.size()), "messages");
        if (!r.messages.isEmpty() && def == u"ZZ")
            QVERIFY(!r.e.autoSend());
        r.e.setAutoSend(false);
        const qsizetype after = r.sent.size();
        test::serveEvents(100);
        QCOMPARE(r.sent.size(), after);
    }

    void openFailures_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("lineControl");
        QTest::addColumn<QString>("message");
        QTest::addRow("nothing mapped") << 200 << ""
                                        << "n,8,1"
                                        << "Com200: no device is mapped*";
        QTest::addRow("no such device") << 5 << "/dev/ttyNONE"
                                        << "n,8,1"
                                        << "Com5: cannot open /dev/ttyNONE: no such device";
        QTest::addRow("not a serial device") << 5 << "/dev/null"
                                             << "n,8,1"
                                             << "*/dev/null*";
        QTest::addRow("line control quoted as typed, not as the composed \"115200,q,8,1\"")
            << 1 << ""
            << "q,8,1"
            << "Invalid line control \"q,8,1\": the parity must be*";
        QTest::addRow("a long line control is cut in the message")
            << 1 << "" << QString(5000, u'x') << "Invalid line control \"xxx*...\" (5000 bytes)*";
        QTest::addRow("1.5 stop bits refused, not run as 1 without a word")
            << 1 << ""
            << "n,8,1.5"
            << "*refuses 1.5 stop bits*";
    }
    void openFailures() {
        QFETCH(int, number);
        QFETCH(QString, path);
        QFETCH(QString, lineControl);
        QFETCH(QString, message);
        EngineRig r;
        if (!path.isEmpty())
            serial::bindPort(number, path.toStdString());
        engine::OpenRequest request;
        request.portNumber = number;
        request.lineControl = lineControl;
        QSignalSpy told(&r.e, &engine::TerminalEngine::message);
        QVERIFY(!r.open(request));
        QCOMPARE(told.size(), 0); // the failure is the call's answer, not a message of its own
        QVERIFY(!r.e.isOpen() && !r.e.port().portOpen());
        QCOMPARE(r.messages.size(), 1);
        QVERIFY2(test::wildcardMatch(message, r.messages[0]), qPrintable(r.messages[0]));
    }

    void openWithoutLine_data() {
        QTest::addColumn<QString>("lineControl");
        QTest::addColumn<bool>("realLine");
        QTest::addColumn<QString>("message"); // "" when it opens
        QTest::addColumn<int>("stopBits");    // in force
        QTest::addRow("pty e,7,2 opens: a pseudo-terminal has no framing to refuse")
            << "e,7,2" << false << "" << 2;
        QTest::addRow("pty o,8,1 opens: a pseudo-terminal has no parity to refuse")
            << "o,8,1" << false << "" << 0;
        QTest::addRow("a real line refusing 7 data bits still fails")
            << "e,7,2" << true << "Com1: * refuses 7 data bits" << 0;
    }
    void openWithoutLine() {
        QFETCH(QString, message);
        QFETCH(bool, realLine);
        auto port = std::make_unique<test::FakeLinesPort>();
        port->realLine = realLine;
        EngineRig r(std::move(port));
        QString noteWhenOpened = "-";
        QObject::connect(&r.e, &engine::TerminalEngine::portOpenChanged, &r.e,
                         [&] { noteWhenOpened = r.e.deviceNote(); });
        engine::OpenRequest request;
        QFETCH(QString, lineControl);
        request.lineControl = lineControl;
        QCOMPARE(r.open(request), message.isEmpty());
        QVERIFY(r.messages.size() == !message.isEmpty() &&
                (message.isEmpty() || test::wildcardMatch(message, r.messages[0])));
        if (message.isEmpty()) {
            QCOMPARE(noteWhenOpened, "pseudo-terminal: no line, framing not applied");
            QFETCH(int, stopBits);
            QCOMPARE(r.e.lineSettings(), (serial::LineSettings{115200, serial::Parity::None, 8,
                                                               serial::StopBits(stopBits)}));
        }
    }

    void unconfirmedSettingsShown() {
        auto port = std::make_unique<test::FakeLinesPort>();
        port->unconfirmed = {serial::LinkSetting::Baud, serial::LinkSetting::Parity};
        EngineRig r(std::move(port));
        QVERIFY(r.open());
        QCOMPARE(r.e.deviceNote(), "pseudo-terminal: no line, framing not applied; baud rate, "
                                   "parity not confirmed");
    }

    void openAndClose() {
        EngineRig r;
        QList<bool> states;
        QObject::connect(&r.e, &engine::TerminalEngine::portOpenChanged, &r.e,
                         [&](bool open) { states << open; });
        QList<qint64> times; // of every write and read, as told
        for (auto signal : {&engine::TerminalEngine::sent, &engine::TerminalEngine::received})
            QObject::connect(&r.e, signal, &r.e, [&](const QByteArray&, engine::TrafficTime t) {
                times << t.monotonicNs;
            });
        r.e.setSendAscii(false);
        QVERIFY(r.open());
        QVERIFY(r.e.sendAscii() && r.e.autoReceiveRunning() && !r.e.manualReceive());
        r.e.send({u"out", EndOfString::None, u""});
        r.pty.write("in");
        QTRY_COMPARE(r.received, QByteArray("in"));
        QCOMPARE(r.sent, QByteArray("out"));
        QVERIFY(times.size() == 2 && times[0] < times[1]);
        r.e.close();
        QVERIFY(!r.e.isOpen() && !r.e.autoReceiveRunning());
        r.e.clearInput(); // closed: nothing to do, nothing to say
        QVERIFY(r.open());
        r.e.close();
        QCOMPARE(states, (QList<bool>{true, false, true, false}));
        QCOMPARE(r.messages, QStringList());
    }

    // A far end that stops reading is no lost device, and only what reaches the line counts.
    void farEndStopsReading() {
        EngineRig r;
        QVERIFY(r.open());
        const QString chunk(10000, u'x');
        QObject::connect(&r.e, &engine::TerminalEngine::autoSendDue, &r.e, [&] {
            r.e.send({chunk.toStdU16String(), EndOfString::None, u""}, true);
        });
        int total = 0;
        QObject::connect(&r.e, &engine::TerminalEngine::sendCountersChanged, &r.e,
                         [&](int, int t) { total = t; });
        r.keep(r.e.setAutoSendPeriod(QStringLiteral("1")));
        r.e.setAutoSend(true);
        test::serveEvents(1500);
        r.e.setAutoSend(false);
        QVERIFY(r.e.isOpen() && total > 1000000);
        QCOMPARE(r.messages.size(), 1); // the ticks skipped are said once
        QVERIFY2(r.messages[0].contains(QStringLiteral("blocked")), qPrintable(r.messages[0]));
        // A send by hand that does not fit is refused whole and not counted.
        const int before = total;
        r.e.send({chunk.toStdU16String(), EndOfString::None, u""});
        QCOMPARE(total, before);
        QCOMPARE(r.messages.size(), 2);
        // The far end reads again: every counted byte arrives.
        QByteArray arrived;
        QElapsedTimer t;
        t.start();
        while (arrived.size() < total && t.elapsed() < 20000)
            arrived += r.pty.readFor(20);
        QCOMPARE(arrived, QByteArray(total, 'x'));
    }

    void deviceVanishes_data() {
        QTest::addColumn<int>("doing");
        QTest::addRow("auto receive") << 0;
        QTest::addRow("manual receive") << 1;
        QTest::addRow("auto-send") << 2;
        // Quick Send's timers stop with the port: none of them meets it closed afterwards.
        QTest::addRow("Quick Send repeating: one message, no second 'port is not open'") << 3;
        QTest::addRow("Quick Send sequence: one message, no second 'port is not open'") << 4;
        QTest::addRow("Quick Send file: one message, the stop shown beside the file only") << 5;
    }
    void deviceVanishes() {
        QFETCH(int, doing);
        EngineRig r;
        QVERIFY(r.open());
        engine::QuickSender sender(&r.e);
        QObject::connect(&sender, &engine::QuickSender::failed, &r.e,
                         [&](const QString& t) { r.messages << t; });
        sender.setBook({{{u"x", u"x", {}, {}, {}, 0, 0, 10}}, {{u"s", {{u"x", 10}}, 0}}, {}});
        if (doing == 3)
            sender.setRepeating(0, true);
        if (doing == 4)
            sender.runSequence(0);
        if (doing == 5)
            sender.startFile(QByteArray(1000, 'x'), quicksend::Pace::PerCharacter, 10);
        if (doing == 1)
            r.e.manualRead();
        if (doing == 2) {
            QObject::connect(&r.e, &engine::TerminalEngine::autoSendDue, &r.e, [&] {
                r.e.send({u"x", EndOfString::None, u""}, true);
            });
            r.keep(r.e.setAutoSendPeriod(QStringLiteral("10")));
            r.e.setAutoSend(true);
        }
        test::serveEvents(50);
        r.pty.closeMaster();
        QTRY_VERIFY(!r.e.isOpen());
        // Exactly one message, and no busy loop on the dead descriptor afterwards.
        QVERIFY2(test::cpuOver(1000) < 0.1, "busy after the device vanished");
        QVERIFY2(r.messages.size() == 1 && r.messages[0].contains(u"no longer available"),
                 qPrintable(r.messages.join(u'|')));
        QVERIFY(!r.e.autoSend() && !r.e.autoReceiveRunning());
    }

    void reopenWhenTheDeviceReturns() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        auto first = std::make_unique<test::PtyPair>();
        QVERIFY(QFile::link(first->slavePath(), link));
        EngineRig r;
        serial::bindPort(1, link.toStdString());
        QSignalSpy reopened(&r.e, &engine::TerminalEngine::reopened);
        r.e.setReopen(true);
        QVERIFY(r.open());
        r.e.setReceiveBinary(true);
        first->closeMaster();
        QTRY_VERIFY(!r.e.isOpen());
        QFile::remove(link);
        // Waiting costs nothing: the system says when the folder changes.
        QVERIFY2(test::cpuOver(1000) < 0.05, "busy while waiting for the device");
        test::PtyPair second;
        QVERIFY(QFile::link(second.slavePath(), link));
        QTRY_VERIFY(r.e.isOpen());
        QCOMPARE(reopened.size(), 1);
        QCOMPARE(r.messages.size(), 1); // the loss only; the return is told by a signal
        QVERIFY(r.e.receiveBinary() && r.e.autoReceiveRunning());
        second.write("\x42");
        QTRY_COMPARE(r.e.displayText(), QStringLiteral("42 "));
    }

    // A read that finds nothing (another read took the bytes between the poll and the
    // notifier) is no vanished device in the middle of a flood, and no byte is lost.
    void floodWhileTheUserWorks() {
        EngineRig r;
        QVERIFY(r.open());
        std::atomic<bool> stop{false}, done{false};
        std::atomic<qint64> written{0};
        const int fd = r.pty.masterFd();
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); // the writer waits when full
        std::thread writer([&] {
            QRandomGenerator g(7);
            char buf[4096];
            while (!stop) {
                for (char& c : buf)
                    c = static_cast<char>(g.bounded(256));
                const ssize_t n = ::write(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                written += n;
            }
            done = true;
        });
        // A timer beside the flood: a growing queue of wake-ups would starve it.
        QElapsedTimer t;
        t.start();
        qint64 last = 0, worstGap = 0;
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, &beat, [&] {
            worstGap = std::max(worstGap, t.elapsed() - last);
            last = t.elapsed();
        });
        beat.start(20);
        const std::function<void()> actions[] = {
            [&] { r.e.setReceiveBinary(!r.e.receiveBinary()); }, [&] { r.e.clearReceive(); },
            [&] { r.e.setShowData(!r.e.receiveBinary()); },
            [&] {
                r.e.send({u"ping", EndOfString::CR, u""});
            }};
        for (int step = 0; t.elapsed() < 1500; ++step) {
            actions[step % 4]();
            test::serveEvents(30);
        }
        stop = true; // the writer may wait on a full line: events go on until it is done
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        writer.join();
        QTRY_COMPARE_WITH_TIMEOUT(r.received.size(), written.load(), 10000);
        QVERIFY(written > 500000);
        QVERIFY(r.e.isOpen());
        QCOMPARE(r.messages, QStringList());
        QVERIFY2(worstGap < 500, qPrintable(QString::number(worstGap)));
    }

    void floodPacesTheCounters() {
        // Text is told once a frame all along; the counters once in several frames while the
        // flood lasts, and whole after its last frame.
        EngineRig r;
        QVERIFY(r.open());
        int texts = 0, counters = 0;
        std::int32_t total = -1;
        using E = engine::TerminalEngine;
        QObject::connect(&r.e, &E::displayAppended, &r.e, [&] { ++texts; });
        QObject::connect(&r.e, &E::receiveCountersChanged, &r.e,
                         [&](std::int32_t, std::int32_t t) { ++counters, total = t; });
        const int fd = r.pty.masterFd();
        QElapsedTimer flood;
        flood.start();
        std::thread writer([fd] { // 64 bytes every 4 ms: a small write to a read line
            const char line[64] = {'x'};
            for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(4)))
                if (::write(fd, line, sizeof line) != sizeof line)
                    return; // the count below tells
        });
        QTRY_COMPARE_WITH_TIMEOUT(r.received.size(), 250 * 64, 5000);
        writer.join();
        const qint64 floodMs = flood.elapsed();
        QTRY_COMPARE(total, 250 * 64);
        const QString seen =
            QStringLiteral("%1 texts, %2 counters in %3 ms").arg(texts).arg(counters).arg(floodMs);
        QVERIFY2(counters < texts, qPrintable(seen));
        // A machine too busy to keep the writer's pace leaves quiet frames in the flood, and
        // each of them rightly tells the counters at once: the pace is judged on a real flood.
        if (floodMs < 1500)
            QVERIFY2(counters <= 20, qPrintable(seen));
    }

    void modemLinesAndLink() {
        auto owned = std::make_unique<test::FakeLinesPort>();
        test::FakeLinesPort* port = owned.get();
        EngineRig r(std::move(owned));
        QList<serial::ModemLines> shown;
        QObject::connect(&r.e, &engine::TerminalEngine::modemLinesChanged, &r.e,
                         [&](bool known, serial::ModemLines l) {
                             if (known)
                                 shown << l;
                         });
        QStringList links{r.e.linkState()};
        QVERIFY(r.open());
        r.e.pollLink();
        links << r.e.linkState();
        port->lines = {true, false, true};
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown.back(), (serial::ModemLines{true, false, true}));
        r.e.pollLink();
        QCOMPARE(links << r.e.linkState(),
                 (QStringList{"Local Breaking", "Opposite Breaking", "Connecting..."}));
        // One read of the driver per receive pass, not one per line.
        port->lineReads = 0;
        test::serveEvents(200);
        QVERIFY2(port->lineReads <= 200 / serial::CommPort::kLinesPollMs + 2,
                 qPrintable(QString::number(port->lineReads)));
        // Lines that cannot be read end auto receive with one message.
        port->failLineReads = true;
        QTRY_VERIFY(!r.e.autoReceiveRunning());
        QCOMPARE(r.messages.size(), 1);
        QVERIFY(r.messages[0].startsWith(QStringLiteral("AutoRecv => ErrCode=8099")));
    }

    void modbusRequest_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("modbusTcp"); // sent twice over a link of Modbus TCP
        QTest::addRow("frame with its CRC, low byte first")
            << "1 3 0 0 0 1" << QByteArray::fromHex("010300000001840A") << "" << false;
        QTest::addRow("value too big")
            << "1 100" << QByteArray() << "Space need to be placed between every binary data"
            << false;
        QTest::addRow("Modbus TCP: the first byte is the unit id, behind a header with the next id")
            << "1 3 0 0 0 1"
            << QByteArray::fromHex("000100000006010300000001000200000006010300000001") << ""
            << true;
    }
    void modbusRequest() {
        QFETCH(QString, list);
        QFETCH(QByteArray, wire);
        QFETCH(QString, message);
        QFETCH(bool, modbusTcp);
        EngineRig r(
            test::fakeLink(modbusTcp ? serial::LinkKind::ModbusTcp : serial::LinkKind::Device));
        QVERIFY(!r.e.sendRtuRequest(list.toStdU16String())); // closed: nothing, silently
        QVERIFY(r.open());
        const auto frame = r.e.sendRtuRequest(list.toStdU16String());
        if (modbusTcp)
            QVERIFY(r.e.sendRtuRequest(list.toStdU16String()));
        QCOMPARE(frame.has_value(), !wire.isEmpty());
        QCOMPARE(r.pty.readFor(100), wire);
        QCOMPARE(r.messages, message.isEmpty() ? QStringList() : QStringList{message});
    }

    // The console exchange for the network dialog, without blocking: input left from before
    // (a late answer) is dropped before the command goes out, though still told as traffic;
    // the reply is what came during the pause and right after it. The device vanishing
    // meanwhile is told once, and the exchange ends without a reply.
    void consoleExchange_data() {
        QTest::addColumn<bool>("vanish");
        QTest::addRow("late answer dropped before the command, the reply its own") << false;
        QTest::addRow("device gone during the pause: one message, no reply") << true;
    }
    void consoleExchange() {
        QFETCH(bool, vanish);
        EngineRig r;
        QVERIFY(r.open());
        r.e.setReceiveBinary(true);
        r.e.setReceiveBinary(false); // as the console dialog leaves the receive
        r.e.manualRead();
        QVERIFY(r.e.manualReceive() && !r.e.receiveBinary());
        QTRY_VERIFY(!r.e.autoReceiveRunning());
        r.pty.write("late ");
        test::serveEvents(20);
        std::optional<std::optional<QString>> done; // the call, and what it was given
        QElapsedTimer t;
        t.start();
        QVERIFY(r.e.consoleExchange(QStringLiteral("ip\r"), 200, QStringLiteral("GET"), &r.e,
                                    [&](std::optional<QString> reply) { done = reply; }));
        QVERIFY(t.elapsed() < 100);
        QCOMPARE(r.pty.readFor(50), QByteArray("ip\r"));
        if (vanish)
            r.pty.closeMaster();
        else
            r.pty.write("ip = 10.0.0.1\r");
        QTRY_VERIFY(done.has_value());
        QCOMPARE(*done, vanish ? std::nullopt : std::optional(QStringLiteral("ip = 10.0.0.1\r")));
        test::serveEvents(100);
        QCOMPARE(r.messages.size(), vanish ? 1 : 0);
        QCOMPARE(r.e.isOpen(), !vanish);
        if (vanish)
            return;
        QCOMPARE(r.received, QByteArray("late ip = 10.0.0.1\r"));
        r.e.scheduleAutoReceive(10);
        QTRY_VERIFY(r.e.autoReceiveRunning() && !r.e.manualReceive());
    }

    // ---- the line, one user at a time ----

    // The second ask waits for the first lease, is granted in order when it ends, and the
    // holder hears it is wanted; a withdrawn ask is never granted.
    void leasesTakeTurns() {
        EngineRig r;
        QVERIFY(r.open());
        using engine::LineLease, engine::LineUse;
        LineLease a, b, c;
        int wanted = 0;
        r.e.askForLine(LineUse("A"), &r.e, [&](LineLease l) { a = std::move(l); });
        QVERIFY(a.held());
        a.onWanted([&] { ++wanted; });
        r.e.askForLine(LineUse("B"), &r.e, [&](LineLease l) { b = std::move(l); });
        const auto ticket =
            r.e.askForLine(LineUse("C"), &r.e, [&](LineLease l) { c = std::move(l); });
        r.e.withdrawAsk(ticket);
        QVERIFY(!b.held() && a.wanted());
        QCOMPARE(wanted, 1);
        QCOMPARE(r.e.lineHolder(), QString("A"));
        a.release();
        QVERIFY(b.held() && !c.held());
        QCOMPARE(r.e.lineHolder(), QString("B"));
        b.release();
        QVERIFY(!c.held());
        QCOMPARE(r.e.lineHolder(), QString());
    }

    // Sends are held while any hold lives (a count): the first hold's end sends nothing yet.
    void sendHoldsCount() {
        EngineRig r;
        QVERIFY(r.open());
        engine::LineLease lease;
        r.e.askForLine(engine::LineUse("test", false), &r.e,
                       [&](engine::LineLease l) { lease = std::move(l); });
        engine::SendHold first = lease.holdSends(), second = lease.holdSends();
        QVERIFY(r.e.sendBytes("x")); // held, not refused
        first.release();
        QCOMPARE(r.pty.readFor(50), QByteArray());
        second.release();
        QCOMPARE(r.pty.readFor(200), QByteArray("x"));
    }

    // Auto receive stops for the first lease taking the input, stays off while the line goes
    // to the next one, and comes back once the last has given it back: a hand-over does not
    // leave the terminal in manual receive.
    void inputComesBackAfterAHandOver() {
        EngineRig r;
        QVERIFY(r.open());
        r.e.startAutoReceive();
        QVERIFY(r.e.autoReceiveRunning());
        engine::LineLease a, b;
        r.e.askForLine(engine::LineUse("A"), &r.e, [&](engine::LineLease l) { a = std::move(l); });
        r.e.askForLine(engine::LineUse("B"), &r.e, [&](engine::LineLease l) { b = std::move(l); });
        QVERIFY(!r.e.autoReceiveRunning());
        a.release();
        QVERIFY(b.held());
        r.pty.write("for B");
        QByteArray got;
        QTRY_COMPARE(got += b.read(), QByteArray("for B"));
        test::serveEvents(50);
        QVERIFY(!r.e.autoReceiveRunning() && r.e.displayText().isEmpty());
        b.release();
        QTRY_VERIFY(r.e.autoReceiveRunning() && !r.e.manualReceive());
    }

    // Settings a lease changed come back when it ends; closing the port ends the lease and
    // drops the asks waiting.
    void settingsComeBackAndClosingEndsLeases() {
        EngineRig r;
        QVERIFY(r.open());
        {
            engine::LineLease lease;
            r.e.askForLine(engine::LineUse("sweep"), &r.e,
                           [&](engine::LineLease l) { lease = std::move(l); });
            QVERIFY(lease.changeLineSettings(serial::LineSettings{9600}));
            QCOMPARE(r.e.lineSettings().baud, 9600);
        }
        QCOMPARE(r.e.lineSettings().baud, 115200);
        engine::LineLease held, waiting;
        r.e.askForLine(engine::LineUse("A"), &r.e,
                       [&](engine::LineLease l) { held = std::move(l); });
        r.e.askForLine(engine::LineUse("B"), &r.e,
                       [&](engine::LineLease l) { waiting = std::move(l); });
        r.e.close();
        QVERIFY(!held.held() && r.e.lineHolder().isEmpty());
        QVERIFY(r.open());
        held.release();
        QVERIFY(!waiting.held());
    }
};

QTEST_MAIN(TstEngine)
#include "tst_engine.moc"
