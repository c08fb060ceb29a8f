// Grabs the real windows to PNG files, so that the README's pictures can be remade:
//   varnok-screenshots OUTDIR [--modbus DEVICE] [--n500 DEVICE] [--poll DEVICE]
// main_window.png always; modbus_exchange.png, monitor.png and quick_send.png with a Modbus device
// (varnok-devsim --static), n500_dialog.png with an N500 console and poll.png with a Modbus
// device whose live registers move (varnok-devsim without --static).
// tools/make-screenshots.sh starts both devices.
// The windows are driven as a user would: real clicks and keys, replies awaited.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "engine/quick_send_book.h"
#include "logic/serial/port_map.h"
#include "windows/find/find_window.h"
#include "windows/main_window/form1.h"
#include "windows/monitor/monitor_window.h"
#include "windows/netsetting/setnet_form.h"
#include "windows/poll/poll_window.h"
#include "windows/quick_send/quick_send_window.h"

namespace {

QString g_out;

bool save(QWidget& w, const char* name) {
    const QString file = g_out + QLatin1Char('/') + QLatin1String(name);
    if (!w.grab().save(file, "PNG")) {
        std::fprintf(stderr, "varnok-screenshots: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

bool fail(const char* what) {
    std::fprintf(stderr, "varnok-screenshots: %s\n", what);
    return false;
}

// A shown main window whose start-up tick has come, as a user first sees it.
void settle(varnok::Form1& f) {
    f.show();
    (void)QTest::qWaitForWindowExposed(&f);
    (void)QTest::qWaitFor([&f] { return !f.Timer3->isActive(); }, 3000);
}

bool mainWindow() {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    settle(f);
    return save(f, "main_window.png");
}

// The window with ComN bound to `device` in the device box and opened by its button.
bool openOn(varnok::Form1& f, int number, const QString& device) {
    settle(f);
    f.Combo1->setCurrentIndex(number - 1);
    f.Cbo_Device->lineEdit()->setText(device); // typed into the device box
    emit f.Cbo_Device->lineEdit()->editingFinished();
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    return f.engine().isOpen() || fail(number == 1 ? "Com1 did not open" : "Com2 did not open");
}

// Com1 on the I/O module: open, show replies in hex, send two requests, wait for both.
bool modbusExchange(const QString& device) {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    if (!openOn(f, 1, device))
        return false;
    QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
    f.cboFunction->setCurrentIndex(3); // FC4, the request sent last
    // Holding register 0, then four input registers (0x3000.. in --static mode).
    const QString requests[] = {QStringLiteral("1 3 0 0 0 1"), QStringLiteral("1 4 0 0 0 4")};
    const int replyChars = (7 + 13) * 3; // "XX " per byte
    for (const QString& request : requests) {
        f.txtString->selectAll();
        QTest::keyClicks(f.txtString, request);
        QTest::mouseClick(f.cmdSend, Qt::LeftButton);
        QTest::qWait(150);
    }
    const bool replied =
        QTest::qWaitFor([&f] { return f.Text3->toPlainText().size() >= replyChars; }, 5000);
    // The link monitor's next tick shows the open line's state.
    (void)QTest::qWaitFor([&f] { return f.Label3->text() != QLatin1String("Local Breaking"); },
                          1500);
    const bool ok = replied ? save(f, "modbus_exchange.png") : fail("no Modbus reply");
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

// The monitor on Com1 after four requests: two reads, a write and a read past the register
// map, which the module answers with exception 02.
bool monitorWindow(const QString& device) {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    if (!openOn(f, 1, device))
        return false;
    QTest::mouseClick(f.Cmd_Monitor, Qt::LeftButton);
    varnok::MonitorWindow* m = f.monitor();
    if (!m)
        return fail("the monitor did not open");
    m->resize(1180, 330);
    (void)QTest::qWaitForWindowExposed(m);
    const QString requests[] = {QStringLiteral("1 3 0 0 0 2"), QStringLiteral("1 4 0 0 0 2"),
                                QStringLiteral("1 6 0 1 0 2A"), QStringLiteral("1 3 0 64 0 1")};
    int replies = 0;
    for (const QString& request : requests) {
        f.txtString->selectAll();
        QTest::keyClicks(f.txtString, request);
        QTest::mouseClick(f.cmdSend, Qt::LeftButton);
        ++replies;
        if (!QTest::qWaitFor([&] { return m->counts().replies == std::uint64_t(replies); }, 3000))
            return fail("no Modbus reply in the monitor");
    }
    // The last rows reach the table with the next batch.
    (void)QTest::qWaitFor([&] { return m->table->model()->rowCount() == 2 * replies; }, 1000);
    // Wide enough for the longest decoded line to show whole.
    const QAbstractItemModel* model = m->table->model();
    const int last = model->columnCount() - 1;
    int width = m->width() - m->table->viewport()->width() + 16; // frame, margins, cell padding
    for (int c = 0; c < last; ++c)
        width += m->table->columnWidth(c);
    int decoded = 0;
    for (int r = 0; r < model->rowCount(); ++r)
        decoded = std::max(decoded, m->table->fontMetrics().horizontalAdvance(
                                        model->index(r, last).data().toString()));
    width += decoded;
    m->resize(std::max(width, m->width()), m->height());
    QTest::qWait(50);
    const bool ok = save(*m, "monitor.png");
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

// Com2 on the N500 console: open, "Set_Net", "GET".
bool n500Dialog(const QString& device) {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    if (!openOn(f, 2, device))
        return false;
    QTest::mouseClick(f.Cmd_SetNet, Qt::LeftButton);
    varnok::SETNET_Form* d = f.netSettingForm();
    if (!d)
        return fail("the N500 dialog did not open");
    (void)QTest::qWaitForWindowExposed(d);
    QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
    const bool filled = !d->IP[0]->text().isEmpty() && !d->Gateway[3]->text().isEmpty();
    const bool ok = filled ? save(*d, "n500_dialog.png") : fail("\"GET\" left the boxes empty");
    QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

// Com1 on a live module: "Poll" reading the counter, the sine and pi every 100 ms, the counter
// and the sine charted for 12 s.
bool pollWindow(const QString& device) {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    if (!openOn(f, 1, device))
        return false;
    QTest::mouseClick(f.Cmd_Poll, Qt::LeftButton);
    varnok::PollWindow* p = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("Poll"))
            p = qobject_cast<varnok::PollWindow*>(w);
    if (!p)
        return fail("the Poll window did not open");
    p->resize(1000, 720);
    (void)QTest::qWaitForWindowExposed(p);
    p->readsTable->setRowCount(0);
    p->addRead({{1, 3, 50, 4, {}, {}}, 100, 500, 1});
    if (!p->applyReads())
        return fail("the read was refused");
    const int pi = p->rowOf({1, 3, 52});
    p->setRowFormat(pi, {varnok::modbus::ValueType::Float32, varnok::modbus::WordOrder::ABCD});
    const char* names[] = {"counter", "sine", "pi"};
    QAbstractItemModel* rows = p->table->model();
    for (int i = 0; i < 3; ++i)
        rows->setData(rows->index(p->rowOf({1, 3, 50 + i}), varnok::PollWindow::ColName),
                      QLatin1String(names[i]));
    for (const int row : {p->rowOf({1, 3, 50}), p->rowOf({1, 3, 51})})
        rows->setData(rows->index(row, varnok::PollWindow::ColPlot), Qt::Checked,
                      Qt::CheckStateRole);
    QTest::mouseClick(p->pollButton, Qt::LeftButton);
    QTest::qWait(12000);
    const bool ok = p->chartPoints(p->rowOf({1, 3, 51})) > 10 ? save(*p, "poll.png")
                                                         : fail("the chart got no points");
    QTest::mouseClick(p->pollButton, Qt::LeftButton);
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

// Com1 on the module again: "Quick Send" with a few stored sends (one with the Modbus CRC
// appended), a sequence and an answer rule, after the read was sent twice.
bool quickSendWindow(const QString& device) {
    using namespace varnok;
    engine::Session session;
    Form1 f(session);
    if (!openOn(f, 1, device))
        return false;
    QTest::mouseClick(f.Cmd_QuickSend, Qt::LeftButton);
    QuickSendWindow* q = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("QuickSend"))
            q = qobject_cast<QuickSendWindow*>(w);
    if (!q)
        return fail("the Quick Send window did not open");
    engine::QuickSendBook book;
    const auto entry = [](const char16_t* name, const char16_t* data, quicksend::DataForm form,
                          quicksend::LineEnd end, quicksend::Checksum sum, int key) {
        quicksend::Entry e;
        e.name = name;
        e.data = data;
        e.form = form;
        e.end = end;
        e.checksum = sum;
        e.key = key;
        return e;
    };
    using quicksend::Checksum;
    using quicksend::DataForm;
    using quicksend::LineEnd;
    book.entries = {
        entry(u"read 10", u"01 03 00 00 00 0A", DataForm::Hex, LineEnd::None, Checksum::ModbusCrc16,
              1),
        entry(u"status", u"STATUS?", DataForm::Text, LineEnd::CRLF, Checksum::None, 2),
        entry(u"ack", u"\\x06", DataForm::Text, LineEnd::None, Checksum::None, 0),
        entry(u"frame", u"02 31 32 33 03", DataForm::Hex, LineEnd::None, Checksum::Xor, 3)};
    book.entries[3].skipFirst = 1;
    book.sequences = {{u"start-up", {{u"status", 200}, {u"read 10", 500}}, 1}};
    book.rules = {{{quicksend::PatternKind::Text, u"ALARM"}, u"ack", 0, true}};
    const QString file = QDir::temp().filePath(QStringLiteral("varnok-shots-quicksend.json"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(engine::bookToJson(book)) < 0)
        return fail("cannot write the Quick Send book");
    out.close();
    const bool imported = q->importFrom(file);
    QFile::remove(file);
    if (!imported)
        return fail("the Quick Send book was refused");
    q->resize(900, 640);
    (void)QTest::qWaitForWindowExposed(q);
    q->entryList->setCurrentRow(0);
    QPushButton* send = q->sendButtons->findChild<QPushButton*>(QStringLiteral("Send_0"));
    if (!send)
        return fail("no send button");
    QTest::mouseClick(send, Qt::LeftButton);
    QTest::qWait(300);
    QTest::mouseClick(send, Qt::LeftButton);
    QTest::qWait(300);
    const bool ok = save(*q, "quick_send.png");
    q->close();
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

// Com1 on a module at 9600 8N1, station 17: "Find Device" over three bauds and the four
// framings, stations 1-32 (the whole range would add seconds to the test that remakes the
// pictures), until the module answers.
bool findWindow(const QString& device) {
    varnok::engine::Session session;
    varnok::Form1 f(session);
    if (!openOn(f, 1, device))
        return false;
    QTest::mouseClick(f.Cmd_Find, Qt::LeftButton);
    varnok::FindWindow* w = f.findWindow();
    if (!w)
        return fail("the Find window did not open");
    w->resize(900, 560);
    (void)QTest::qWaitForWindowExposed(w);
    for (const int i : {4, 5}) // 9600 and 19200 besides the main window's 115200
        w->baudBoxes[std::size_t(i)]->setChecked(true);
    w->lastStationBox->setValue(32);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    const bool done = QTest::qWaitFor([w] { return !w->sweep().running(); }, 60000);
    const int row = w->results->currentRow();
    const bool found =
        done && row >= 0 && w->results->item(row, varnok::FindWindow::ColStation)->text() == "17";
    w->results->resizeColumnsToContents();
    w->results->horizontalHeader()->setSectionResizeMode(varnok::FindWindow::ColAnswer,
                                                         QHeaderView::Stretch);
    QTest::qWait(50);
    const bool ok = found ? save(*w, "find.png") : fail("the sweep did not find station 17");
    QTest::mouseClick(f.Command7, Qt::LeftButton);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    QString modbus, n500, poll, find;
    g_out = QStringLiteral(".");
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--modbus") && i + 1 < args.size())
            modbus = args[++i];
        else if (args[i] == QLatin1String("--n500") && i + 1 < args.size())
            n500 = args[++i];
        else if (args[i] == QLatin1String("--poll") && i + 1 < args.size())
            poll = args[++i];
        else if (args[i] == QLatin1String("--find") && i + 1 < args.size())
            find = args[++i];
        else if (!args[i].startsWith(QLatin1Char('-')))
            g_out = args[i];
        else {
            std::fprintf(stderr, "usage: varnok-screenshots OUTDIR [--modbus DEV] [--n500 DEV] "
                                 "[--poll DEV] [--find DEV]\n");
            return 2;
        }
    }
    QDir().mkpath(g_out);

    bool ok = mainWindow();
    if (!modbus.isEmpty())
        ok = modbusExchange(modbus) && ok;
    if (!modbus.isEmpty())
        ok = monitorWindow(modbus) && ok;
    if (!modbus.isEmpty())
        ok = quickSendWindow(modbus) && ok;
    if (!n500.isEmpty())
        ok = n500Dialog(n500) && ok;
    if (!poll.isEmpty())
        ok = pollWindow(poll) && ok;
    if (!find.isEmpty())
        ok = findWindow(find) && ok;
    return ok ? 0 : 1;
}
