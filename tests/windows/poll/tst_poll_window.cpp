// The Poll window's wiring against the simulator: a read fills rows in their formats, an edit
// writes and reads back, a ticked row gets chart points, the CSV log has its lines, and bad
// input gets its message with nothing on the wire.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/test_support.h"
#include "windows/poll/poll_window.h"

using namespace varnok;
using W = PollWindow;

class TstPollWindow : public QObject {
    Q_OBJECT
  private slots:
    void wiring() {
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--static"}));
        serial::bindPort(1, sim.path().toStdString());
        engine::TerminalEngine e;
        QVERIFY(e.open({}));
        W w(e);
        w.show();
        w.readsTable->setRowCount(0);
        w.addRead({{1, 3, 0, 4, {}, {}}, 0, 500, 0});
        w.addRead({{1, 3, 52, 2, {}, {}}, 0, 500, 0});
        QVERIFY(w.applyReads());
        w.setRowFormat(w.rowOf(3, 52), {modbus::ValueType::Float32, modbus::WordOrder::ABCD});
        const int pi = w.rowOf(3, 52);
        QVERIFY(w.table->isRowHidden(pi + 1));
        QTemporaryDir dir;
        QVERIFY(w.startLog(dir.filePath("log.csv")));
        QTest::mouseClick(w.pollButton, Qt::LeftButton);
        QTRY_COMPARE(w.table->item(pi, W::ColValue)->text(), QString("3.14159274"));
        QCOMPARE(w.table->item(0, W::ColValue)->text(), QString("4660"));
        QCOMPARE(w.table->item(pi, W::ColRaw)->text(), QString("4049 0FDB"));
        QVERIFY(e.manualReceive()); // the input is borrowed while polling

        w.table->item(1, W::ColValue)->setText("77");
        QTRY_COMPARE(w.table->item(1, W::ColValue)->text(), QString("77"));
        QVERIFY2(w.writeStatus->text().endsWith("FC06 at 1: ok"), qPrintable(w.writeStatus->text()));
        w.table->item(pi, W::ColPlot)->setCheckState(Qt::Checked);
        QTRY_VERIFY(w.chartPoints(pi) >= 2);
        w.stopLog();
        QFile log(dir.filePath("log.csv"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString(log.readAll()).trimmed().split('\n');
        QCOMPARE(lines.first(), QString("time,0,1,2,3,52"));
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[^,]*,)"
                                    R"(4660,77,0,0,3\.14159274$)")
                     .match(lines.last())
                     .hasMatch(),
                 qPrintable(lines.last()));

        // Definitions come back as saved; bad input is refused with its reason.
        QVERIFY(w.saveDefinitions(dir.filePath("defs.json")));
        w.setRowFormat(pi, {});
        QVERIFY(w.loadDefinitions(dir.filePath("defs.json")));
        QVERIFY(w.table->isRowHidden(w.rowOf(3, 52) + 1));
        QFile map(dir.filePath("map.csv"));
        QVERIFY(map.open(QIODevice::WriteOnly));
        map.write("address,name,format\n40001,flow,uint16\n40002,temp,flaot\n");
        map.close();
        test::MessageCatcher catcher;
        w.table->item(2, W::ColValue)->setText("70000");
        QVERIFY(!w.importMap(map.fileName()));
        w.readsTable->item(0, W::RdCount)->setText("126");
        QVERIFY(!w.applyReads());
        QCOMPARE(catcher.texts,
                 (QStringList{"\"70000\" is not a 16-bit unsigned value (0 to 65535). Nothing "
                              "was sent.",
                              "map.csv is not a register map: line 3: unknown format \"flaot\" "
                              "(int16, uint16, hex16, bin16, int32, uint32, float32, int64, "
                              "uint64, double with ABCD, CDAB, BADC or DCBA; ascii AB or BA). "
                              "Nothing was imported.",
                              "Read 1: The count must be from 1 to 125 registers; 126 is past "
                              "the protocol's limit. Nothing was sent."}));
        serial::clearPortBindings();
    }
};

QTEST_MAIN(TstPollWindow)
#include "tst_poll_window.moc"
