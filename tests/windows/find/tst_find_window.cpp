// The Find window's wiring, one behaviour a slot: opened from the main window, a closed port
// gets one message, a sweep finds the simulator standing at another setting and station, and
// "Use" hands that setting to the main window (the port reopened) and the station to the
// Modbus tool and Poll.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "support/devsim_process.h"
#include "support/fake_lines_port.h"
#include "support/form_rig.h"
#include "windows/find/find_window.h"
#include "windows/poll/poll_window.h"

using namespace varnok;
using test::click;

namespace {

// The main window opened on the simulator at 19200 8N2, station 17, with Poll open; a sweep
// of stations 1-20 at the default framings and 19200 as well as 115200.
struct Swept {
    test::DevsimProcess sim;
    std::unique_ptr<test::FormRig> r;
    FindWindow* w = nullptr;

    bool sweep() {
        if (!sim.start({"--static", "--baud", "19200", "--framing", "8N2", "--station", "17"}))
            return false;
        r = std::make_unique<test::FormRig>(nullptr, sim.path());
        r->f->Timer3->stop(); // its start-up auto receive would take the sweep's input
        click(r->f->Cmd_Find);
        w = r->f->findWindow();
        if (!r->open())
            return false;
        click(r->f->Cmd_Poll);
        w->baudBoxes[5]->setChecked(true); // 19200
        w->lastStationBox->setValue(20);
        click(w->startButton);
        return w->startButton->text() == "Stop" &&
               QTest::qWaitFor([this] { return w->startButton->text() == "Start"; }, 30000);
    }
};

} // namespace

class TstFindWindow : public QObject {
    Q_OBJECT
  private slots:
    void opensBesideTheMainWindow() {
        test::FormRig r;
        click(r.f->Cmd_Find);
        FindWindow* w = r.f->findWindow();
        QVERIFY(w && w->isVisible() && !w->isModal());
        QCOMPARE(w->objectName(), "Find");
        QVERIFY(w->baudBoxes[8]->isChecked()); // the main window's 115200
    }

    // Over raw TCP the server fixes the line settings: the window says so and offers no bauds
    // or framings to tick.
    void networkPortOffersStationsOnly() {
        engine::Session session(test::fakeLink(serial::LinkKind::RawTcp));
        FindWindow w(session);
        QVERIFY2(w.timeoutLabel->text().startsWith(
                     "The server fixes the line settings: only stations are tried. Reply timeout"),
                 qPrintable(w.timeoutLabel->text()));
        QVERIFY(!w.baudBoxes[0]->isEnabled() && !w.framingBoxes[0]->isEnabled());
        QVERIFY(w.firstStationBox->isEnabled());
    }

    // The sweep's own check and text: the window repeats none of them.
    void closedPortGetsOneMessage() {
        test::FormRig r;
        click(r.f->Cmd_Find);
        click(r.f->findWindow()->startButton);
        QCOMPARE(r.messages.texts, QStringList{"The port is not open: open it with \"Open COM\" in "
                                               "the main window, then start the search."});
    }

    // Listening sends to no station: a first station above the last holds nothing back.
    void listeningIgnoresTheStations() {
        test::FormRig r;
        QVERIFY(r.open());
        click(r.f->Cmd_Find);
        FindWindow* w = r.f->findWindow();
        w->listenBox->setChecked(true);
        w->listenSecondsBox->setValue(1);
        w->firstStationBox->setValue(9);
        w->lastStationBox->setValue(3);
        QVERIFY(w->start());
        QCOMPARE(r.messages.texts.size(), 0);
        click(w->startButton);
        QTRY_COMPARE(w->startButton->text(), "Start");
    }

    // The simulator stands at 19200 8N2, station 17; the main window at 115200 8N1.
    void sweepFindsAnotherSetting() {
        Swept s;
        QVERIFY(s.sweep());
        const int row = s.w->results->currentRow();
        QVERIFY(row >= 0);
        QCOMPARE(s.w->results->item(row, FindWindow::ColBaud)->text(), "19200");
        QCOMPARE(s.w->results->item(row, FindWindow::ColFraming)->text(), "8N2");
        QCOMPARE(s.w->results->item(row, FindWindow::ColStation)->text(), "17");
        QCOMPARE(s.r->f->Combo2->currentText(), "115200"); // unchanged until "Use"
        QCOMPARE(s.r->f->engine().lineSettings().baud, 115200);
    }

    // "Use" hands the setting to the main window, the port reopened at it, and the station to
    // the Modbus tool and Poll.
    void useHandsTheFindOver() {
        Swept s;
        QVERIFY(s.sweep());
        Form1& f = *s.r->f;
        click(s.w->useButton);
        QCOMPARE(f.Combo2->currentText(), "19200");
        QCOMPARE(f.Text1->text(), "n,8,2");
        QVERIFY(f.engine().isOpen());
        QCOMPARE(f.engine().lineSettings().baud, 19200);
        QVERIFY(f.txtString->text().startsWith("11 "));
        QCOMPARE(f.pollWindow()->readsTable->item(0, PollWindow::RdStation)->text(), "17");
        QCOMPARE(s.r->messages.texts.size(), 0);
    }

    // "Stop" leaves the bar where the sweep stopped and says so; it does not fill the bar.
    void stopKeepsProgress() {
        test::DevsimProcess sim;
        QVERIFY(sim.start({"--static", "--baud", "19200"}));
        test::FormRig r(nullptr, sim.path());
        r.f->Timer3->stop(); // its start-up auto receive would take the sweep's input
        QVERIFY(r.open());
        test::click(r.f->Cmd_Find);
        FindWindow* w = r.f->findWindow();
        w->fixedTimeoutButton->setChecked(true);
        w->fixedTimeoutBox->setValue(5); // at 115200 the station only garbles: nothing is found
        click(w->startButton);
        QTRY_VERIFY(w->progressBar->value() >= 3);
        click(w->startButton);
        QTRY_COMPARE(w->startButton->text(), "Start");
        QVERIFY2(w->progressBar->value() >= 3 && w->progressBar->value() < 40,
                 qPrintable(QString::number(w->progressBar->value())));
        QCOMPARE(w->progressBar->maximum(), 247 * 4);
        QVERIFY(w->progressBar->text().endsWith("stopped"));
        QVERIFY(w->progressLabel->text().startsWith("Stopped after "));
    }

    // The longest progress and plan texts leave the window's width as it was and the window
    // within the screen's available area: they are cut short instead.
    void longestStatusKeepsWidth() {
        test::FormRig r;
        test::click(r.f->Cmd_Find);
        FindWindow* w = r.f->findWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QRect avail = w->screen()->availableGeometry();
        const int width = w->width();
        w->sevenBitBox->setChecked(true);
        for (QCheckBox* b : w->baudBoxes)
            b->setChecked(true);
        engine::FindProgress p;
        p.total = 12 * 7 * 247;
        p.done = p.total - 1;
        p.line = {115200, serial::Parity::Odd, 7, serial::StopBits::Two};
        p.station = 247;
        p.msLeft = 1e12;
        emit w->sweep().progress(p);
        QTest::qWait(50); // the layout settles
        QVERIFY2(w->progressLabel->text().size() > 60, qPrintable(w->progressLabel->text()));
        QCOMPARE(w->width(), width);
        QVERIFY(avail.contains(w->frameGeometry()));
    }
};

QTEST_MAIN(TstFindWindow)
#include "tst_find_window.moc"
