// The N500 dialog against the simulated console and over a bare pseudo-terminal: what goes
// on the wire, what the boxes show, and how the main window's receiving is borrowed and
// given back.
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <thread>

#include "windows/main_window/form1.h"
#include "engine/console_exchange.h"
#include "windows/netsetting/setnet_form.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::processCpuSeconds;
using varnok::test::PtyPair;
using varnok::test::serveEvents;

namespace {

const QString kAsciiManual = QStringLiteral("Varnok_RECV ( Manual-Recv )( ASCII Mode )");
const QStringList kTwelveEmpty(12, QString());
const QStringList kTwelveZero(12, QStringLiteral("0"));

// The simulated console.
struct Sim : test::DevsimProcess {
    bool start(const QStringList& args) {
        return DevsimProcess::start(QStringList{"--mode", "n500"} + args);
    }
};

// The main window with Com1 bound to `path` and opened by its button, after its start-up
// tick (which would start auto receive) has come, as it does for a user.
std::unique_ptr<Form1> openMain(const QString& path) {
    serial::bindPort(1, path.toStdString());
    auto f = std::make_unique<Form1>();
    f->show();
    if (!QTest::qWaitFor([&f] { return !f->Timer3->isActive(); }, 2000))
        qWarning("start-up tick did not come");
    QTest::mouseClick(f->Command1, Qt::LeftButton);
    return f;
}

SETNET_Form* openDialog(Form1& f) {
    QTest::mouseClick(f.Cmd_SetNet, Qt::LeftButton);
    return f.netSettingForm();
}

QList<QLineEdit*> edits(const SETNET_Form& d) {
    QList<QLineEdit*> out;
    for (const auto* row : {&d.IP, &d.Mask, &d.Gateway})
        out.append(QList<QLineEdit*>(row->begin(), row->end()));
    return out;
}

QStringList boxes(const SETNET_Form& d) {
    QStringList out;
    for (const QLineEdit* e : edits(d))
        out << e->text();
    return out;
}

// Selects the box's text and types over it, as a user does.
void typeInto(QLineEdit* e, const QString& text) {
    e->selectAll();
    text.isEmpty() ? QTest::keyClick(e, Qt::Key_Delete) : QTest::keyClicks(e, text);
}

void typeAll(SETNET_Form& d, const QStringList& twelve) {
    for (int i = 0; i < 12; ++i)
        typeInto(edits(d)[i], twelve[i]);
}

QStringList split12(const char* dotted3) {
    QStringList out;
    for (const QString& v : QString::fromLatin1(dotted3).split(QLatin1Char(' ')))
        out << v.split(QLatin1Char('.'));
    return out;
}

const QStringList kDefaultReply = split12("10.0.0.7 255.0.0.0 10.0.0.1");

} // namespace

