// DTR, flow-control choice, the modem-line boxes and the link monitor. Data flows over a
// pseudo-terminal; its missing modem lines are played by a port whose lines the test sets.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"
#include "support/fake_lines_port.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::FakeLinesPort;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

struct Rig {
    PtyPair pty;
    FakeLinesPort* port = nullptr;
    std::unique_ptr<Form1> f;

    Rig() {
        serial::bindPort(1, pty.slavePath().toStdString());
        auto p = std::make_unique<FakeLinesPort>();
        port = p.get();
        f = std::make_unique<Form1>(std::move(p));
        f->show();
    }
    void open() {
        QTest::mouseClick(f->Command1, Qt::LeftButton);
        // Past the start-up shot of Timer3: it would turn a manual read back to auto receive.
        QElapsedTimer t;
        t.start();
        while (f->Timer3->isActive() && t.elapsed() < 3000)
            QTest::qWait(10);
    }
};

// A check box takes clicks on its mark and caption only, not on the rest of its rectangle.
void clickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// Answers message boxes only after they have been open for `holdMs`, and records how many
// were open at once.
class SlowAnswerer : public QObject {
  public:
    explicit SlowAnswerer(int holdMs) : holdMs_(holdMs) {
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start(10);
    }
    QStringList texts;
    int mostOpenAtOnce = 0;

  private:
    void look() {
        int open = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) && w->isVisible())
                ++open;
        mostOpenAtOnce = std::max(mostOpenAtOnce, open);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            seen_ = nullptr;
            return;
        }
        if (box != seen_) {
            seen_ = box;
            texts << box->text();
            since_.start();
        }
        if (since_.elapsed() >= holdMs_)
            box->button(QMessageBox::Ok)->click();
    }
    int holdMs_;
    QTimer timer_;
    QMessageBox* seen_ = nullptr;
    QElapsedTimer since_;
};

} // namespace

