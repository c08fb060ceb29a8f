// The N500 dialog against the simulated console and over a bare pseudo-terminal: what goes
// on the wire, what the boxes show, and how the main window's receiving is borrowed and
// given back.
#include <QElapsedTimer>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <thread>

#include "main_window/form1.h"
#include "netsetting/console_exchange.h"
#include "netsetting/setnet_form.h"
#include "serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;
using varnok::test::serveEvents;

namespace {

const QString kAsciiManual = QStringLiteral("Varnok_RECV ( Manual-Recv )( ASCII Mode )");
const QString kAsciiAuto = QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )");

// One simulated console process; its device path is what the terminal opens.
class Sim {
  public:
    ~Sim() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(2000)) {
                proc_.kill();
                proc_.waitForFinished(2000);
            }
        }
    }
    bool start(QStringList args) {
        args.prepend(QStringLiteral("n500"));
        args.prepend(QStringLiteral("--mode"));
        proc_.setReadChannel(QProcess::StandardOutput);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QStringLiteral(VARNOK_DEVSIM), args);
        if (!proc_.waitForStarted(5000))
            return false;
        while (!proc_.canReadLine())
            if (!proc_.waitForReadyRead(5000))
                return false;
        const QByteArray line = proc_.readLine().trimmed();
        if (!line.startsWith("DEVICE "))
            return false;
        path_ = QString::fromLocal8Bit(line.mid(7));
        return true;
    }
    QString path() const { return path_; }

  private:
    QProcess proc_;
    QString path_;
};

// The main window with Com1 bound to `path` and opened by its button.
std::unique_ptr<Form1> openMain(const QString& path) {
    serial::bindPort(1, path.toStdString());
    auto f = std::make_unique<Form1>();
    f->show();
    // Its start-up tick comes first, as it does for a user: it would start auto receive.
    if (!QTest::qWaitFor([&f] { return !f->Timer3->isActive(); }, 2000))
        qWarning("start-up tick did not come");
    QTest::mouseClick(f->Command1, Qt::LeftButton);
    return f;
}

SETNET_Form* openDialog(Form1& f) {
    QTest::mouseClick(f.Cmd_SetNet, Qt::LeftButton);
    return f.netSettingForm();
}

QStringList boxes(const SETNET_Form& d) {
    QStringList out;
    for (const auto* row : {&d.IP, &d.Mask, &d.Gateway})
        for (const QLineEdit* e : *row)
            out << e->text();
    return out;
}

void typeInto(QLineEdit* e, const QString& text) {
    e->selectAll();
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Delete);
    else
        QTest::keyClicks(e, text);
}

void typeAll(SETNET_Form& d, const QStringList& twelve) {
    int i = 0;
    for (const auto* row : {&d.IP, &d.Mask, &d.Gateway})
        for (QLineEdit* e : *row)
            typeInto(e, twelve[i++]);
}

QStringList split12(const char* dotted3) {
    QStringList out;
    for (const QString& v : QString::fromLatin1(dotted3).split(QLatin1Char(' ')))
        out << v.split(QLatin1Char('.'));
    return out;
}

const QStringList kTwelveEmpty(12, QString());
const QStringList kTwelveZero(12, QStringLiteral("0"));

} // namespace

class TstSetnetForm : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void layoutAndLook() {
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        QVERIFY(f->Port_Opened);
        SETNET_Form* d = openDialog(*f);
        QVERIFY(d);
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QCOMPARE(d->windowTitle(), QStringLiteral("N500 Net Setting"));
        QVERIFY(d->isWindow());
        QVERIFY(!d->parentWidget());
        QCOMPARE(d->windowModality(), Qt::NonModal);
        QVERIFY(f->isEnabled());
        QCOMPARE(d->size(), QSize(320, 191)); // 4800 x 2865 twips

