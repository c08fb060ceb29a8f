// The monitor on the real window and the simulated station: a request from the Modbus tool and
// its reply as frames and in both forms of capture, recording on while the window is closed,
// a full disk, the view over the frame table, and where the window opens.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <limits>

#include "engine/monitor/frame_table_model.h"
#include "engine/session.h"
#include "support/devsim_process.h"
#include "support/form_rig.h"
#include "support/numbered_frames.h"
#include "windows/monitor/monitor_window.h"
#include "windows/monitor/station_view.h"

using namespace varnok;
using Form = MonitorWindow::CaptureForm;
using test::numbered;
using test::numberOf;

namespace {

// The request the Modbus tool sends for "1 3 0 0 0 1" and the simulator's reply.
const QByteArray kRequest = QByteArray::fromHex("010300000001840A");
const QByteArray kReply = QByteArray::fromHex("0103021234B533");
const char* const kRequestLine = "*:*:*.*\t*\tTX\t8\t01 03 00 00 00 01 84 0A\t........\tst 1 FC3 "
                                 "request: Read multi-registers, addr 0 (0x0000) qty 1 · CRC ok";
const char* const kReplyLine = "*:*:*.*\t*\tRX\t7\t01 03 02 12 34 B5 33\t....4.3\tst 1 FC3 reply: "
                               "1 reg: [0] 0x1234 = 4660 · CRC ok · response * ms";

// The main window on a simulated station (or on a pair whose device end the test holds),
// opened, with the monitor open; Com2 is a second pair.
struct MonitorRig {
    test::DevsimProcess sim;
    std::unique_ptr<test::FormRig> main;
    test::PtyPair b;
    MonitorWindow* m = nullptr;

    bool start(const QStringList& simArgs = {}, bool simulated = true) {
        if (simulated && !sim.start(QStringList{"--mode", "modbus", "--static"} + simArgs))
            return false;
        main = std::make_unique<test::FormRig>(nullptr, sim.path());
        serial::bindPort(2, b.slavePath().toStdString());
        if (!main->open())
            return false;
        test::click(main->f->Cmd_Monitor);
        return (m = main->f->monitor()) != nullptr;
    }
    void send(int replies) {
        main->f->txtString->setText(QStringLiteral("1 3 0 0 0 1"));
        test::click(main->f->cmdSend);
        QTRY_COMPARE(m->counts().replies, std::uint64_t(replies));
    }
    void startBus(int mode, const QString& portB) {
        m->busModeBox->setCurrentIndex(mode);
        m->portBBox->setCurrentIndex(m->portBBox->findText(portB));
        test::click(m->busButton);
    }
};

} // namespace

class TstMonitorWindow : public QObject {
    Q_OBJECT
    QTemporaryDir runtime_; // the bridge's link goes here, not where a running program has its own

