// The main window's wiring: start-up captions and states, each handler reaching the engine,
// the engine's reports shown on the controls, and one exchange per side over real bytes.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyleHints>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>

#include "logic/modbus/catalogue.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/fake_lines_port.h"
#include "support/form_rig.h"
#include "version.h"
#include "windows/placement.h"
#include "windows/poll/poll_window.h"
#include "windows/quick_send/file_page.h"
#include "windows/quick_send/quick_send_window.h"

using namespace varnok;
using test::click;
using test::FormRig;

namespace {

bool enabled(std::initializer_list<QWidget*> widgets, bool state) {
    for (QWidget* w : widgets)
        if (w->isEnabled() != state)
            return false;
    return true;
}

// The catalogue's text as the widget shows it (CR LF is one line break there).
QString explanation(int index) {
    return QString::fromStdString(modbus::functionExplanation(index))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void expectPortState(Form1& f, bool open) {
    QCOMPARE(f.Command1->isVisible(), !open);
    QCOMPARE(f.Command7->isVisible(), open);
    QVERIFY(enabled({f.Command1, f.Combo1, f.Combo2, f.Text1, f.Opt_FlowControl[0],
                     f.Opt_FlowControl[1], f.Opt_FlowControl[2]},
                    !open));
    QVERIFY(
        enabled({f.Command7, f.Command2, f.Command8, f.Command5, f.Command11, f.Cmd_SetNet}, open));
    QVERIFY(!f.Command12->isEnabled());
}

} // namespace

class TstForm1 : public QObject {
    Q_OBJECT
  private slots:
    void startUpOpenAndClose() {
        FormRig r;
        Form1& f = *r.f;
        QCOMPARE(f.windowTitle(),
                 QStringLiteral("Varnok_Binary  v%1  ( KOVRAN )").arg(kVersionText));
        QCOMPARE(QStringList({f.Frame1->title(), f.Frame2->title(), f.Label3->text()}),
                 QStringList({"Varnok_RECV ( Auto-Recv )( ASCII Mode )",
                              "Varnok_SEND ( ASCII Mode )", "Local Breaking"}));
        QVERIFY(f.Combo1->count() == 255 && f.Combo1->itemText(254) == QStringLiteral("Com255"));
        QVERIFY(f.Combo2->count() == 12 && f.Combo2->currentText() == QStringLiteral("115200"));
        QCOMPARE(f.Text1->text() + f.Text2->toPlainText() + f.Text5->text(),
                 QStringLiteral("n,8,1KOVRAN1A"));
        QVERIFY(f.Option2->isChecked() && f.Opt_FlowControl[0]->isChecked());
        QVERIFY(!f.SetASCII->isEnabled() && !f.SetBinary->isEnabled());
        expectPortState(f, false);
        QCOMPARE(f.cboFunction->count(), modbus::kFunctionCount);
        QCOMPARE(f.txtExplanation->toPlainText(), explanation(0));

        QVERIFY(r.open());
        expectPortState(f, true);
        QVERIFY(f.SetBinary->isEnabled() && !f.SetASCII->isEnabled());
        click(f.Command7);
        expectPortState(f, false);
        QVERIFY(!f.engine().port().portOpen());
        QCOMPARE(r.messages.texts, QStringList());
    }