class TstLineControl : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void dtrFollowsItsBoxAtOnce_data() {
        QTest::addColumn<bool>("open");
        QTest::newRow("closed") << false;
        QTest::newRow("open") << true;
    }
    void dtrFollowsItsBoxAtOnce() {
        QFETCH(bool, open);
        Rig r;
        Form1& f = *r.f;
        if (open)
            r.open();
        QVERIFY(f.Chk_DTR->isEnabled());
        r.port->dtrApplied.clear();
        clickBox(f.Chk_DTR);
        QCOMPARE(r.port->dtrApplied, QList<bool>{false}); // negated before the click returns
        QVERIFY(!f.MSComm1->dtrEnable());
        clickBox(f.Chk_DTR);
        QCOMPARE(r.port->dtrApplied, (QList<bool>{false, true}));
        QVERIFY(f.MSComm1->dtrEnable());
        QCOMPARE(f.Port_Opened, open);
    }

    void openingAppliesTheDtrBox_data() {
        QTest::addColumn<bool>("disabled");
        QTest::newRow("DTR_Disable checked") << true;
        QTest::newRow("DTR_Disable unchecked") << false;
    }
    void openingAppliesTheDtrBox() {
        QFETCH(bool, disabled);
        Rig r;
        if (disabled)
            clickBox(r.f->Chk_DTR);
        r.port->dtrApplied.clear();
        r.open();
        QVERIFY(r.f->Port_Opened);
        QVERIFY(!r.port->dtrApplied.isEmpty());
        QCOMPARE(r.port->dtrApplied.last(), !disabled);
    }

    void flowControlAtTheNextOpen_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("handshaking");
        QTest::newRow("None") << 0 << 0;
        QTest::newRow("HW: RTS/CTS") << 1 << 2;
        QTest::newRow("SW: XON/XOFF") << 2 << 1;
    }
    void flowControlAtTheNextOpen() {
        QFETCH(int, button);
        QFETCH(int, handshaking);
        Rig r;
        Form1& f = *r.f;
        r.open();
        QCOMPARE(f.MSComm1->handshaking(), 0);
        for (QRadioButton* b : f.Opt_FlowControl)
            QVERIFY(!b->isEnabled());
        QTest::mouseClick(f.Command7, Qt::LeftButton);

        QTest::mouseClick(f.Opt_FlowControl[static_cast<size_t>(button)], Qt::LeftButton);
        QCOMPARE(int(f.Flow_Control), button);
        QVERIFY(f.Opt_FlowControl[static_cast<size_t>(button)]->isChecked());
        QCOMPARE(f.MSComm1->handshaking(), 0); // the port is not touched yet
        r.open();
        QVERIFY(f.Port_Opened);
        QCOMPARE(f.MSComm1->handshaking(), handshaking);
    }

    void linkMonitor_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("dcd");
        QTest::addColumn<QString>("label");
        QTest::newRow("closed, carrier played") << false << true << "Local Breaking";
        QTest::newRow("closed") << false << false << "Local Breaking";
        QTest::newRow("open, no carrier") << true << false << "Opposite Breaking";
        QTest::newRow("open, carrier") << true << true << "Connecting...";
    }
    void linkMonitor() {
        QFETCH(bool, open);
        QFETCH(bool, dcd);
        QFETCH(QString, label);
        Rig r;
        Form1& f = *r.f;
        r.port->lines.dcd = dcd;
        if (open)
            r.open();
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), label, 700);
        // Written on every tick, not only on a change.
        f.Label3->setText(QStringLiteral("stale"));
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), label, 700);
        // The "Auto Connect Detection" box changes nothing.
        clickBox(f.Chk_ConnDetect);
        QVERIFY(f.Chk_ConnDetect->isChecked());
        f.Label3->setText(QStringLiteral("stale"));
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), label, 700);
    }

    void carrierComesAndGoes() {
        Rig r;
        Form1& f = *r.f;
        r.open();
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Opposite Breaking"), 700);
        r.port->lines.dcd = true;
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Connecting..."), 700);
        r.port->lines.dcd = false;
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Opposite Breaking"), 700);
        r.port->lines.dcd = true;
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Connecting..."), 700);
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Local Breaking"), 700);
    }

    void indicatorBoxes_data() {
        QTest::addColumn<bool>("cts");
        QTest::addColumn<bool>("dsr");
        QTest::addColumn<bool>("dcd");
        QTest::newRow("none") << false << false << false;
        QTest::newRow("CTS") << true << false << false;
        QTest::newRow("DSR") << false << true << false;
        QTest::newRow("DCD") << false << false << true;
        QTest::newRow("all") << true << true << true;
    }
    void indicatorBoxes() {
        QFETCH(bool, cts);
        QFETCH(bool, dsr);
        QFETCH(bool, dcd);
        auto word = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
        Rig r;
        Form1& f = *r.f;
        QCOMPARE(f.txt_CTS->text(), QString()); // empty while closed
        r.open();
        QTRY_COMPARE(f.txt_CTS->text(), QStringLiteral("False"));
        r.port->lines = {cts, dsr, dcd};
        // Refreshed on every pass, without data arriving.
        QTRY_COMPARE_WITH_TIMEOUT(f.txt_CTS->text(), word(cts), 300);
        QTRY_COMPARE_WITH_TIMEOUT(f.txt_DSR->text(), word(dsr), 300);
        QTRY_COMPARE_WITH_TIMEOUT(f.txt_DCD->text(), word(dcd), 300);

        // Manual receive: the boxes keep their last text.
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QTRY_VERIFY(!f.autoReceiveRunning());
        r.port->lines = {!cts, !dsr, !dcd};
        QTest::qWait(300);
        QCOMPARE(f.txt_CTS->text(), word(cts));
        QCOMPARE(f.txt_DSR->text(), word(dsr));
        QCOMPARE(f.txt_DCD->text(), word(dcd));

        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(f.txt_CTS->text(), QString());
        QCOMPARE(f.txt_DSR->text(), QString());
        QCOMPARE(f.txt_DCD->text(), QString());
    }

    void failingTickShowsOneMessageAtATime() {
        Rig r;
        Form1& f = *r.f;
        r.open();
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Opposite Breaking"), 700);
        QTRY_VERIFY(!f.Timer3->isActive()); // its start-up shot would restart auto receive
        QTest::mouseClick(f.Command2, Qt::LeftButton); // only the link monitor reads lines now
        QTRY_VERIFY(!f.autoReceiveRunning());

        SlowAnswerer answerer(1600); // three ticks pass while each message is open
        r.port->failLineReads = true;
        QTRY_COMPARE_WITH_TIMEOUT(answerer.texts.size(), 1, 1500);
        QCOMPARE(answerer.texts[0], QStringLiteral("8099; ErrMsg=Modem status unreadable"));
        QTest::qWait(1300);
        QCOMPARE(answerer.mostOpenAtOnce, 1);
        QCOMPARE(f.Label3->text(), QStringLiteral("Opposite Breaking")); // kept
        // Answered: the next tick tries again.
        QTRY_COMPARE_WITH_TIMEOUT(answerer.texts.size(), 2, 2500);
        r.port->failLineReads = false;
        r.port->lines.dcd = true;
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Connecting..."), 3000);
        QCOMPARE(answerer.mostOpenAtOnce, 1);
        QVERIFY(answerer.texts.size() <= 2);
    }

    void failingLinesEndAutoReceiveWithOneMessage() {
        Rig r;
        Form1& f = *r.f;
        r.open();
        QTRY_VERIFY(!f.Timer3->isActive()); // its start-up shot would restart auto receive
        r.pty.write("before");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("6"));
        MessageCatcher messages;
        r.port->failLineReads = true;
        QTRY_VERIFY(!f.autoReceiveRunning());
        QTest::qWait(1200);
        r.port->failLineReads = false;
        const QStringList autoRecv = messages.texts.filter(QStringLiteral("AutoRecv"));
        QCOMPARE(autoRecv, QStringList{QStringLiteral(
                               "AutoRecv => ErrCode=8099; ErrMsg=Modem status unreadable")});
        // The link monitor reports its own failures in its own form.
        for (const QString& t : messages.texts)
            QVERIFY2(t == autoRecv[0] || t == QLatin1String("8099; ErrMsg=Modem status unreadable"),
                     qPrintable(t));
        QVERIFY(f.Port_Opened);
        QVERIFY(!f.Rec_Data_Manual);
        QCOMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )"));

        QTest::mouseClick(f.Command8, Qt::LeftButton);
        r.pty.write("after");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("11"));
        QCOMPARE(f.Text3->toPlainText(), QStringLiteral("beforeafter"));
    }
};

QTEST_MAIN(TstLineControl)
#include "tst_line_control.moc"