  private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit()); }

    // Ticking "Listen only" makes the main window's Send refuse with a message; nothing leaves.
    void listenOnlyRefusesSend() {
        MonitorRig r;
        QVERIFY(r.start({}, false));
        test::clickBox(r.m->listenBox);
        r.main->f->txtString->setText(QStringLiteral("hello"));
        test::click(r.main->f->cmdSend);
        QTRY_COMPARE(r.main->messages.texts,
                     QStringList{"Listen only is on in the Monitor: nothing is sent."});
        QVERIFY(r.main->messages.okOnly());
        QCOMPARE(r.main->pty.readFor(100), QByteArray());
    }

    // Start runs a tap or a bridge with listen only forced on, Stop gives it back; a bridge to
    // a pseudo-terminal made here offers its path to copy.
    void busButton_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("portB");
        QTest::addRow("tap on Com2") << 1 << "Com2";
        QTest::addRow("bridge to a new pseudo-terminal: its path copied")
            << 2 << "New pseudo-terminal";
    }
    void busButton() {
        QFETCH(int, mode);
        QFETCH(QString, portB);
        MonitorRig r;
        QVERIFY(r.start({}, false));
        r.startBus(mode, portB);
        QCOMPARE(r.m->busButton->text(), QStringLiteral("Stop"));
        QVERIFY(r.m->listenBox->isChecked() && !r.m->listenBox->isEnabled());
        const bool pty = portB != "Com2";
        const QString b = pty ? runtime_.filePath("varnok-binary/bridge") : r.b.slavePath();
        const QString label = r.m->busLabel->text();
        QVERIFY2(label.contains(r.main->pty.slavePath()) && label.contains(b), qPrintable(label));
        QCOMPARE(r.m->copyPathButton->isVisible(), pty);
        if (pty) {
            test::click(r.m->copyPathButton);
            QCOMPARE(QGuiApplication::clipboard()->text(), b);
        }
        test::click(r.m->busButton);
        QCOMPARE(r.m->busButton->text(), QStringLiteral("Start"));
        QVERIFY(!r.m->listenBox->isChecked() && r.m->listenBox->isEnabled());
        QCOMPARE(r.main->messages.texts, QStringList());
    }

    // A bridge offers a pseudo-terminal of its own, its name whole, and a tap the first port
    // after A, not port A itself (Com1), which Start refuses.
    void portBOffersAnotherPort() {
        MonitorRig r;
        QVERIFY(r.start({}, false));
        r.m->busModeBox->setCurrentIndex(2);
        QCOMPARE(r.m->portBBox->currentText(), QStringLiteral("New pseudo-terminal"));
        const int text = r.m->portBBox->fontMetrics().horizontalAdvance("New pseudo-terminal");
        QTRY_VERIFY(r.m->portBBox->width() >= text + 20); // whole, not "New pse"
        r.m->busModeBox->setCurrentIndex(1);
        QCOMPARE(r.m->portBBox->currentText(), QStringLiteral("Com2"));
    }

    // Names typed for the sides stand whole in the Dir column for what each port of a tap heard.
    void sideNamesInDirColumn() {
        MonitorRig r;
        QVERIFY(r.start({}, false));
        for (auto [box, name] : {std::pair{r.m->sideABox, "PLC"}, {r.m->sideBBox, "drive"}}) {
            QTest::keyClicks(box, name);
            QTest::keyClick(box, Qt::Key_Return);
        }
        r.startBus(1, "Com2");
        r.main->pty.write(kRequest);
        QTRY_COMPARE(r.m->model()->rowCount(), 1); // the reply comes after its request
        r.b.write(kReply);
        QTRY_COMPARE(r.m->model()->rowCount(), 2);
        for (const auto& [row, name] : {std::pair{0, "PLC"}, {1, "drive"}})
            QCOMPARE(r.m->model()->index(row, FrameTableModel::Dir).data().toString(), name);
        // The column widens for the longest name: "drive" shows whole, not "dri…".
        const int cell = r.m->table->fontMetrics().horizontalAdvance("drive") + 12;
        QVERIFY(r.m->table->columnWidth(FrameTableModel::Dir) >= cell);
    }

    // A script's mark reaches the table through the session as a row on a tint of its own.
    void scriptMarkRow() {
        MonitorRig r;
        QVERIFY(r.start({}, false));
        emit r.main->session->script().marked(QStringLiteral("heater on"));
        QTRY_COMPARE(r.m->model()->rowCount(), 1);
        const QModelIndex cell = r.m->table->model()->index(0, FrameTableModel::Decoded);
        QCOMPARE(cell.data().toString(), QStringLiteral("heater on"));
        QCOMPARE(cell.data(Qt::BackgroundRole).value<QBrush>().color().rgb(),
                 MonitorWindow::kMarkColour);
    }

    // An exchange with the station fills its row; "Copy table" copies the table's text.
    void stationTable() {
        MonitorRig r;
        QVERIFY(r.start());
        r.send(1);
        QTRY_COMPARE(r.m->stations->table->rowCount(), 1);
        test::click(r.m->stations->copyButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), r.m->stations->tableText());
        QCOMPARE(r.m->stations->tableText().count('\n'), 2); // the header and station 1
    }

    // The histogram's captions show whole: each bucket's range, and counts as whole numbers
    // once each (not "1 0 0 0 0" for ticks between them).
    void histogramCaptionsWhole() {
        MonitorRig r;
        QVERIFY(r.start());
        r.send(1);
        const auto* view = r.m->findChild<QGraphicsView*>(QStringLiteral("histogramView"));
        QStringList texts;
        const auto shown = [&] {
            texts.clear();
            for (const QGraphicsItem* item : view->scene()->items())
                if (const auto* t = dynamic_cast<const QGraphicsTextItem*>(item);
                    t && t->isVisible())
                    texts << t->toPlainText();
            texts.sort();
            return texts.contains(QStringLiteral("1"));
        };
        QTRY_VERIFY(shown());
        QVERIFY2(texts.contains("<0.5") && texts.contains("500–1000") &&
                     !texts.join('|').contains("..."),
                 qPrintable(texts.join('|')));
        QCOMPARE(texts.filter(QRegularExpression("^\\d+$")), QStringList({"0", "1"}));
    }

    // The capture holds the known bytes and lines; closing the window neither stops it nor
    // empties the table, the statistics or the choices.
    void exchange_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<bool>("closeBetween");
        QTest::addRow("text log") << int(Form::Text) << false;
        QTest::addRow("raw bytes") << int(Form::Raw) << false;
        QTest::addRow("text log, window closed: the capture goes on, the table stays")
            << int(Form::Text) << true;
    }
    void exchange() {
        QFETCH(int, form);
        QFETCH(bool, closeBetween);
        MonitorRig r;
        QVERIFY(r.start());
        r.m->timeoutBox->setValue(3000); // a slow reply is no timeout here
        QVERIFY(r.m->ruleLabel->text().contains(QStringLiteral("1.75 ms at 115200 8N1")));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture"));
        QVERIFY(r.m->startCapture(path, Form(form), true));
        r.send(1);
        if (closeBetween) {
            r.m->close();
            r.send(2);
            r.send(3);
            test::click(r.main->f->Cmd_Monitor);
            QCOMPARE(r.main->f->monitor(), r.m);
            QVERIFY(r.m->isVisible() && r.m->capturing());
            QCOMPARE(r.m->timeoutBox->value(), 3000);
        }
        const int exchanges = closeBetween ? 3 : 1;
        QTRY_COMPARE(r.m->model()->rowCount(), 2 * exchanges);
        QVERIFY(r.m->statsLabel->text().contains(
            QStringLiteral("Requests %1   Replies %1   Timeouts 0").arg(exchanges)));
        r.m->stopCapture();
        QCOMPARE(r.m->captureButton->text(), QStringLiteral("Capture..."));
        const QByteArray captured = test::fileBytes(path);
        QStringList lines = QString::fromUtf8(captured).split('\n');
        if (Form(form) == Form::Raw) {
            QCOMPARE(captured, kReply.repeated(exchanges));
        } else {
            QVERIFY(lines.takeFirst().startsWith(QStringLiteral("# capture 20")));
            QCOMPARE(lines.size(), 2 * exchanges + 1);
            for (int i = 0; i < 2 * exchanges; ++i)
                QVERIFY2(test::wildcardMatch(QString::fromUtf8(i % 2 ? kReplyLine : kRequestLine),
                                             lines[i]),
                         qPrintable(lines[i]));
        }
        r.m->table->selectRow(0);
        r.m->copyCAction->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}"));
        QCOMPARE(r.main->messages.texts, QStringList());
    }

    // A full disk names the system's reason wherever it shows, keeps what was written before
    // and stops the capture alone: the terminal goes on receiving.
    void fullDisk() {
        MonitorRig r;
        QVERIFY(r.start());
        QVERIFY(r.m->startCapture(QStringLiteral("/dev/full"), Form::Raw, true));
        r.send(1);
        QTRY_COMPARE(
            r.main->messages.texts,
            QStringList{"Capture stopped: cannot write /dev/full: No space left on device"});
        QVERIFY(!r.m->capturing() && r.main->messages.okOnly());
        QCOMPARE(r.m->captureButton->text(), QStringLiteral("Capture..."));
        r.send(2);
    }

    // The view follows new frames at the bottom, whatever the flood, and keeps the rows looked
    // at in place when the oldest leave.
    void view_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("scrolledUp");
        for (const int n : {20000, 80000, 100000, 250000}) {
            QTest::addRow("%d at the bottom", n) << n << false;
            QTest::addRow("%d scrolled up", n) << n << true;
        }
    }
    void view() {
        QFETCH(int, frames);
        QFETCH(bool, scrolledUp);
        engine::Session session;
        MonitorWindow m(session);
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        FrameTableModel* model = session.recorder().model();
        std::uint32_t next = 0;
        const auto flood = [&](int n) {
            for (int i = 0; i < n; ++i) {
                model->queue(numbered(next++, 8));
                if (next % 4000 == 0) {
                    model->commit();
                    QCoreApplication::processEvents();
                }
            }
            model->commit();
            QCoreApplication::processEvents();
        };
        flood(1000);
        QScrollBar* bar = m.table->verticalScrollBar();
        if (scrolledUp)
            bar->setValue(bar->maximum() - 300);
        const int top = m.table->rowAt(0);
        const std::uint32_t shown = numberOf(*model, top);
        flood(frames);
        QTest::qWait(20);
        if (scrolledUp) {
            const int rows = model->rowCount();
            // Rows older than the table's front have left it; the view stays on the oldest.
            QCOMPARE(numberOf(*model, m.table->rowAt(0)),
                     std::max(shown, next - std::uint32_t(rows)));
        } else {
            const int last = m.table->rowAt(m.table->viewport()->height() - 2);
            QCOMPARE(last == -1 ? model->rowCount() - 1 : last, model->rowCount() - 1);
            QCOMPARE(bar->value(), bar->maximum());
        }
    }

    // A long frame's bytes and text cells, cut short before the style lays them out, look as
    // the style draws their whole text: elided at the same character, "…" and all.
    void longCells() {
        engine::Session session;
        MonitorWindow m(session);
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        for (std::uint32_t i = 0; i < 3; ++i)
            session.recorder().model()->queue(numbered(i, 200));
        session.recorder().model()->commit();
        QAbstractItemDelegate* cutting = m.table->itemDelegate();
        const QImage cut = m.table->viewport()->grab().toImage();
        QStyledItemDelegate plain;
        m.table->setItemDelegate(&plain);
        const QImage whole = m.table->viewport()->grab().toImage();
        m.table->setItemDelegate(cutting);
        QCOMPARE(cut, whole);
    }

    // The first time beside the main window within the screen's available area; afterwards
    // where the user left it, with its size.
    void placement() {
        test::FormRig main;
        test::click(main.f->Cmd_Monitor);
        MonitorWindow* m = main.f->monitor();
        const QRect avail = m->screen()->availableGeometry();
        QVERIFY2(avail.contains(m->frameGeometry()), "past the screen's bottom");
        m->setGeometry(40, 50, 900, 480);
        m->close();
        engine::Session session_later;
        Form1 later(session_later);
        later.Cmd_Monitor_Click();
        QCOMPARE(later.monitor()->geometry(), QRect(40, 50, 900, 480));
        later.monitor()->close();
    }

    // The longest statistics and capture texts leave the window's width as it was and the
    // window within the screen's available area: they are cut short instead.
    void longestStatusKeepsWidth() {
        test::FormRig main;
        test::click(main.f->Cmd_Monitor);
        MonitorWindow* m = main.f->monitor();
        QVERIFY(QTest::qWaitForWindowExposed(m));
        const QRect avail = m->screen()->availableGeometry();
        const int width = m->width();
        monitor::TrafficCounts most;
        for (std::uint64_t* n : {&most.requests, &most.replies, &most.unpaired, &most.timeouts,
                                 &most.crcErrors, &most.exceptions})
            *n = ~std::uint64_t{0};
        most.minUs = most.p99Us = most.maxUs = std::numeric_limits<std::int64_t>::max();
        most.meanUs = 9.2e18;
        const QString stats = QString::fromStdString(monitor::countsText(most));
        m->statsLabel->setText(stats);
        QTemporaryDir dir;
        QVERIFY(m->startCapture(dir.filePath(QString(200, u'c') + ".log"), Form::Text, true));
        QTest::qWait(50); // the layout settles
        QCOMPARE(m->width(), width);
        QVERIFY(avail.contains(m->frameGeometry()));
        QCOMPARE(m->statsLabel->text(), stats);
        m->stopCapture();
    }
};

QTEST_MAIN(TstMonitorWindow)
#include "tst_monitor_window.moc"
