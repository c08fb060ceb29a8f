// The Poll window's wiring, one behaviour a slot: against the simulator a read fills rows in
// their formats, an edit writes and reads back, a ticked row gets chart points, the CSV log
// has its lines and bad input gets its message with nothing on the wire; without a port, the
// editors, the chart and the refusals of Apply and Load.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/test_support.h"
#include "windows/poll/poll_window.h"

using namespace varnok;
using W = PollWindow;

namespace {

QModelIndex cell(const W& w, int row, int column) {
    return w.table->model()->index(row, column);
}
QString text(const W& w, int row, int column) {
    return row < 0 ? "(no row)" : cell(w, row, column).data().toString();
}
// As the user types into a cell or ticks it.
void set(W& w, int row, int column, const QVariant& value, int role = Qt::EditRole) {
    w.table->model()->setData(cell(w, row, column), value, role);
}
// A poll of the window's first read as the master reports it, all its registers at `value`.
void report(W& w, bool ok, int value, qint64 wallMs = QDateTime::currentMSecsSinceEpoch()) {
    engine::PollResult r{0, w.master().reads()[0].request, ok, false, {}, {}, 0, 0, wallMs};
    r.reply.registers.assign(std::size_t(r.request.count), std::uint16_t(value));
    emit w.master().done(r);
}

// The window on an engine opened on the simulator, reading HR 0-3 and HR 52-53 as a float32.
struct SimRig {
    test::DevsimProcess sim;
    std::unique_ptr<engine::Session> session;
    engine::TerminalEngine* e = nullptr;
    std::unique_ptr<W> w;
    int pi = -1; // the float32's row
    QTemporaryDir dir;
    test::MessageCatcher catcher;

    bool start() {
        if (!sim.start({"--static"}))
            return false;
        serial::bindPort(1, sim.path().toStdString());
        session = std::make_unique<engine::Session>();
        e = &session->terminal();
        w = std::make_unique<W>(*session);
        w->show();
        w->readsTable->setRowCount(0);
        w->addRead({{1, 3, 0, 4, {}, {}}, 0, 500, 0});
        w->addRead({{1, 3, 52, 2, {}, {}}, 0, 500, 0});
        if (!e->open({}) || !w->applyReads())
            return false;
        pi = w->rowOf({1, 3, 52});
        w->setRowFormat(pi, {modbus::ValueType::Float32, modbus::WordOrder::ABCD});
        return true;
    }
    // Polls until the float32 shows.
    bool poll() {
        QTest::mouseClick(w->pollButton, Qt::LeftButton);
        return QTest::qWaitFor([this] { return text(*w, pi, W::ColValue) == "3.14159274"; });
    }
    ~SimRig() {
        w.reset();
        serial::clearPortBindings();
    }
};

// A window on a closed engine with the first read and an input register's (1 4 0 1) applied.
struct Offline {
    engine::Session session;
    engine::TerminalEngine& e = session.terminal();
    W w{session};
    bool applied;
    test::MessageCatcher catcher;
    Offline() {
        w.show();
        w.addRead({{1, 4, 0, 1, {}, {}}, 0, 100, 0});
        applied = w.applyReads();
    }
};

} // namespace

class TstPollWindow : public QObject {
    Q_OBJECT
  private slots:
    void pollShowsEachRowInItsFormat() {
        SimRig r;
        QVERIFY(r.start());
        QVERIFY(r.w->table->isRowHidden(r.pi + 1));
        QTest::mouseClick(r.w->pollButton, Qt::LeftButton);
        QTRY_COMPARE(text(*r.w, r.pi, W::ColValue), QString("3.14159274"));
        QCOMPARE(text(*r.w, 0, W::ColValue), QString("4660"));
        QCOMPARE(text(*r.w, r.pi, W::ColRaw), QString("4049 0FDB"));
        QVERIFY(r.e->manualReceive()); // the master holds the line's input while polling
    }

