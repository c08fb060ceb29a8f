// Device faults end to end with the real window: the far end vanishing in the middle of work,
// flooding the line while the user works, or staying silent. Each case checks: no crash, at
// most one message, no busy loop afterwards, a consistent window, and a close and reopen.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

// CPU seconds the process uses over `ms` of idle event serving.
double idleCpu(int ms) {
    const double c0 = test::processCpuSeconds();
    test::serveEvents(ms);
    return test::processCpuSeconds() - c0;
}

// A fresh pair bound to Com1, opened through "Open COM".
void openFresh(Form1& f, std::unique_ptr<PtyPair>& pty) {
    pty = std::make_unique<PtyPair>();
    serial::bindPort(1, pty->slavePath().toStdString());
    click(f.Command1);
    QVERIFY(f.Port_Opened);
}

// Open on a fresh pair, receive a marker, close: the window works again.
void reopenWorks(Form1& f, std::unique_ptr<PtyPair>& pty) {
    openFresh(f, pty);
    if (QTest::currentTestFailed())
        return;
    if (f.Recive_Binary)
        click(f.btn_Receive_Binary);
    f.chk_RecvShowData->setChecked(true);
    click(f.Command3);
    pty->write("back");
    QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("back"));
    click(f.Command7);
    QVERIFY(!f.Port_Opened);
}

void expectConsistentClosed(Form1& f) {
    QVERIFY(!f.Port_Opened);
    QVERIFY(!f.MSComm1->portOpen());
    QVERIFY(f.Command1->isVisible() && f.Command1->isEnabled());
    QVERIFY(!f.Command7->isVisible());
    QVERIFY(!f.Auto_Send);
    QVERIFY(!f.Command5->isEnabled());
    QVERIFY(!f.autoReceiveRunning());
}

} // namespace

