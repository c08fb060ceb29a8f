// The monitor's window-free parts: the capture file on a disk that fills, and the frame
// table's ring of the newest frames.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "engine/monitor/capture_file.h"
#include "engine/monitor/frame_table_model.h"
#include "engine/monitor/traffic_recorder.h"
#include "engine/session.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/engine_rig.h"
#include "support/fake_lines_port.h"
#include "support/numbered_frames.h"
#include "support/tap_cable.h"
#include "support/test_support.h"

using namespace varnok;
using test::numbered;
using test::numberOf;

class TstMonitorEngine : public QObject {
    Q_OBJECT
  private slots:
    // On a 64 KiB file system: a filler leaves `room` bytes, then `size` bytes are captured
    // and the capture is stopped (or left to its flush).
    void smallDisk_data() {
        QTest::addColumn<int>("room");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("stop");
        QTest::addRow("at a write: the system's reason, not \"Unknown error\"")
            << 8192 << 100000 << true;
        QTest::addRow("at the flush: the system's reason, not \"Unknown error\"")
            << 8192 << 9000 << false;
        QTest::addRow("at stop: the system's reason, not \"Unknown error\"")
            << 4096 << 5000 << true;
    }
    void smallDisk() {
        QFETCH(int, room);
        QFETCH(int, size);
        QFETCH(bool, stop);
        QTemporaryDir dir;
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", dir.path()}))
            QSKIP("mounting a small tmpfs needs root");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {dir.path()}); });
        QVERIFY(test::writeFile(dir.filePath("filler"), QByteArray(64 * 1024 - room, 'f')));
        CaptureFile capture;
        QStringList failures;
        connect(&capture, &CaptureFile::failed, this, [&](const QString& t) { failures << t; });
        const QString path = dir.filePath("capture");
        QCOMPARE(capture.start(path, true), QString());
        QByteArray bytes(size, 0);
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7);
        capture.write(bytes.constData(), bytes.size());
        if (stop)
            capture.stop();
        QTRY_COMPARE(failures, QStringList{"Capture stopped: cannot write " + path +
                                           ": No space left on device"});
        const QByteArray kept = test::fileBytes(path);
        QVERIFY(kept.size() >= room / 2 && bytes.startsWith(kept));
    }

    // The recorder learns what carries the port when it opens: on Modbus TCP it frames and
    // decodes ADUs, and a text capture's first line names the port.
    void learnsTheLink() {
        test::EngineRig r(test::fakeLink(serial::LinkKind::ModbusTcp));
        TrafficRecorder recorder(&r.e);
        recorder.start();
        QVERIFY(r.open());
        QCOMPARE(int(recorder.session().framing()), int(modbus::Framing::Mbap));
        QTemporaryDir dir;
        QVERIFY(
            recorder.startCapture(dir.filePath("c.log"), TrafficRecorder::CaptureForm::Text, true));
        recorder.stopCapture();
        QVERIFY(test::fileBytes(dir.filePath("c.log"))
                    .split('\t')
                    .first()
                    .endsWith(" on " + r.pty.slavePath().toUtf8()));
    }

    // A mark asked between two frames: a MARK row between theirs and, in a text capture, a
    // comment line between their lines.
    void marks_data() {
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("form");
        QTest::addRow("mark between two frames: its row and line between theirs") << true << 0;
        QTest::addRow("raw capture: the mark stays out of the bytes") << true << 1;
        QTest::addRow("recorder not started: the mark is dropped") << false << 0;
    }
    void marks() {
        QFETCH(bool, started);
        QFETCH(int, form);
        test::EngineRig r;
        TrafficRecorder recorder(&r.e);
        if (started)
            recorder.start();
        QVERIFY(r.open());
        r.e.startAutoReceive();
        QTemporaryDir dir;
        QVERIFY(recorder.startCapture(dir.filePath("c"), TrafficRecorder::CaptureForm(form), true));
        r.pty.write("first");
        QTRY_COMPARE(recorder.model()->rowCount(), started ? 1 : 0);
        recorder.mark("step\t2");
        r.pty.write("second");
        QTRY_COMPARE(recorder.model()->rowCount(), started ? 3 : 0);
        recorder.stopCapture();
        const QByteArray file = test::fileBytes(dir.filePath("c"));
        const QStringList lines = QString::fromUtf8(file).split('\n').mid(1);
        if (form == 1)
            QCOMPARE(file, QByteArray("firstsecond"));
        if (!started)
            QCOMPARE(lines, QStringList{""}); // the header alone
        if (form == 1 || !started)
            return;
        QCOMPARE(recorder.model()->index(1, FrameTableModel::Dir).data().toString(), "MARK");
        QCOMPARE(recorder.model()->index(1, FrameTableModel::Decoded).data().toString(), "step 2");
        QVERIFY(lines[0].contains("\tfirst\t") && lines[2].contains("\tsecond\t"));
        QVERIFY(test::wildcardMatch("# mark *:*:*.* step 2", lines[1]));
        QCOMPARE(QString::fromStdString(recorder.model()->line(1)), lines[1]);
    }

    // A lone frame after a quiet spell reaches the table within kBatchMs; a flood reaches it
    // every kFloodBatchMs, not every kBatchMs, as each update repaints the view.
    void tableUpdates() {
        test::EngineRig r;
        TrafficRecorder recorder(&r.e);
        recorder.start();
        QVERIFY(r.open());
        r.e.startAutoReceive();
        int updates = 0;
        connect(recorder.model(), &QAbstractItemModel::rowsInserted, this, [&] { ++updates; });
        QElapsedTimer quiet;
        quiet.start();
        r.pty.write("lone frame");
        QTRY_COMPARE_WITH_TIMEOUT(updates, 1, TrafficRecorder::kFloodBatchMs - 100);
        QVERIFY(quiet.elapsed() < TrafficRecorder::kFloodBatchMs - 100);
        test::serveEvents(TrafficRecorder::kFloodBatchMs); // quiet again
        QTimer flood;
        connect(&flood, &QTimer::timeout, this, [&] { r.pty.write(QByteArray(64, 'x')); });
        flood.start(5);
        updates = 0;
        test::serveEvents(2 * TrafficRecorder::kFloodBatchMs + 100);
        flood.stop();
        QVERIFY2(updates >= 1 && updates <= 3, qPrintable(QString::number(updates)));
    }

    // Frames of `size` bytes, committed `batch` at a time: the table keeps the newest 100,000
    // with their own bytes, also when the ring wraps and byte blocks are used again.
    void ring_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("batch");
        QTest::addRow("under the ring") << 1000 << 8 << 300;
        QTest::addRow("wraps past 100,000") << 250001 << 8 << 7000;
        QTest::addRow("blocks reused") << 130000 << 250 << 20000;
        QTest::addRow("more than a ring between commits: all 100,000 kept")
            << 230000 << 8 << 230000;
    }
    void ring() {
        QFETCH(int, frames);
        QFETCH(int, size);
        QFETCH(int, batch);
        FrameTableModel model;
        for (int i = 0; i < frames; ++i) {
            model.queue(numbered(std::uint32_t(i), std::size_t(size)));
            if ((i + 1) % batch == 0 || i + 1 == frames)
                model.commit();
        }
        const int rows = std::min(frames, FrameTableModel::kMaxRows);
        QCOMPARE(model.rowCount(), rows);
        for (const int row : {0, rows / 3, rows - 1}) {
            QCOMPARE(numberOf(model, row), std::uint32_t(frames - rows + row));
            QCOMPARE(model.bytes(row).size(), std::size_t(size));
            QCOMPARE(int(model.bytes(row).back()), (frames - rows + row) & 0xFF);
        }
        const std::vector<std::uint8_t> last =
            numbered(std::uint32_t(frames - 1), size).frame.bytes;
        const QByteArray hex =
            QByteArray(reinterpret_cast<const char*>(last.data()), size).toHex(' ');
        QVERIFY(test::wildcardMatch("*\t0.010\tRX\t" + QString::number(size) + '\t' +
                                        QString::fromLatin1(hex.toUpper()) + "\t*",
                                    QString::fromStdString(model.line(rows - 1))));
    }

    // A master reads register 0 of each station through a tap cable while the session only
    // listens, a raw capture running; the reply timeout is far longer than the test.
    void hearsTheBus_data() {
        QTest::addColumn<bool>("tap");
        QTest::addColumn<QList<int>>("stations");
        QTest::addRow("listen only on a bus: every request paired with its reply, nothing sent")
            << false << QList<int>(5, 1);
        QTest::addRow("tap: requests from A paired with replies from B, B's frames are RxB")
            << true << QList<int>(5, 1);
        QTest::addRow("station 2 does not answer: a timeout at the next request, not later")
            << false << QList<int>{1, 2, 1};
    }
    void hearsTheBus() {
        QFETCH(bool, tap);
        QFETCH(QList<int>, stations);
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--static", "--delay", "2"})); // a turnaround a read can see
        test::TapCable cable(sim.path(), tap);
        serial::bindPort(1, cable.pathA().toStdString());
        serial::bindPort(2, cable.pathB().toStdString());
        const auto unbind = qScopeGuard([] { serial::clearPortBindings(); });
        engine::Session session;
        TrafficRecorder& recorder = session.recorder();
        recorder.start();
        recorder.setTimeoutUs(60'000'000);
        session.terminal().setListenOnly(true);
        QVERIFY(session.terminal().open({}));
        QVERIFY(!tap || session.bus().startTap(2));
        QTemporaryDir dir;
        QVERIFY(recorder.startCapture(dir.filePath("cap.bin"), TrafficRecorder::CaptureForm::Raw,
                                      true));
        cable.read(stations);
        // Woken by each arrival: QTRY's sleeps would join a request and its reply in one read.
        test::serveUntil([&] { return bool(cable.done); }, 5000);
        const int n = int(stations.size()), timeouts = int(stations.count(2));
        QCOMPARE(cable.answered, n - timeouts);
        QTRY_COMPARE(recorder.counts().replies, std::uint64_t(n - timeouts));
        const monitor::TrafficCounts c = recorder.counts();
        QCOMPARE(QList({c.requests, c.timeouts, c.unpaired + c.crcErrors + c.waiting}),
                 QList<std::uint64_t>({std::uint64_t(n), std::uint64_t(timeouts), 0}));
        const monitor::StationRow* one = recorder.session().stations().find(1);
        QVERIFY(one && one->functions.test(3) && one->functions.count() == 1);
        QCOMPARE(one->replies, std::uint64_t(n - timeouts));
        // One port reading a request and its reply in one chunk times that pair at 0 µs.
        QVERIFY(one->times.maxUs() > 0 && one->times.maxUs() < 1'000'000);
        QTRY_COMPARE(recorder.model()->rowCount(), 2 * n - timeouts);
        for (int row = 0; row < recorder.model()->rowCount(); ++row) // replies are 7 bytes
            QCOMPARE(recorder.model()->direction(row) == monitor::Direction::RxB,
                     tap && recorder.model()->bytes(row).size() == 7);
        recorder.stopCapture();
        cable.finish();
        QCOMPARE(test::fileBytes(dir.filePath("cap.bin")), cable.heardA);
        QCOMPARE(test::fileBytes(dir.filePath("cap-B.bin")), tap ? cable.heardB : "missing");
        QCOMPARE(cable.heardA.size(), tap ? 8 * n : 15 * n - 7 * timeouts);
        QCOMPARE(cable.writtenByUs, qint64(0));
    }
};

QTEST_MAIN(TstMonitorEngine)
#include "tst_monitor_engine.moc"