    void editWritesAndReadsBack() {
        SimRig r;
        QVERIFY(r.start() && r.poll());
        set(*r.w, 1, W::ColValue, "77");
        QTRY_VERIFY2(r.w->writeStatus->text().endsWith("FC06 at 1: ok"),
                     qPrintable(r.w->writeStatus->text()));
        QTRY_COMPARE(text(*r.w, 1, W::ColValue), QString("77"));
    }

    void tickedRowGetsChartPoints() {
        SimRig r;
        QVERIFY(r.start() && r.poll());
        set(*r.w, r.pi, W::ColPlot, Qt::Checked, Qt::CheckStateRole);
        QTRY_VERIFY(r.w->chartPoints(r.pi) >= 2);
    }

    // The CSV log names each register and times its lines with their offset from UTC.
    void logHasItsHeaderAndOffsetTimes() {
        SimRig r;
        QVERIFY(r.start());
        QVERIFY(r.w->startLog(r.dir.filePath("log.csv")));
        QVERIFY(r.poll());
        const QString changed = text(*r.w, 1, W::ColChanged);
        set(*r.w, 1, W::ColValue, "77");
        QTRY_VERIFY(text(*r.w, 1, W::ColChanged) != changed); // a poll read the write back
        r.w->stopLog();
        const QStringList lines =
            QString(test::fileBytes(r.dir.filePath("log.csv"))).trimmed().split('\n');
        QCOMPARE(lines.first(), QString("time,st1 HR 0,st1 HR 1,st1 HR 2,st1 HR 3,st1 HR 52"));
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z),)"
                                    R"(4660,77,0,0,3\.14159274$)")
                     .match(lines.last())
                     .hasMatch(),
                 qPrintable(lines.last()));
    }

    void definitionsComeBackAsSaved() {
        SimRig r;
        QVERIFY(r.start());
        QVERIFY(r.w->saveDefinitions(r.dir.filePath("defs.json")));
        r.w->setRowFormat(r.pi, {});
        QVERIFY(r.w->loadDefinitions(r.dir.filePath("defs.json")));
        QVERIFY(r.w->table->isRowHidden(r.w->rowOf({1, 3, 52}) + 1));
    }

    // Bad input is refused with its reason and nothing goes on the wire.
    void refusals_data() {
        QTest::addColumn<int>("input");
        QTest::addColumn<QString>("message");
        QTest::addRow("a value past 16 bits is refused: nothing is sent")
            << 0 << "\"70000\" is not a 16-bit unsigned value (0 to 65535). Nothing was sent.";
        QTest::addRow("a map with an unknown format is refused: nothing is imported")
            << 1
            << "map.csv is not a register map: line 3: unknown format \"flaot\" (int16, uint16, "
               "hex16, bin16, int32, uint32, float32, int64, uint64, double with ABCD, CDAB, "
               "BADC or DCBA; ascii AB or BA). Nothing was imported.";
        QTest::addRow("a count past 125 is refused: nothing is sent")
            << 2
            << "Read 1: The count must be from 1 to 125 registers; 126 is past the protocol's "
               "limit. Nothing was sent.";
    }
    void refusals() {
        QFETCH(int, input);
        QFETCH(QString, message);
        SimRig r;
        QVERIFY(r.start());
        if (input == 0)
            set(*r.w, 2, W::ColValue, "70000");
        const QString map = r.dir.filePath("map.csv");
        if (input == 1)
            QVERIFY(test::writeFile(map,
                                    "address,name,format\n40001,flow,uint16\n40002,temp,flaot\n") &&
                    !r.w->importMap(map));
        if (input == 2) {
            r.w->readsTable->item(0, W::RdCount)->setText("126");
            QVERIFY(!r.w->applyReads());
        }
        QCOMPARE(r.catcher.texts, QStringList{message});
    }

    // Station 2's register 0 is a row of its own: name, format and tick stay with station 1's,
    // in the table, the CSV header and a map with a station column.
    void rowsKeyedByStation() {
        engine::Session session;
        W w(session);
        w.readsTable->setRowCount(0);
        w.addRead({{1, 3, 0, 2, {}, {}}, 0, 100, 0});
        w.addRead({{2, 3, 0, 2, {}, {}}, 0, 100, 0});
        QVERIFY(w.applyReads());
        QVERIFY(w.rowOf({1, 3, 0}) >= 0 && w.rowOf({2, 3, 0}) >= 0);
        set(w, w.rowOf({1, 3, 0}), W::ColName, "flow");
        w.setRowFormat(w.rowOf({1, 3, 0}), {modbus::ValueType::Float32});
        set(w, w.rowOf({1, 3, 0}), W::ColPlot, Qt::Checked, Qt::CheckStateRole);
        const int s2 = w.rowOf({2, 3, 0});
        QCOMPARE(text(w, s2, W::ColName) + text(w, s2, W::ColFormat), QString("uint16"));
        QCOMPARE(cell(w, s2, W::ColPlot).data(Qt::CheckStateRole), QVariant(Qt::Unchecked));
        QVERIFY(w.rowOf({2, 3, 1}) >= 0);
        QTemporaryDir dir;
        QVERIFY(w.startLog(dir.filePath("log.csv")));
        w.stopLog();
        QVERIFY(test::fileBytes(dir.filePath("log.csv"))
                    .startsWith("time,st1 HR 0 flow,st2 HR 0,st2 HR 1\n"));
        QVERIFY(test::writeFile(dir.filePath("map.csv"),
                                "address,name,format,station\n40002,level,,2\n"));
        QVERIFY(w.importMap(dir.filePath("map.csv")));
        QCOMPARE(text(w, w.rowOf({2, 3, 1}), W::ColName), QString("level"));
        QCOMPARE(w.writeStatus->text(), QString("map.csv: 1 of 1 entries fall in the reads."));
        // An entry that would lie hidden under station 1's float32 is refused, not counted.
        test::MessageCatcher catcher;
        QVERIFY(test::writeFile(dir.filePath("map.csv"), "40002,temp,,1\n"));
        QVERIFY(!w.importMap(dir.filePath("map.csv")));
        QCOMPARE(catcher.texts, QStringList{"map.csv is not a register map: line 1: st1 HR 1 temp "
                                            "lies inside the float32 ABCD value of st1 HR 0 flow. "
                                            "Nothing was imported."});
    }

    // "Changed" keeps its time through a format, the numbering, Apply and Load: the value
    // read stays the same.
    void changedMovesOnlyWithTheValue() {
        engine::Session session;
        W w(session);
        report(w, true, 0x1234);
        QTRY_VERIFY(!text(w, 0, W::ColChanged).isEmpty());
        const QString first = text(w, 0, W::ColChanged);
        QTest::qWait(20);
        w.setRowFormat(0, {modbus::ValueType::Hex16});
        w.oneBasedBox->setChecked(true);
        QTemporaryDir dir;
        QVERIFY(w.applyReads() && w.saveDefinitions(dir.filePath("d.json")) &&
                w.loadDefinitions(dir.filePath("d.json")));
        report(w, true, 0x1234);
        QTRY_COMPARE(text(w, 0, W::ColValue), QString("0x1234"));
        QCOMPARE(text(w, 0, W::ColChanged), first);
        report(w, true, 0x1235);
        QTRY_VERIFY(text(w, 0, W::ColChanged) != first);
    }

    // A failed poll breaks the line, Pause holds the view while samples go on, and the value
    // axis ends on round numbers.
    void chartBreaksPausesAndRounds() {
        engine::Session session;
        W w(session);
        w.show();
        set(w, 0, W::ColPlot, Qt::Checked, Qt::CheckStateRole);
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 20000;
        const auto poll = [&](int second, bool ok, int value) {
            report(w, ok, value, t0 + second * 1000);
        };
        poll(0, true, 105);
        poll(1, true, 200);
        poll(2, false, 0);
        poll(3, true, 497);
        QTRY_COMPARE(w.chartView->chart()->series().size(), 2);
        const auto* axis = qobject_cast<QValueAxis*>(w.chartView->chart()->axes(Qt::Vertical)[0]);
        const QString ends = QString("%1 %2").arg(axis->min()).arg(axis->max());
        QVERIFY2(ends == "0 500" || ends == "100 500", qPrintable(ends));
        const qsizetype before = w.chartPoints(0);
        w.pauseButton->click();
        poll(4, true, 300);
        poll(5, true, 310);
        QTest::qWait(300);
        QCOMPARE(w.chartPoints(0), before);
        w.pauseButton->click();
        QCOMPARE(w.chartPoints(0), before + 2);
    }

    // Status texts end in "..." instead of widening the window past the screen.
    void statusKeepsTheWindowWidth() {
        engine::Session session;
        W w(session);
        w.showBeside(nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int width = w.width();
        w.writeStatus->setText(
            "10:42:07.123 write FC16 at 465536: exception 04 server device failure " +
            QString("long name ").repeated(40));
        QTest::qWait(100);
        QCOMPARE(w.width(), width);
        QVERIFY(w.minimumSizeHint().width() <= w.screen()->availableGeometry().width());
    }

    void enterTakesTheFormat() {
        Offline o;
        QVERIFY(o.applied);
        const QModelIndex format = o.w.table->model()->index(0, W::ColFormat);
        o.w.table->setCurrentIndex(format); // as a double-click on the cell leaves it
        o.w.table->edit(format);
        auto* box = qobject_cast<QComboBox*>(o.w.table->indexWidget(format));
        QVERIFY(box);
        box->setCurrentIndex(box->findText("int16"));
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_COMPARE(text(o.w, 0, W::ColFormat), QString("int16"));
        QVERIFY(!o.w.table->indexWidget(format));
    }

    // Enter on a value opens its editor as a double-click does: the view alone only activates it.
    void enterOnAValueOpensItsEditor() {
        Offline o;
        const QModelIndex value = o.w.table->model()->index(0, W::ColValue);
        o.w.table->setCurrentIndex(value);
        QTest::keyClick(o.w.table, Qt::Key_Return);
        QVERIFY(o.w.table->indexWidget(value));
    }

    void tabLeavesTheFormatWithoutAValueEditor() {
        Offline o;
        const QModelIndex format = o.w.table->model()->index(0, W::ColFormat);
        o.w.table->setCurrentIndex(format);
        o.w.table->edit(format);
        QVERIFY(o.w.table->indexWidget(format));
        QTest::keyClick(o.w.table->indexWidget(format), Qt::Key_Tab);
        QTest::qWait(50);
        QVERIFY(!o.w.table->indexWidget(format.siblingAtColumn(W::ColValue)));
    }

    void inputRegistersSayWhyTheyCannotBeWritten() {
        Offline o;
        QVERIFY(o.applied);
        const int input = o.w.rowOf({1, 4, 0});
        QVERIFY(
            input >= 0 &&
            cell(o.w, input, W::ColValue).data(Qt::ToolTipRole).toString().contains("read-only"));
    }

    void refusedApplyShowsWhatIsPolled() {
        Offline o;
        o.w.readsTable->item(0, W::RdPeriod)->setText("-5");
        QVERIFY(!o.w.applyReads());
        QCOMPARE(o.w.readsTable->item(0, W::RdPeriod)->text(), QString("1000"));
        QCOMPARE(o.catcher.texts, QStringList{"Read 1: the period \"-5\" must be a whole number "
                                              "from 0 to 3600000. Nothing was sent."});
    }

    void badDefinitionsChangeNothing() {
        Offline o;
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.filePath("bad.json"), R"({"reads":[],"always_16":"yes"})"));
        QVERIFY(!o.w.loadDefinitions(dir.filePath("bad.json")));
        QCOMPARE(o.catcher.texts,
                 QStringList{"bad.json is not a definitions file: \"always_16\" is of another "
                             "type, not true or false. Nothing was changed."});
        QCOMPARE(o.w.readsTable->rowCount(), 2);
    }

    void chartSavedAsPngGetsItsExtension() {
        Offline o;
        QTemporaryDir dir;
        QVERIFY(o.w.saveChart(dir.filePath("chart")));
        QVERIFY(QFile::exists(dir.filePath("chart.png")));
    }
};

QTEST_MAIN(TstPollWindow)
#include "tst_poll_window.moc"