class TstSetnetForm : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void layoutAndLook() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        QVERIFY(d);
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QCOMPARE(d->windowTitle(), QStringLiteral("N500 Net Setting"));
        QVERIFY(d->isWindow() && !d->parentWidget());
        QCOMPARE(d->windowModality(), Qt::NonModal);
        QVERIFY(f->isEnabled());
        QCOMPARE(d->size(), QSize(320, 191));
        const QList<std::tuple<const char*, const char*, QRect>> items = {
            {"Cmd_Default", "Default Setting", {210, 14, 85, 22}},
            {"Label1", "IP : ", {70, 49, 32, 20}},
            {"Label2", "Mask : ", {45, 77, 57, 20}},
            {"Label3", "Gateway : ", {17, 105, 85, 20}},
            {"Cmd_GET", "GET", {21, 147, 78, 29}},
            {"Cmd_SET", "SET", {119, 147, 78, 29}},
            {"Cmd_Exit", "Exit", {217, 147, 78, 29}},
        };
        for (const auto& [name, text, rect] : items) {
            auto* w = d->findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(w, name);
            QCOMPARE(w->property("text").toString(), QLatin1String(text));
            QCOMPARE(w->geometry(), rect);
        }
        QCOMPARE(boxes(*d), kTwelveZero);

        // Every caption fits its box in the face actually used.
        for (QLabel* l : {d->Label1, d->Label2, d->Label3})
            QVERIFY2(l->fontMetrics().horizontalAdvance(l->text().trimmed()) <= l->width(),
                     qPrintable(l->text()));

        // Tab order: the twelve boxes, then SET, Exit, GET, Default, and round again.
        QStringList order;
        QWidget* w = d->IP[0];
        for (int i = 0; i < 17; ++i, w = w->nextInFocusChain()) {
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisible())
                w = w->nextInFocusChain();
            order << w->objectName();
        }
        QCOMPARE(order.join(QLatin1Char(' ')),
                 QStringLiteral("IP_0 IP_1 IP_2 IP_3 Mask_0 Mask_1 Mask_2 Mask_3 Gateway_0 "
                                "Gateway_1 Gateway_2 Gateway_3 Cmd_SET Cmd_Exit Cmd_GET "
                                "Cmd_Default IP_0"));
    }

    void getFillsBoxes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("three values") << QStringList{} << kDefaultReply;
        // An "=" before the address shifts everything one place.
        QTest::newRow("banner with =")
            << QStringList{"--banner", "x=1"} << split12("1.1.1.1 10.0.0.7 255.0.0.0");
        QTest::newRow("short dotted values")
            << QStringList{"--ip", "10.7", "--mask", "1.2.3.4.5", "--gateway", ".5"}
            << QStringList{"10", "7", "7", "7", "1", "2", "3", "4", "", "5", "5", "5"};
    }
    void getFillsBoxes() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        Sim sim;
        QVERIFY(sim.start(args));
        MessageCatcher catcher;
        auto f = openMain(sim.path());
        SETNET_Form* d = openDialog(*f);
        const qint64 shown = f->receiveDisplayLength();
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), expected);
        QCOMPARE(d->SendStr, QStringLiteral("ip\rmask\rgateway\r"));
        QVERIFY(catcher.texts.isEmpty());
        serveEvents(100);
        QCOMPARE(f->receiveDisplayLength(), shown); // the reply went to the dialog only
    }

    void getWithNothingConnected() {
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), kTwelveEmpty);
        QCOMPARE(d->RecvStr, QString());
        QCOMPARE(pty.readAvailable(), QByteArray("ip\rmask\rgateway\r"));
        serveEvents(50);
        QVERIFY(catcher.texts.isEmpty());
    }

    void setWritesBoxesAsTyped_data() {
        QTest::addColumn<QStringList>("typed"); // empty list: "Default Setting" instead
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("defaults") << QStringList{}
                                  << QByteArray("ip 192.168.0.1\rmask 255.255.255.0\r"
                                                "gateway 192.168.0.254\r");
        QTest::newRow("all empty") << kTwelveEmpty << QByteArray("ip ...\rmask ...\rgateway ...\r");
        QTest::newRow("unchecked texts")
            << QStringList{" 1", "300", "abc", "", "255", "255", "0", "0", "7", "", "1.2", "x"}
            << QByteArray("ip  1.300.abc.\rmask 255.255.0.0\rgateway 7..1.2.x\r");
    }
    void setWritesBoxesAsTyped() {
        QFETCH(QStringList, typed);
        QFETCH(QByteArray, wire);
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        if (typed.isEmpty())
            QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        else
            typeAll(*d, typed);
        QVERIFY(pty.readAvailable().isEmpty()); // "Default Setting" sends nothing
        const QStringList before = boxes(*d);
        QTest::mouseClick(d->Cmd_SET, Qt::LeftButton);
        // On the wire by the time the handler returns, with no event served in between.
        QCOMPARE(pty.readAvailable(), wire);
        QCOMPARE(d->SendStr.toLatin1(), wire);
        QCOMPARE(boxes(*d), before);
        QVERIFY(catcher.texts.isEmpty());
    }

    void setThenGetRoundTrip() {
        Sim sim;
        QVERIFY(sim.start({}));
        MessageCatcher catcher;
        auto f = openMain(sim.path());
        SETNET_Form* d = openDialog(*f);
        const QStringList typed = split12("172.16.5.9 255.255.240.0 172.16.0.1");
        typeAll(*d, typed);
        QTest::mouseClick(d->Cmd_SET, Qt::LeftButton);
        QCOMPARE(d->RecvStr, QStringLiteral("OK\r\nOK\r\nOK\r\n")); // drained, not looked at
        QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), typed);
        QVERIFY(catcher.texts.isEmpty());
    }

    void exchangeKeepsWaitingInputInFront() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        f->Command2_Click();
        pty.write("tail=9\r\n"); // arrives while no event is served
        QCOMPARE(netsetting::Console_Exchange(*f->MSComm1, QStringLiteral("ip\r"), 20),
                 QStringLiteral("tail=9\r\n"));
        QCOMPARE(pty.readAvailable(), QByteArray("ip\r"));
        pty.write("\xe9=\xff\r"); // Latin-1 both ways
        QCOMPARE(netsetting::Console_Exchange(*f->MSComm1, QStringLiteral("\u00e9\r"), 20),
                 QStringLiteral("\u00e9=\u00ff\r"));
        QCOMPARE(pty.readAvailable(), QByteArray("\xe9\r"));
    }

    void receiveWayAndMode_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("manual");
        QTest::newRow("binary auto") << true << false;
        QTest::newRow("ASCII manual") << false << true;
    }
    void receiveWayAndMode() {
        QFETCH(bool, binary);
        QFETCH(bool, manual);
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        if (binary)
            QTest::mouseClick(f->btn_Receive_Binary, Qt::LeftButton);
        if (manual)
            QTest::mouseClick(f->Command2, Qt::LeftButton);
        QTRY_COMPARE(f->autoReceiveRunning(), !manual);

        SETNET_Form* d = openDialog(*f);
        QVERIFY(!f->Recive_Binary && f->Rec_Data_Manual);
        QCOMPARE(f->MSComm1->inputMode(), 0);
        QCOMPARE(f->btn_Receive_Binary->text(), QStringLiteral("Binary"));
        QCOMPARE(f->Frame1->title(), kAsciiManual);
        QTRY_VERIFY(!f->autoReceiveRunning()); // the loop leaves at its next pass
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), kDefaultReply);

        QElapsedTimer t;
        t.start();
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        QVERIFY(!d->isVisible());
        QVERIFY(f->Rec_Data_Manual);
        QTRY_VERIFY_WITH_TIMEOUT(!f->Rec_Data_Manual, 2000);
        const qint64 after = t.elapsed();
        QVERIFY2(after >= 450 && after < 1200, qPrintable(QString::number(after)));
        QVERIFY(f->autoReceiveRunning());
        QVERIFY(!f->Recive_Binary);
        QCOMPARE(f->Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )"));
        QVERIFY(!f->Timer3->isActive());
        QTRY_VERIFY(f->netSettingForm() == nullptr); // unloaded
    }

    void setNetTwiceDoesNotReload() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        typeInto(d->IP[0], QStringLiteral("77"));
        QTest::mouseClick(f->Command8, Qt::LeftButton); // main back to auto
        QCOMPARE(openDialog(*f), d);
        QCOMPARE(d->IP[0]->text(), QStringLiteral("77"));
        QVERIFY(!f->Rec_Data_Manual); // load steps did not run again
    }

    void reopenAfterExitShowsZeros_data() {
        QTest::addColumn<bool>("waitForUnload");
        QTest::newRow("after unload") << true;
        QTest::newRow("before the old window is gone") << false;
    }
    void reopenAfterExitShowsZeros() {
        QFETCH(bool, waitForUnload);
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        QPointer<SETNET_Form> d = openDialog(*f);
        typeInto(d->Mask[2], QStringLiteral("9"));
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        if (waitForUnload) {
            QTRY_VERIFY(!f->Rec_Data_Manual);
            QTRY_VERIFY(d.isNull());
        }
        SETNET_Form* again = openDialog(*f);
        QVERIFY(again && again != d);
        QCOMPARE(boxes(*again), kTwelveZero);
        QVERIFY(f->Rec_Data_Manual);
        QCOMPARE(f->Frame1->title(), kAsciiManual);
    }

    void windowCloseLeavesManual() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        QPointer<SETNET_Form> d = openDialog(*f);
        d->close(); // as the window's close control does
        QTRY_VERIFY(d.isNull());
        serveEvents(800);
        QVERIFY(f->Rec_Data_Manual && !f->autoReceiveRunning() && !f->Timer3->isActive());
        QCOMPARE(f->Frame1->title(), kAsciiManual);
    }

    void portClosedUnderTheDialog() {
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        QTest::mouseClick(f->Command7, Qt::LeftButton);
        QVERIFY(!f->Port_Opened);
        QVERIFY(d->isVisible());
        QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        const QStringList before = boxes(*d);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(catcher.texts.size(), 1);
        QVERIFY2(catcher.texts[0].startsWith(QLatin1String("GET")) &&
                     catcher.texts[0].contains(QLatin1String("port is not open")),
                 qPrintable(catcher.texts[0]));
        QCOMPARE(boxes(*d), before);
        QTest::mouseClick(d->Cmd_SET, Qt::LeftButton);
        QCOMPARE(catcher.texts.size(), 2);
        QVERIFY(catcher.texts[1].startsWith(QLatin1String("SET")));
        QVERIFY(catcher.okOnly());
        QVERIFY(pty.readAvailable().isEmpty());
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton); // "Exit" still hands back
        QTRY_VERIFY(!f->Timer3->isActive());
        QCOMPARE(catcher.texts.size(), 2);
    }

    void deviceVanishes_data() {
        QTest::addColumn<bool>("duringPause");
        QTest::newRow("before GET") << false;
        QTest::newRow("during the console pause") << true;
    }
    void deviceVanishes() {
        QFETCH(bool, duringPause);
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        // During the pause nothing of ours runs until the thread wakes.
        std::thread unplug([&pty, duringPause] {
            if (duringPause)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.closeMaster();
        });
        if (!duringPause)
            unplug.join();
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        if (duringPause)
            unplug.join();
        QTRY_VERIFY(!f->Port_Opened);
        serveEvents(300);
        QCOMPARE(catcher.texts.size(), 1); // told once, by whichever side met it first
        QVERIFY2(catcher.texts[0].contains(QLatin1String("no longer available")),
                 qPrintable(catcher.texts[0]));
        QVERIFY(catcher.okOnly());
        QVERIFY(f->Command1->isVisible() && f->Command1->isEnabled());
        const double cpu0 = processCpuSeconds();
        serveEvents(2000);
        QVERIFY2(processCpuSeconds() - cpu0 < 0.25, "busy after the device vanished");
        // The program goes on: the dialog still answers, and a GET now says why it cannot.
        QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        QCOMPARE(d->IP[0]->text(), QStringLiteral("192"));
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(catcher.texts.size(), 2);
        QVERIFY(catcher.texts[1].contains(QLatin1String("port is not open")));
    }

    // The drain serves events; whatever is deleted meanwhile must not be used after.
    void deletedWhileDraining_data() {
        QTest::addColumn<bool>("mainWindow");
        QTest::newRow("dialog") << false;
        QTest::newRow("main window") << true;
    }
    void deletedWhileDraining() {
        QFETCH(bool, mainWindow);
        PtyPair pty;
        QPointer<Form1> f = openMain(pty.slavePath()).release();
        QPointer<SETNET_Form> d = openDialog(*f);
        pty.write("IP=1.2.3.4\r\n"); // gives the drain a read, then events
        QObject* victim = mainWindow ? static_cast<QObject*>(f.data()) : d.data();
        QTimer::singleShot(0, victim, [victim] { delete victim; });
        d->Cmd_GET_Click();
        QVERIFY(d.isNull()); // it cannot outlive the window whose port it borrows
        QCOMPARE(f.isNull(), mainWindow);
        if (!mainWindow) {
            QVERIFY(f->Port_Opened);
            QCOMPARE(pty.readAvailable(), QByteArray("ip\rmask\rgateway\r"));
            delete f.data();
        }
    }

    void mainWindowClosedWithDialogOpen() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        QPointer<SETNET_Form> d = openDialog(*f);
        f->close();
        QVERIFY(!d || !d->isVisible());
        f.reset();
        QVERIFY(d.isNull());
    }
};

QTEST_MAIN(TstSetnetForm)
#include "tst_setnet_form.moc"