        struct Item {
            const char* name;
            const char* text;
            QRect rect;
        };
        const QList<Item> items = {
            {"Cmd_Default", "Default Setting", {210, 14, 85, 22}},
            {"Label1", "IP : ", {70, 49, 32, 20}},
            {"Label2", "Mask : ", {45, 77, 57, 20}},
            {"Label3", "Gateway : ", {17, 105, 85, 20}},
            {"Cmd_GET", "GET", {21, 147, 78, 29}},
            {"Cmd_SET", "SET", {119, 147, 78, 29}},
            {"Cmd_Exit", "Exit", {217, 147, 78, 29}},
        };
        for (const Item& it : items) {
            auto* w = d->findChild<QWidget*>(QLatin1String(it.name));
            QVERIFY2(w, it.name);
            QCOMPARE(w->property("text").toString(), QLatin1String(it.text));
            QCOMPARE(w->geometry(), it.rect);
        }
        const int lefts[4] = {105, 154, 203, 252};
        const QList<QPair<const char*, int>> rows = {{"IP", 49}, {"Mask", 77}, {"Gateway", 105}};
        for (const auto& [name, top] : rows)
            for (int i = 0; i < 4; ++i) {
                const QString n = QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i);
                auto* e = d->findChild<QLineEdit*>(n);
                QVERIFY2(e, qPrintable(n));
                QCOMPARE(e->text(), QStringLiteral("0"));
                QCOMPARE(e->geometry(), QRect(lefts[i], top, 43, 22));
            }

        const QColor background(255, 224, 192);
        QCOMPARE(d->palette().color(QPalette::Window), background);
        for (QLabel* l : {d->Label1, d->Label2, d->Label3})
            QCOMPARE(l->palette().color(QPalette::Window), background);
        for (QPushButton* b : {d->Cmd_GET, d->Cmd_SET, d->Cmd_Exit})
            QCOMPARE(b->palette().color(QPalette::Button), QColor(192, 255, 192));
        QCOMPARE(d->Cmd_Default->palette().color(QPalette::Button), QColor(255, 192, 255));
        for (QWidget* w : std::initializer_list<QWidget*>{d->Label1, d->Label2, d->Label3,
                                                          d->Cmd_GET, d->Cmd_SET, d->Cmd_Exit}) {
            const QFontInfo fi(w->font());
            QVERIFY2(fi.bold(), qPrintable(w->objectName()));
            QCOMPARE(fi.pointSize(), 12);
            QVERIFY2(!fi.fixedPitch(), qPrintable(fi.family()));
            QVERIFY2(fi.family().contains(QLatin1String("Sans")) ||
                         fi.family() == QLatin1String("Arial"),
                     qPrintable(fi.family()));
        }
        QVERIFY(!QFontInfo(d->IP[0]->font()).bold());
        QVERIFY(!QFontInfo(d->Cmd_Default->font()).bold());
        // Every caption fits its box in the face actually used.
        for (QLabel* l : {d->Label1, d->Label2, d->Label3})
            QVERIFY2(l->fontMetrics().horizontalAdvance(l->text().trimmed()) <= l->width(),
                     qPrintable(l->text()));

        // Tab order: the twelve boxes, then SET, Exit, GET, Default, and round again.
        QStringList order;
        QWidget* w = d->IP[0];
        for (int i = 0; i < 17; ++i) {
            order << w->objectName();
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisible())
                w = w->nextInFocusChain();
        }
        QCOMPARE(order.join(QLatin1Char(' ')),
                 QStringLiteral("IP_0 IP_1 IP_2 IP_3 Mask_0 Mask_1 Mask_2 Mask_3 Gateway_0 "
                                "Gateway_1 Gateway_2 Gateway_3 Cmd_SET Cmd_Exit Cmd_GET "
                                "Cmd_Default IP_0"));

        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), split12("10.0.0.7 255.0.0.0 10.0.0.1"));
        const QString dir = qEnvironmentVariable("VARNOK_GRAB_DIR");
        if (!dir.isEmpty())
            QVERIFY(d->grab().save(dir + QStringLiteral("/setnet_form.png")));
    }

    void getFillsBoxes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("three values") << QStringList{} << split12("10.0.0.7 255.0.0.0 10.0.0.1");
        QTest::newRow("other values")
            << QStringList{"--ip", "172.16.5.9", "--mask", "255.255.0.0", "--gateway", "172.16.0.1"}
            << split12("172.16.5.9 255.255.0.0 172.16.0.1");
        QStringList two = split12("10.0.0.7 255.0.0.0");
        two << QString() << QString() << QString() << QString();
        QTest::newRow("two values") << QStringList{"--values", "2"} << two;
        QTest::newRow("no values") << QStringList{"--values", "0"} << kTwelveEmpty;
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
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        const qint64 took = t.elapsed();
        QCOMPARE(boxes(*d), expected);
        QCOMPARE(d->SendStr, QStringLiteral("ip\rmask\rgateway\r"));
        QVERIFY2(took >= 200 && took < 1000, qPrintable(QString::number(took)));
        QVERIFY(catcher.texts.isEmpty());
        // The reply went to the dialog only.
        serveEvents(100);
        QCOMPARE(f->receiveDisplayLength(), shown);
    }

    void getWithNothingConnected_data() {
        QTest::addColumn<bool>("bareLine");
        QTest::newRow("silent pseudo-terminal") << true;
        QTest::newRow("silent console") << false;
    }
    void getWithNothingConnected() {
        QFETCH(bool, bareLine);
        PtyPair pty;
        Sim sim;
        if (!bareLine)
            QVERIFY(sim.start({"--silent"}));
        MessageCatcher catcher;
        auto f = openMain(bareLine ? pty.slavePath() : sim.path());
        SETNET_Form* d = openDialog(*f);
        QCOMPARE(boxes(*d), kTwelveZero);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), kTwelveEmpty);
        QCOMPARE(d->RecvStr, QString());
        if (bareLine)
            QCOMPARE(pty.readAvailable(), QByteArray("ip\rmask\rgateway\r"));
        serveEvents(50);
        QVERIFY(catcher.texts.isEmpty());
    }

    void setWritesBoxesAsTyped_data() {
        QTest::addColumn<bool>("defaults");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("defaults") << true << QStringList{}
                                  << QByteArray("ip 192.168.0.1\rmask 255.255.255.0\r"
                                                "gateway 192.168.0.254\r");
        QTest::newRow("all empty")
            << false << kTwelveEmpty << QByteArray("ip ...\rmask ...\rgateway ...\r");
        QTest::newRow("unchecked texts")
            << false
            << QStringList{" 1", "300", "abc", "", "255", "255", "0", "0", "7", "", "1.2", "x"}
            << QByteArray("ip  1.300.abc.\rmask 255.255.0.0\rgateway 7..1.2.x\r");
    }
    void setWritesBoxesAsTyped() {
        QFETCH(bool, defaults);
        QFETCH(QStringList, typed);
        QFETCH(QByteArray, wire);
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        if (defaults)
            QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        else
            typeAll(*d, typed);
        QVERIFY(pty.readAvailable().isEmpty()); // "Default Setting" sends nothing
        const QStringList before = boxes(*d);
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(d->Cmd_SET, Qt::LeftButton);
        const qint64 took = t.elapsed();
        // On the wire by the time the handler returns, with no event served in between.
        QCOMPARE(pty.readAvailable(), wire);
        QCOMPARE(d->SendStr.toLatin1(), wire);
        QVERIFY2(took >= 100 && took < 600, qPrintable(QString::number(took)));
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
        QCOMPARE(boxes(*d), split12("192.168.0.1 255.255.255.0 192.168.0.254"));
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), typed);
        QCOMPARE(d->RecvStr,
                 QStringLiteral("IP=172.16.5.9\r\nMASK=255.255.240.0\r\nGATEWAY=172.16.0.1\r\n"));
        QVERIFY(catcher.texts.isEmpty());
    }

    void lateReplyLeadsTheNextOne() {
        Sim sim;
        QVERIFY(sim.start({"--delay", "400"}));
        auto f = openMain(sim.path());
        SETNET_Form* d = openDialog(*f);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), kTwelveEmpty);
        QCOMPARE(d->RecvStr, QString());
        serveEvents(600); // the late reply waits at the port; nobody else reads it
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        // Not waited for: this press's own answer comes 400 ms later still.
        QVERIFY(t.elapsed() < 400);
        QCOMPARE(d->RecvStr,
                 QStringLiteral("IP=10.0.0.7\r\nMASK=255.0.0.0\r\nGATEWAY=10.0.0.1\r\n"));
        QCOMPARE(boxes(*d), split12("10.0.0.7 255.0.0.0 10.0.0.1"));
    }

    void exchangeSeesWhatCameDuringThePause() {
        // The thread sleeps through the answer; the port layer must have sent the command
        // and must find the reply without any event having run.
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        f->Command2_Click(); // manual: the main window leaves the input alone
        serial::CommPort& port = *f->MSComm1;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer t;
            t.start();
            const QString reply = netsetting::Console_Exchange(port, QStringLiteral("ip\r"), 200);
            QVERIFY(t.elapsed() >= 200);
            QCOMPARE(reply, QStringLiteral("IP=10.0.0.7\r\n"));
        }
    }

    void exchangeKeepsWaitingInputInFront() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        f->Command2_Click();
        pty.write("tail=9\r\n"); // arrives while no event is served
        const QString reply = netsetting::Console_Exchange(*f->MSComm1, QStringLiteral("ip\r"), 20);
        QCOMPARE(reply, QStringLiteral("tail=9\r\n"));
        QCOMPARE(pty.readAvailable(), QByteArray("ip\r"));
        // Latin-1 both ways.
        pty.write("\xe9=\xff\r");
        QCOMPARE(netsetting::Console_Exchange(*f->MSComm1, QStringLiteral("\u00e9\r"), 20),
                 QStringLiteral("\u00e9=\u00ff\r"));
        QCOMPARE(pty.readAvailable(), QByteArray("\xe9\r"));
    }

    void exchangeOnClosedPortThrows() {
        serial::CommPort port;
        try {
            netsetting::Console_Exchange(port, QStringLiteral("ip\r"), 10);
            QFAIL("no failure");
        } catch (const serial::PortError& e) {
            QCOMPARE(e.number(), int(serial::kErrPortNotOpen));
        }
    }

    void receiveWayAndMode_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("manual");
        QTest::newRow("binary auto") << true << false;
        QTest::newRow("ASCII auto") << false << false;
        QTest::newRow("ASCII manual") << false << true;
        QTest::newRow("binary manual") << true << true;
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
        QCOMPARE(f->Recive_Binary, binary);
        QCOMPARE(f->Rec_Data_Manual, manual);
        QTRY_COMPARE(f->autoReceiveRunning(), !manual);

        SETNET_Form* d = openDialog(*f);
        QVERIFY(!f->Recive_Binary);
        QVERIFY(f->Rec_Data_Manual);
        QCOMPARE(f->MSComm1->inputMode(), 0);
        QCOMPARE(f->btn_Receive_Binary->text(), QStringLiteral("Binary"));
        QCOMPARE(f->Frame1->title(), kAsciiManual);
        QTRY_VERIFY(!f->autoReceiveRunning()); // the loop leaves at its next pass
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), split12("10.0.0.7 255.0.0.0 10.0.0.1"));

        QElapsedTimer t;
        t.start();
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        QVERIFY(!d->isVisible());
        QVERIFY(f->Timer3->isActive());
        QVERIFY(f->Rec_Data_Manual);
        QTRY_VERIFY_WITH_TIMEOUT(!f->Rec_Data_Manual, 2000);
        const qint64 after = t.elapsed();
        QVERIFY2(after >= 450 && after < 1200, qPrintable(QString::number(after)));
        QVERIFY(f->autoReceiveRunning());
        QVERIFY(!f->Recive_Binary);
        QCOMPARE(f->Frame1->title(), kAsciiAuto);
        QVERIFY(!f->Timer3->isActive());
        QTRY_VERIFY(f->netSettingForm() == nullptr); // unloaded
    }

    void setNetTwiceDoesNotReload() {
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        SETNET_Form* d = openDialog(*f);
        typeInto(d->IP[0], QStringLiteral("77"));
        QTest::mouseClick(f->Command8, Qt::LeftButton); // main back to auto
        QVERIFY(!f->Rec_Data_Manual);
        QCOMPARE(openDialog(*f), d);
        QCOMPARE(d->IP[0]->text(), QStringLiteral("77"));
        QVERIFY(!f->Rec_Data_Manual); // load steps did not run again
        QVERIFY(d->isVisible());
    }

    void reopenAfterExitShowsZeros() {
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        QPointer<SETNET_Form> d = openDialog(*f);
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(boxes(*d), split12("10.0.0.7 255.0.0.0 10.0.0.1"));
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        QTRY_VERIFY(!f->Rec_Data_Manual);
        QTRY_VERIFY(d.isNull());
        SETNET_Form* again = openDialog(*f);
        QVERIFY(again);
        QCOMPARE(boxes(*again), kTwelveZero);
        QVERIFY(f->Rec_Data_Manual);
        QCOMPARE(f->Frame1->title(), kAsciiManual);
    }

    void reopenRightAfterExitLoadsAgain() {
        // "Set_Net" before the old window is gone still gets a fresh one.
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        typeInto(d->Mask[2], QStringLiteral("9"));
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        SETNET_Form* again = openDialog(*f);
        QVERIFY(again != d);
        QCOMPARE(boxes(*again), kTwelveZero);
    }

    void windowCloseLeavesManual() {
        Sim sim;
        QVERIFY(sim.start({}));
        auto f = openMain(sim.path());
        QPointer<SETNET_Form> d = openDialog(*f);
        d->close(); // as the window's close control does
        QTRY_VERIFY(d.isNull());
        serveEvents(800);
        QVERIFY(f->Rec_Data_Manual);
        QVERIFY(!f->autoReceiveRunning());
        QVERIFY(!f->Timer3->isActive());
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
        QVERIFY2(catcher.texts[0].contains(QLatin1String("port is not open")),
                 qPrintable(catcher.texts[0]));
        QVERIFY(catcher.texts[0].startsWith(QLatin1String("GET")));
        QCOMPARE(boxes(*d), before);
        QTest::mouseClick(d->Cmd_SET, Qt::LeftButton);
        QCOMPARE(catcher.texts.size(), 2);
        QVERIFY(catcher.texts[1].startsWith(QLatin1String("SET")));
        QVERIFY(catcher.okOnly());
        QVERIFY(pty.readAvailable().isEmpty());
        // Still usable, and "Exit" still hands back.
        QTest::mouseClick(d->Cmd_Exit, Qt::LeftButton);
        QTRY_VERIFY(!f->Timer3->isActive());
        QCOMPARE(catcher.texts.size(), 2);
    }

    void deviceVanishesBeforeGet() {
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        pty.closeMaster();
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QTRY_VERIFY(!f->Port_Opened);
        serveEvents(300);
        QCOMPARE(catcher.texts.size(), 1);
        QVERIFY(catcher.texts[0].startsWith(QLatin1String("GET")));
        QVERIFY2(catcher.texts[0].contains(QLatin1String("no longer available")),
                 qPrintable(catcher.texts[0]));
        QVERIFY(catcher.okOnly());
        QVERIFY(f->Command1->isVisible() && f->Command1->isEnabled());
    }

    void deviceVanishesDuringThePause() {
        PtyPair pty;
        MessageCatcher catcher;
        auto f = openMain(pty.slavePath());
        SETNET_Form* d = openDialog(*f);
        // Unplugged while the thread sleeps: nothing of ours runs until the pause is over.
        std::thread unplug([&pty] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.closeMaster();
        });
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        unplug.join();
        QTRY_VERIFY(!f->Port_Opened);
        serveEvents(300);
        QCOMPARE(catcher.texts.size(), 1); // told once, by whichever side met it first
        QVERIFY2(catcher.texts[0].contains(QLatin1String("no longer available")),
                 qPrintable(catcher.texts[0]));
        // The program goes on: the dialog still answers, and a GET now says why it cannot.
        QTest::mouseClick(d->Cmd_Default, Qt::LeftButton);
        QCOMPARE(d->IP[0]->text(), QStringLiteral("192"));
        QTest::mouseClick(d->Cmd_GET, Qt::LeftButton);
        QCOMPARE(catcher.texts.size(), 2);
        QVERIFY(catcher.texts[1].contains(QLatin1String("port is not open")));
    }

    void dialogDeletedWhileDraining() {
        PtyPair pty;
        auto f = openMain(pty.slavePath());
        QPointer<SETNET_Form> d = openDialog(*f);
        pty.write("IP=1.2.3.4\r\n"); // gives the drain a read, then events
        QTimer::singleShot(0, d, [&d] { delete d.data(); });
        d->Cmd_GET_Click();
        QVERIFY(d.isNull());
        QVERIFY(f->Port_Opened);
        QCOMPARE(pty.readAvailable(), QByteArray("ip\rmask\rgateway\r"));
    }

    void mainWindowDeletedWhileDraining() {
        PtyPair pty;
        auto owned = openMain(pty.slavePath());
        QPointer<Form1> f = owned.release();
        QPointer<SETNET_Form> d = openDialog(*f);
        pty.write("IP=1.2.3.4\r\n");
        QTimer::singleShot(0, f, [&f] { delete f.data(); });
        d->Cmd_GET_Click();
        QVERIFY(f.isNull());
        QVERIFY(d.isNull()); // it cannot outlive the window whose port it borrows
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