    void deviceBoxBindsAndRemembers() {
        FormRig r;
        Form1& f = *r.f;
        const auto bound = [] { return QString::fromStdString(serial::devicePathFor(5)); };
        f.Combo1->setCurrentIndex(4); // Com5
        // Typed as a user types: into the focused box of the active window.
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.Cbo_Device->setFocus();
        QVERIFY(f.Cbo_Device->lineEdit()->hasFocus());
        f.Cbo_Device->lineEdit()->selectAll();
        QTest::keyClicks(f.Cbo_Device, QStringLiteral("/dev/varnok-later"));
        QCOMPARE(f.Cbo_Device->currentText(), QStringLiteral("/dev/varnok-later"));
        QTest::keyClick(f.Cbo_Device, Qt::Key_Return);
        QCOMPARE(bound(), QStringLiteral("/dev/varnok-later"));
        QVERIFY2(f.Lbl_Device->text().startsWith(QStringLiteral("not present")),
                 qPrintable(f.Lbl_Device->text()));
        // A path longer than the system allows is refused when typed, its message elided so
        // the box stays within the screen.
        f.Cbo_Device->lineEdit()->setText(QStringLiteral("/dev/") + QString(3000, u'x'));
        QTest::keyClick(f.Cbo_Device, Qt::Key_Return);
        QCOMPARE(bound(), QStringLiteral("/dev/varnok-later"));
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY(r.messages.texts[0].contains(QStringLiteral("longer than the system allows")));
        QVERIFY2(r.messages.texts[0].size() < 300, qPrintable(r.messages.texts[0]));
        // The next run finds it again; a binding given on the command line wins.
        serial::clearPortBindings();
        serial::bindPort(1, r.pty.slavePath().toStdString());
        engine::Session session_next;
        Form1 next(session_next);
        QCOMPARE(bound(), QStringLiteral("/dev/varnok-later"));
        QCOMPARE(next.Cbo_Device->currentText(), r.pty.slavePath());
        f.Combo1->setCurrentIndex(0);
        QVERIFY(r.open());
        QVERIFY(!f.Cbo_Device->isEnabled());
        test::clickBox(f.Chk_Reopen);
        QVERIFY(f.engine().reopen());
    }

    // A network port typed in the device box: a bad form is refused naming what is wrong; a good
    // one joins the list, connects in the background with "Close COM" in place saying so, and
    // Close cancels it.
    void networkPortInTheDeviceBox() {
        QTcpServer mute; // takes the connection, never answers as a remote serial port
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        FormRig r;
        Form1& f = *r.f;
        f.Combo1->setCurrentIndex(4); // Com5
        const auto type = [&f](const QString& text) {
            f.Cbo_Device->lineEdit()->setText(text);
            QTest::keyClick(f.Cbo_Device, Qt::Key_Return);
        };
        type(QStringLiteral("rfc2217://127.0.0.1:70000"));
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY2(r.messages.texts[0].contains(QStringLiteral("not from 1 to 65535")),
                 qPrintable(r.messages.texts[0]));
        QVERIFY(!serial::isPortBound(5));
        const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(mute.serverPort());
        type(address);
        QCOMPARE(QString::fromStdString(serial::devicePathFor(5)), address);
        QCOMPARE(f.Lbl_Device->text(), QStringLiteral("not connected"));
        f.Cbo_Device->showPopup(); // the list is made as it opens
        f.Cbo_Device->hidePopup();
        QVERIFY(f.Cbo_Device->findData(address) >= 0); // offered again from the list
        click(f.Command1);
        QVERIFY(f.engine().connecting());
        QVERIFY(f.Command7->isVisible() && f.Command7->isEnabled() && !f.Command1->isVisible());
        QVERIFY(f.Command7->text().startsWith(QStringLiteral("Connecting...")));
        QVERIFY(!f.Combo1->isEnabled() && !f.Cbo_Device->isEnabled());
        click(f.Command7);
        QVERIFY(!f.engine().connecting() && !f.engine().isOpen());
        QVERIFY(f.Command1->isVisible() && f.Command1->isEnabled());
        QCOMPARE(f.Command7->text(), QStringLiteral("Close COM"));
        QCOMPARE(r.messages.texts.size(), 1);
    }

    // "Close COM" does not take the second click of a double-click on "Open COM" to close the
    // port again at once (nor the reverse).
    void doubleClickOpensOnce() {
        FormRig r;
        Form1& f = *r.f;
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(400);
        click(f.Command1);
        click(f.Command7);
        QVERIFY(f.engine().isOpen());
        QTest::qWait(450);
        click(f.Command7);
        QVERIFY(!f.engine().isOpen());
    }

