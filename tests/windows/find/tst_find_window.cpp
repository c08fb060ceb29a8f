// The Find window's wiring: opened from the main window, a closed port gets one message, a
// sweep finds the simulator standing at another setting and station, and "Use" hands that
// setting to the main window (the port reopened) and the station to the Modbus tool and Poll.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "support/devsim_process.h"
#include "support/form_rig.h"
#include "windows/find/find_window.h"
#include "windows/poll/poll_window.h"

using namespace varnok;
using test::click;

class TstFindWindow : public QObject {
    Q_OBJECT
  private slots:
    void wiring() {
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--static", "--baud", "19200", "--framing", "8N2", "--station", "17"}));
        test::FormRig r(nullptr, sim.path());
        Form1& f = *r.f;
        f.Timer3->stop(); // its start-up auto receive would take the sweep's input
        click(f.Cmd_Find);
        FindWindow* w = f.findWindow();
        QVERIFY(w && w->isVisible() && !w->isModal());
        QCOMPARE(w->objectName(), "Find");
        QVERIFY(w->baudBoxes[8]->isChecked()); // the main window's 115200
        click(w->startButton);
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY(r.messages.texts[0].startsWith("The port is not open"));

        QVERIFY(r.open());
        click(f.Cmd_Poll);
        w->baudBoxes[5]->setChecked(true); // 19200
        w->lastStationBox->setValue(20);
        click(w->startButton);
        QCOMPARE(w->startButton->text(), "Stop");
        QTRY_COMPARE_WITH_TIMEOUT(w->startButton->text(), "Start", 30000);
        const int row = w->results->currentRow();
        QVERIFY(row >= 0);
        QCOMPARE(w->results->item(row, FindWindow::ColBaud)->text(), "19200");
        QCOMPARE(w->results->item(row, FindWindow::ColFraming)->text(), "8N2");
        QCOMPARE(w->results->item(row, FindWindow::ColStation)->text(), "17");
        QCOMPARE(f.Combo2->currentText(), "115200"); // unchanged until "Use"
        QCOMPARE(f.engine().lineSettings().baud, 115200);

        click(w->useButton);
        QCOMPARE(f.Combo2->currentText(), "19200");
        QCOMPARE(f.Text1->text(), "n,8,2");
        QVERIFY(f.engine().isOpen());
        QCOMPARE(f.engine().lineSettings().baud, 19200);
        QVERIFY(f.txtString->text().startsWith("11 "));
        QCOMPARE(f.pollWindow()->readsTable->item(0, PollWindow::RdStation)->text(), "17");
        QCOMPARE(r.messages.texts.size(), 1);
    }
};

QTEST_MAIN(TstFindWindow)
#include "tst_find_window.moc"
