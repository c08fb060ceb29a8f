// The monitor on the real window and the simulated station: a request from the Modbus tool and
// its reply as frames, the statistics, the capture file in both forms, copying, a full disk.
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>

#include "support/devsim_process.h"
#include "support/form_rig.h"
#include "windows/monitor/frame_table_model.h"
#include "windows/monitor/monitor_window.h"

using namespace varnok;
using Form = MonitorWindow::CaptureForm;

namespace {

// The main window on a simulated station, opened, with the monitor open.
struct MonitorRig {
    test::DevsimProcess sim;
    std::unique_ptr<test::FormRig> main;
    MonitorWindow* m = nullptr;

    bool start(const QStringList& simArgs) {
        if (!sim.start(QStringList{"--mode", "modbus", "--static"} + simArgs))
            return false;
        main = std::make_unique<test::FormRig>(nullptr, sim.path());
        if (!main->open())
            return false;
        test::click(main->f->Cmd_Monitor);
        return (m = main->f->monitor()) != nullptr;
    }
    void send(const QString& request) {
        main->f->txtString->setText(request);
        test::click(main->f->cmdSend);
    }
    QString cell(int row, int column) const {
        return m->model()->index(row, column).data().toString();
    }
};

} // namespace

class TstMonitorWindow : public QObject {
    Q_OBJECT
  private slots:
    void exchange_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("form");
        QTest::addRow("reply, text log") << QStringList{} << int(Form::Text);
        QTest::addRow("reply, raw bytes") << QStringList{} << int(Form::Raw);
        QTest::addRow("silent station, text log") << QStringList{"--silent"} << int(Form::Text);
    }
    void exchange() {
        QFETCH(QStringList, simArgs);
        QFETCH(int, form);
        const bool replies = simArgs.isEmpty();
        MonitorRig r;
        QVERIFY(r.start(simArgs));
        r.m->timeoutBox->setValue(replies ? 3000 : 100); // a slow reply is no timeout here
        QVERIFY(r.m->ruleLabel->text().contains(QStringLiteral("1.75 ms at 115200 8N1")));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture"));
        QVERIFY(r.m->startCapture(path, Form(form), true));
        r.send(QStringLiteral("1 3 0 0 0 1"));
        QTRY_VERIFY(r.m->counts().replies + r.m->counts().timeouts == 1);
        QTRY_COMPARE(r.m->model()->rowCount(), replies ? 2 : 1);
        QCOMPARE(r.cell(0, FrameTableModel::Dir), QStringLiteral("TX"));
        QCOMPARE(r.cell(0, FrameTableModel::Hex), QStringLiteral("01 03 00 00 00 01 84 0A"));
        QVERIFY(r.m->statsLabel->text().contains(
            QStringLiteral("Replies %1   Timeouts %2").arg(int(replies)).arg(int(!replies))));
        if (replies) {
            QCOMPARE(r.cell(1, FrameTableModel::Dir), QStringLiteral("RX"));
            QVERIFY(
                test::wildcardMatch(QStringLiteral("st 1 FC3 reply: * · CRC ok · response * ms"),
                                    r.cell(1, FrameTableModel::Decoded)));
        }
        r.m->stopCapture();
        QFile file(path);
        const QByteArray captured = file.open(QIODevice::ReadOnly) ? file.readAll() : "missing";

        r.m->table->selectAll();
        QTest::keySequence(r.m->table, QKeySequence::Copy);
        const QString copied = QGuiApplication::clipboard()->text();
        if (Form(form) == Form::Raw) { // the reply's bytes, nothing else
            QCOMPARE(QString::fromLatin1(captured.toHex(' ').toUpper()),
                     r.cell(1, FrameTableModel::Hex));
        } else {
            // The header line, then the frames as the table shows and copies them.
            QVERIFY(captured.startsWith("# capture 20"));
            QCOMPARE(QString::fromUtf8(captured.mid(captured.indexOf('\n') + 1)), copied);
        }
        r.m->table->clearSelection();
        r.m->table->selectRow(0);
        r.m->copyCAction->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}"));
        QCOMPARE(r.main->messages.texts, QStringList());
    }

    // The terminal goes on receiving; the capture stops with one message.
    void fullDisk() {
        MonitorRig r;
        QVERIFY(r.start({}));
        QVERIFY(r.m->startCapture(QStringLiteral("/dev/full"), Form::Raw, true));
        r.send(QStringLiteral("1 3 0 0 0 1"));
        QTRY_COMPARE(r.main->messages.texts.size(), 1);
        QVERIFY(r.main->messages.texts[0].startsWith(QStringLiteral("Capture stopped: ")));
        QVERIFY(!r.m->capturing() && r.main->messages.okOnly());
        QCOMPARE(r.m->captureButton->text(), QStringLiteral("Capture..."));
        r.send(QStringLiteral("1 3 0 0 0 1"));
        QTRY_COMPARE(r.m->counts().replies, 2u);
    }
};

QTEST_MAIN(TstMonitorWindow)
#include "tst_monitor_window.moc"