    // "( Binary Mode )" keeps its last ")" and the Modbus log the frame's last byte; "Send",
    // "Clear", the Modbus tool's function list and the receive frame's top row stay within
    // their frame's contents, under the caption's line.
    void everythingShowsWhole() {
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        const auto captionsFit = [&f] {
            for (const QGroupBox* g : f.findChildren<QGroupBox*>()) {
                QVERIFY2(g->fontMetrics().horizontalAdvance(g->title()) + 16 <= g->width(),
                         qPrintable(g->title()));
                // The group box keeps the style's contents rectangle as its contents margins.
                for (const QWidget* w : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    QVERIFY2(
                        g->contentsRect().contains(w->geometry()),
                        qPrintable(w->objectName() + QStringLiteral(" in ") + g->objectName()));
            }
        };
        captionsFit();
        click(f.Command7);
        captionsFit();
        QVERIFY(r.open());
        f.Timer3->stop();
        click(f.btn_Receive_Binary);
        click(f.Command2);
        click(f.SetBinary);
        captionsFit();
        QVERIFY(QFontInfo(f.Text3->font()).fixedPitch());
        const QFontMetrics mono(f.txtSend->font());
        QVERIFY(mono.horizontalAdvance(QStringLiteral("01 03 00 00 00 01 84 0A ")) <=
                f.txtSend->viewport()->width());
        for (int i = 0; i < modbus::kFunctionCount; ++i)
            for (const QString& line : explanation(i).split(u'\n'))
                QVERIFY2(mono.horizontalAdvance(line) <= f.txtExplanation->viewport()->width(),
                         qPrintable(line));
    }

    // "HW" leaves "None" unselected: the flow buttons are a group of their own, apart from the
    // end-of-string options.
    void flowControlIsOneChoice_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("handshaking");
        QTest::addRow("HW is RTS/CTS") << 1 << int(serial::Handshaking::RtsCts);
        QTest::addRow("SW is XON/XOFF") << 2 << int(serial::Handshaking::XonXoff);
        QTest::addRow("None") << 0 << int(serial::Handshaking::None);
    }
    void flowControlIsOneChoice() {
        QFETCH(int, button);
        FormRig r;
        Form1& f = *r.f;
        for (int i : {2, 1, button})
            click(f.Opt_FlowControl[size_t(i)]);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(f.Opt_FlowControl[size_t(i)]->isChecked(), i == button);
        QVERIFY(f.Option2->isChecked()); // the end of string stays as it was
        QVERIFY(r.open());
        QTEST(int(f.engine().port().handshaking()), "handshaking");
    }

    void linesDtrAndLink() {
        auto owned = std::make_unique<test::FakeLinesPort>();
        test::FakeLinesPort* port = owned.get();
        FormRig r(std::move(owned));
        Form1& f = *r.f;
        test::clickBox(f.Chk_DTR);
        QCOMPARE(port->dtrApplied.back(), false);
        QVERIFY(r.open());
        port->lines = {true, false, true};
        QTRY_COMPARE(f.txt_CTS->text() + f.txt_DSR->text(), QStringLiteral("TrueFalse"));
        QTRY_COMPARE(f.Label3->text(), QStringLiteral("Connecting..."));
        test::clickBox(f.Chk_DTR);
        QCOMPARE(port->dtrApplied.back(), true);
        click(f.Command7);
        QCOMPARE(f.txt_CTS->text(), QString());
    }