class TstDeviceFaults : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void vanishing_data() {
        QTest::addColumn<QString>("during");
        QTest::newRow("auto receive") << "auto receive";
        QTest::newRow("auto-send at 10 ms") << "auto-send";
        QTest::newRow("Modbus send") << "modbus";
        QTest::newRow("manual receive") << "manual";
    }
    void vanishing() {
        QFETCH(QString, during);
        std::unique_ptr<PtyPair> pty;
        Form1 f;
        f.show();
        openFresh(f, pty);
        if (QTest::currentTestFailed())
            return;
        pty->write("before");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("6"));

        MessageCatcher messages;
        if (during == QLatin1String("auto-send")) {
            f.Text4->setText(QStringLiteral("10"));
            click(f.Command10);
            click(f.Command11);
            QVERIFY(f.Auto_Send);
            pty->readFor(200); // sends are going out
            pty->closeMaster();
        } else if (during == QLatin1String("modbus")) {
            pty->closeMaster();
            click(f.cmdSend); // meets the vanished device before anything noticed it
        } else if (during == QLatin1String("manual")) {
            click(f.Command2);
            QVERIFY(f.Rec_Data_Manual);
            pty->closeMaster();
            test::serveEvents(200);
            click(f.Command2);
        } else {
            pty->closeMaster();
        }
        QTRY_VERIFY(!f.Port_Opened);
        test::serveEvents(300);
        QVERIFY2(messages.texts.size() <= 1, qPrintable(messages.texts.join(QLatin1String(" | "))));
        QVERIFY(messages.okOnly());
        QVERIFY2(idleCpu(2000) < 0.25, "busy after the device vanished");
        expectConsistentClosed(f);
        QVERIFY(f.Text3->toPlainText().endsWith(QLatin1String("before")) ||
                f.txt_TotalRecvLen->text() == QLatin1String("6"));

        reopenWorks(f, pty);
        QVERIFY(messages.texts.size() <= 1);
    }

    void flooding_data() {
        QTest::addColumn<int>("pattern"); // 0x00, 0xFF, or -1 random
        QTest::newRow("0x00") << 0x00;
        QTest::newRow("0xFF") << 0xFF;
        QTest::newRow("random") << -1;
    }
    void flooding() {
        QFETCH(int, pattern);
        std::unique_ptr<PtyPair> pty;
        Form1 f;
        f.show();
        openFresh(f, pty);
        if (QTest::currentTestFailed())
            return;

        // The far end floods at full speed from its own thread.
        std::atomic<bool> stop{false};
        std::atomic<qint64> sent{0};
        const int fd = pty->masterFd();
        std::thread writer([&] {
            QRandomGenerator g(7);
            char buf[4096];
            while (!stop) {
                for (char& c : buf)
                    c = static_cast<char>(pattern < 0 ? g.bounded(256) : pattern);
                qsizetype off = 0;
                while (off < qsizetype(sizeof buf) && !stop) {
                    const ssize_t n = ::write(fd, buf + off, sizeof buf - size_t(off));
                    if (n > 0) {
                        off += n;
                        sent += n;
                    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                        return;
                    } else {
                        pollfd p{fd, POLLOUT, 0};
                        ::poll(&p, 1, 5);
                    }
                }
            }
        });

        // Meanwhile the user works: modes, clears, enlarges, sends, reads by hand.
        MessageCatcher messages;
        const qint64 floodMs = qEnvironmentVariableIntValue("VARNOK_FLOOD_MS") > 0
                                   ? qEnvironmentVariableIntValue("VARNOK_FLOOD_MS")
                                   : 10000;
        QElapsedTimer t;
        t.start();
        const std::function<void()> actions[] = {
            [&] { click(f.btn_Receive_Binary); },
            [&] { click(f.Command3); },
            [&] { f.Chk_ReadEnLarge->setChecked(!f.Chk_ReadEnLarge->isChecked()); },
            [&] { click(f.Command5); },
            [&] { f.chk_RecvShowData->setChecked(!f.chk_RecvShowData->isChecked()); },
            [&] { click(f.Command2); },
            [&] { click(f.Command8); },
            [&] { click(f.cmdSend); },
        };
        for (size_t step = 0; t.elapsed() < floodMs; ++step) {
            actions[step % std::size(actions)]();
            QTest::qWait(50);
            pty->readAvailable(); // what the sends wrote, so the line back never fills
        }
        stop = true;
        writer.join();
        if (!f.autoReceiveRunning())
            click(f.Command8);

        // Nothing lost: every byte the far end wrote reaches the program.
        QTRY_COMPARE_WITH_TIMEOUT(f.MSComm1->totalBytesRead(), sent.load(), 10000);
        QVERIFY2(sent.load() > 1000000, qPrintable(QString::number(sent.load())));
        QCOMPARE(messages.texts.size(), 0);
        QVERIFY2(idleCpu(2000) < 0.25, "busy after the flood ended");
        QVERIFY(f.Port_Opened);
        click(f.Command7);
        expectConsistentClosed(f);
        reopenWorks(f, pty);
        qInfo("flood: %lld bytes in %lld ms", sent.load(), floodMs);
    }

    void silentFarEnd() {
        // A Modbus request to nobody: it is sent and logged, nothing else happens.
        std::unique_ptr<PtyPair> pty;
        Form1 f;
        f.show();
        openFresh(f, pty);
        MessageCatcher messages;
        click(f.cmdSend);
        QCOMPARE(pty->readExactly(8, 2000), QByteArray::fromHex("01040000000131CA"));
        test::serveEvents(500);
        QCOMPARE(messages.texts.size(), 0);
        QCOMPARE(f.Text3->toPlainText(), QString());
        QVERIFY(f.Port_Opened);
        QVERIFY(idleCpu(2000) < 0.25);
        click(f.Command7);
        reopenWorks(f, pty);
    }
};

QTEST_MAIN(TstDeviceFaults)
#include "tst_device_faults.moc"