    void receiveSide() {
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        r.pty.write("abc");
        QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("abc"));
        QCOMPARE(f.Recv_Length->text() + f.txt_TotalRecvLen->text(), QStringLiteral("33"));
        click(f.btn_Receive_Binary);
        QCOMPARE(f.btn_Receive_Binary->text(), QStringLiteral("ASCII"));
        QCOMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( Binary Mode )"));
        r.pty.write("\x01\xff");
        QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("abc01 FF "));
        f.Timer3->stop(); // its start-up shot would turn auto receive back on
        click(f.Command2);
        QCOMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Manual-Recv )( Binary Mode )"));
        click(f.Command3);
        QCOMPARE(f.Text3->toPlainText(), QString());
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("0"));
        test::clickBox(f.Chk_ReadEnLarge);
        QCOMPARE(f.Text3->geometry(), f.Frame5->geometry());
        QCOMPARE(f.engine().showLimit(), engine::TerminalEngine::kShowLimitEnlarged);
        click(f.Command8);
        QCOMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( Binary Mode )"));
    }

    // A CR LF pair split over two reads shows no extra blank line.
    void displayDoesNotDependOnTheReads_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addRow("CR LF in one read") << QByteArrayList{"OK\r\nline1\r\nline2\r\n"};
        QTest::addRow("CR | LF") << QByteArrayList{"OK\r", "\nline1\r", "\nline2\r", "\n"};
        QTest::addRow("CR | LF, lone CR kept")
            << QByteArrayList{"OK\r", "\nline1\r\n", "line2\r\n"};
    }
    void displayDoesNotDependOnTheReads() {
        QFETCH(QByteArrayList, reads);
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        f.Timer3->stop();
        click(f.Command2); // manual reads: one per write
        for (const QByteArray& chunk : reads) {
            r.pty.write(chunk);
            test::serveEvents(30);
            click(f.Command2);
        }
        QCOMPARE(f.Text3->toPlainText(), QStringLiteral("OK\nline1\nline2\n"));
    }

    void caretAfterARead_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<int>("caret");
        QTest::addRow("manual read keeps the caret where the user put it, not at the end")
            << true << 1;
        QTest::addRow("automatic ASCII read shows the end") << false << 6;
    }
    void caretAfterARead() {
        QFETCH(bool, manual);
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        f.Timer3->stop();
        r.pty.write("abc");
        QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("abc"));
        if (manual)
            click(f.Command2);
        QTextCursor caret = f.Text3->textCursor();
        caret.setPosition(1);
        f.Text3->setTextCursor(caret);
        r.pty.write("def");
        test::serveEvents(50);
        if (manual)
            click(f.Command2);
        QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("abcdef"));
        QTEST(f.Text3->textCursor().position(), "caret");
    }

    // The line under the device box says what the system reports of the bound path, at once.
    void deviceLineFollowsThePath_data() {
        QTest::addColumn<int>("stage");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("locked");
        QTest::addRow("link removed while open: not present, though the port is open")
            << 0 << "^not present(;|$)" << true;
        QTest::addRow("vanished, Reopen waits: choices locked, the baud box too")
            << 1 << "^waiting for /.*adapter to return$" << true;
        QTest::addRow("returned") << 2 << "^present; reopened at \\d\\d:\\d\\d:\\d\\d(;|$)" << true;
        QTest::addRow("closed after a reopening: \"reopened at\" goes")
            << 3 << "^present$" << false;
    }
    void deviceLineFollowsThePath() {
        QFETCH(int, stage);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        auto first = std::make_unique<test::PtyPair>();
        QVERIFY(QFile::link(first->slavePath(), link));
        FormRig r(nullptr, link);
        Form1& f = *r.f;
        if (stage > 0)
            test::clickBox(f.Chk_Reopen);
        QVERIFY(r.open());
        test::PtyPair second;
        if (stage == 0) {
            QFile::remove(link);
        } else {
            first->closeMaster();
            QTRY_VERIFY(!f.engine().isOpen());
        }
        if (stage >= 2) {
            QFile::remove(link);
            QVERIFY(QFile::link(second.slavePath(), link));
            QTRY_VERIFY(f.engine().isOpen());
        }
        if (stage == 3)
            click(f.Command7);
        QFETCH(QString, line);
        QTRY_VERIFY2(QRegularExpression(line).match(f.Lbl_Device->text()).hasMatch(),
                     qPrintable(f.Lbl_Device->text()));
        QTEST(!f.Combo2->isEnabled() && !f.Cbo_Device->isEnabled(), "locked");
    }

    // Another program's terminal or file in the followed folder changes no device: the line
    // is told, the device tree is not walked again during a flood.
    void followedFolderChangeWalksNoDeviceTree() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        test::PtyPair pty;
        QVERIFY(QFile::link(pty.slavePath(), link));
        FormRig r(nullptr, link);
        serial::DeviceWatcher& devices = r.f->engine().devices();
        QSignalSpy changed(&devices, &serial::DeviceWatcher::changed);
        const int walks = devices.walks();
        QFile other(dir.filePath(QStringLiteral("other")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        QVERIFY(changed.wait(3000));
        QCOMPARE(devices.walks(), walks);
        QCOMPARE(r.f->Lbl_Device->text(), QStringLiteral("present"));
    }

    void sendSide() {
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        f.Text2->setPlainText(QStringLiteral("hi"));
        click(f.Option5);
        click(f.Command5);
        QCOMPARE(r.pty.readFor(100), QByteArray("hi\r\n"));
        QCOMPARE(f.SendStrNum->text() + f.txt_TotalSendLen->text(), QStringLiteral("44"));
        f.Text2->clear();
        f.Text2->setFocus();
        QTest::keyClick(f.Text2, Qt::Key_Up);
        QCOMPARE(f.Text2->toPlainText(), QStringLiteral("hi"));
        click(f.SetBinary);
        QCOMPARE(f.Frame2->title(), QStringLiteral("Varnok_SEND ( Binary Mode )"));
        QVERIFY(!f.Option1->isEnabled() && !f.Text5->isEnabled() && f.SetASCII->isEnabled());
        f.Text2->setPlainText(QStringLiteral("0D 0a"));
        click(f.Command5);
        QCOMPARE(r.pty.readFor(100), QByteArray("\r\n"));
        click(f.Command6);
        QCOMPARE(f.txt_TotalSendLen->text(), QStringLiteral("0"));
    }

    void autoSendButtons() {
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        f.Text4->setText(QStringLiteral("20"));
        click(f.Command10);
        click(f.Command11);
        QVERIFY(!f.Command11->isEnabled() && f.Command12->isEnabled());
        QTRY_VERIFY(f.txt_TotalSendLen->text().toInt() > 14); // "KOVRAN" CR, ticking
        click(f.Command12);
        QVERIFY(f.Command11->isEnabled() && !f.Command12->isEnabled());
    }

    // Where a window of the terminal first opens beside the main window (the rule alone, on a
    // made-up screen): the frame's top left and the inner size.
    void placementBesideTheMainWindow_data() {
        QTest::addColumn<QRect>("avail");
        QTest::addColumn<QRect>("main"); // its frame
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("preferred");
        QTest::addColumn<QSize>("least");
        QTest::addColumn<QRect>("expected");
        const QRect screen(0, 0, 1600, 900), left(0, 0, 800, 682);
        const QSize none(0, 0);
        QTest::addRow("room on the right: beside, narrowed to the room")
            << screen << left << none << QSize(1180, 560) << QSize(672, 169)
            << QRect(800, 0, 800, 560);
        QTest::addRow("frames counted: beside, its frame within the screen")
            << screen << QRect(0, 0, 810, 712) << QSize(10, 30) << QSize(1180, 560)
            << QSize(672, 169) << QRect(810, 0, 780, 560);
        QTest::addRow("narrow room its layout fits: beside, not over the terminal")
            << QRect(0, 0, 1280, 1024) << left << none << QSize(900, 640) << QSize(450, 300)
            << QRect(800, 0, 480, 640);
        QTest::addRow("no room, terminal on the right: at the left edge, not over all of it")
            << screen << QRect(800, 0, 800, 682) << none << QSize(947, 720) << QSize(947, 505)
            << QRect(0, 0, 947, 720);
        QTest::addRow("no room, terminal on the left: at the right edge, as narrow as it can")
            << screen << left << none << QSize(900, 640) << QSize(842, 402)
            << QRect(758, 0, 842, 640);
        QTest::addRow("room below only: under the terminal, not over it")
            << QRect(0, 0, 1280, 1500) << left << none << QSize(947, 720) << QSize(947, 505)
            << QRect(0, 682, 947, 720);
        QTest::addRow("taller than the room below its top: within the screen's bottom")
            << screen << QRect(0, 300, 800, 682) << none << QSize(700, 720) << QSize(600, 300)
            << QRect(800, 180, 700, 720);
        QTest::addRow("no room, terminal on a second screen's right: at that screen's left edge")
            << QRect(1600, 0, 1280, 1024) << QRect(2080, 0, 800, 682) << none << QSize(1180, 560)
            << QSize(672, 400) << QRect(1600, 0, 672, 560);
    }
    void placementBesideTheMainWindow() {
        QFETCH(QRect, avail);
        QFETCH(QRect, main);
        QFETCH(QSize, frame);
        QFETCH(QSize, preferred);
        QFETCH(QSize, least);
        const QRect r = besideRect(avail, main, frame, preferred, least);
        QTEST(r, "expected");
        QVERIFY(avail.contains(QRect(r.topLeft(), r.size() + frame)));
    }

    // A button that disables itself on its click hands the focus on to where the user works
    // next, not to the next control in the tab order.
    void focusGoesWhereTheUserWorksNext_data() {
        QTest::addColumn<int>("button");
        QTest::addRow("auto-send Stop leaves the focus in the send box, not on the CTS box") << 0;
        QTest::addRow("Send file leaves the focus on Stop, then Send file, not the break box") << 1;
    }
    void focusGoesWhereTheUserWorksNext() {
        QFETCH(int, button);
        FormRig r;
        Form1& f = *r.f;
        QVERIFY(r.open());
        QWidget* window = &f;
        QPushButton *press = f.Command12, *next = nullptr;
        QWidget* last = f.Text2;
        QTemporaryDir dir;
        if (button == 0) {
            click(f.Command11);
        } else {
            click(f.Cmd_QuickSend);
            QuickSendWindow* w = f.quickSend();
            QVERIFY(test::writeFile(dir.filePath(QStringLiteral("f.txt")), "abcdefgh"));
            w->file->filePath->setText(dir.filePath(QStringLiteral("f.txt")));
            w->file->paceBox->setCurrentIndex(1); // a character every 40 ms: time to look
            w->file->paceDelayBox->setValue(40);
            w->findChild<QTabWidget*>()->setCurrentIndex(3); // "File and lines"
            window = w;
            press = w->file->sendFileButton;
            next = w->file->stopFileButton;
            last = w->file->sendFileButton;
        }
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        press->setFocus();
        click(press);
        if (next)
            QCOMPARE(QApplication::focusWidget(), next);
        QTRY_VERIFY(!press->isEnabled() || next);
        QTRY_COMPARE(QApplication::focusWidget(), last);
    }

    void modbusExchange() {
        test::DevsimProcess slave;
        QVERIFY(slave.start({"--mode", "modbus", "--static"}));
        FormRig r(nullptr, slave.path());
        Form1& f = *r.f;
        QVERIFY(r.open());
        click(f.btn_Receive_Binary);
        f.txtString->setText(QStringLiteral("1 3 0 0 0 1"));
        f.txtString->setFocus();
        QTest::keyClick(f.txtString, Qt::Key_Return); // Enter sends, and inserts nothing
        QCOMPARE(f.txtString->text(), QStringLiteral("1 3 0 0 0 1"));
        QCOMPARE(f.txtSend->toPlainText(), QStringLiteral("01 03 00 00 00 01 84 0A \n"));
        QTRY_VERIFY(f.Text3->toPlainText().startsWith(QStringLiteral("01 03 02 ")));
        f.txtString->setText(QStringLiteral("1 G"));
        click(f.cmdSend);
        QCOMPARE(r.messages.texts, QStringList{QStringLiteral("Please send binary data !!")});
        click(f.cmdClearSendReceive);
        QCOMPARE(f.txtSend->toPlainText(), QString());
        f.cboFunction->setCurrentIndex(3);
        QCOMPARE(f.txtExplanation->toPlainText(), explanation(3));
        f.cboFunction->setEditText(QStringLiteral("typed"));
        QCOMPARE(f.txtExplanation->toPlainText(), explanation(3));
    }

    // Polling goes on with the Poll window closed, and the "Poll" button tells it.
    void pollButtonTellsPollingRuns() {
        FormRig r;
        Form1& f = *r.f;
        click(f.Cmd_Poll);
        QVERIFY(f.pollWindow());
        f.pollWindow()->close();
        f.pollWindow()->master().start();
        QCOMPARE(f.Cmd_Poll->text(), QStringLiteral("Poll (running)"));
        f.pollWindow()->master().stop();
        QCOMPARE(f.Cmd_Poll->text(), QStringLiteral("Poll"));
    }
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
