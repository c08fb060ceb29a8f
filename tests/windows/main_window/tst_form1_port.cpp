// The main window offscreen: start-up state, opening and closing a bound pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

void expectClosedState(Form1& f) {
    QVERIFY(f.Command1->isVisible());
    QVERIFY(f.Command1->isEnabled());
    QVERIFY(!f.Command7->isVisible());
    QVERIFY(!f.Command7->isEnabled());
    for (QWidget* w :
         std::initializer_list<QWidget*>{f.Command2, f.Command8, f.Command5, f.Command11,
                                         f.Command12, f.SetASCII, f.SetBinary, f.Cmd_SetNet})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget* w : std::initializer_list<QWidget*>{f.Combo1, f.Combo2, f.Text1, f.Chk_DTR,
                                                      f.Opt_FlowControl[0], f.Opt_FlowControl[2]})
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(!f.Port_Opened);
    QVERIFY(!f.Auto_Send);
}

} // namespace

class TstForm1Port : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void startUp() {
        Form1 f;
        f.show();
        QCOMPARE(f.windowTitle(), QStringLiteral("Varnok_Binary  v1.4.8  ( KOVRAN )"));
        QCOMPARE(f.Combo1->count(), 255);
        QCOMPARE(f.Combo1->itemText(0), QStringLiteral("Com1"));
        QCOMPARE(f.Combo1->itemText(254), QStringLiteral("Com255"));
        QCOMPARE(f.Combo1->currentText(), QStringLiteral("Com1"));
        QStringList bauds;
        for (int i = 0; i < f.Combo2->count(); ++i)
            bauds << f.Combo2->itemText(i);
        QCOMPARE(bauds.join(QLatin1Char(' ')),
                 QStringLiteral("300 600 2400 4800 9600 19200 38400 57600 115200 230400 "
                                "460800 921600"));
        QCOMPARE(f.Combo2->currentText(), QStringLiteral("115200"));
        QCOMPARE(f.Text1->text(), QStringLiteral("n,8,1"));
        QVERIFY(f.Opt_FlowControl[0]->isChecked());
        QCOMPARE(f.Label3->text(), QStringLiteral("Local Breaking"));
        QCOMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )"));
        QCOMPARE(f.Frame2->title(), QStringLiteral("Varnok_SEND ( ASCII Mode )"));
        QCOMPARE(f.Text2->toPlainText(), QStringLiteral("KOVRAN"));
        QCOMPARE(f.Text5->text(), QStringLiteral("1A"));
        QCOMPARE(f.Text4->text(), QStringLiteral("500"));
        QVERIFY(f.Option2->isChecked());
        QVERIFY(!f.Chk_DTR->isChecked());
        QVERIFY(f.chk_RecvShowData->isChecked());
        QCOMPARE(f.Recv_Show_Limit, 1024);
        for (QTimer* t : {f.Timer1, f.Timer2, f.Timer3}) {
            QCOMPARE(t->interval(), 500);
            QVERIFY(t->isActive());
        }
        expectClosedState(f);

        // Captions exactly, trailing blanks included, and names as the controls are known.
        const QList<QPair<const char*, const char*>> captions = {{"Command1", "Open COM"},
                                                                 {"Command7", "Close COM"},
                                                                 {"Command9", "END"},
                                                                 {"Command5", "Send "},
                                                                 {"cmdSend", "Send "},
                                                                 {"Command2", "Manual Recv"},
                                                                 {"Command8", "Auto Recv"},
                                                                 {"Command4", "Clear Input Buffer"},
                                                                 {"Command3", "Clear Text"},
                                                                 {"Command6", "Clear Text"},
                                                                 {"Command11", "Send"},
                                                                 {"Command12", "Stop"},
                                                                 {"Command10", "Setting"},
                                                                 {"Cmd_SetNet", "Set_Net"},
                                                                 {"cmdClearSendReceive", "Clear"},
                                                                 {"btn_Receive_Binary", "Binary"},
                                                                 {"SetASCII", "ASCII"},
                                                                 {"SetBinary", "Binary"}};
        for (const auto& [name, caption] : captions) {
            auto* b = f.findChild<QPushButton*>(QLatin1String(name));
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QLatin1String(caption));
        }
        const QList<QPair<const char*, const char*>> others = {
            {"Opt_FlowControl_0", "None"},
            {"Opt_FlowControl_1", "HW"},
            {"Opt_FlowControl_2", "SW"},
            {"Option4", "LF_CR( 0x0a 0x0d )"},
            {"Option5", "CR_LF( 0x0d 0x0a )"},
            {"Chk_DTR", "DTR_Disable"},
            {"Chk_ConnDetect", "Auto Connect Detection"},
            {"Label11", "Flow Control : "},
            {"Label12", "CTS : "},
            {"txtDCD", "DCD : "},
            {"Label7", "( HEX)"}};
        for (const auto& [name, caption] : others) {
            auto* w = f.findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(w, name);
            QCOMPARE(w->property("text").toString(), QLatin1String(caption));
        }
    }

    void openAndClose_data() {
        QTest::addColumn<int>("flow");
        QTest::addColumn<QString>("lineControl");
        QTest::addColumn<bool>("dtrDisabled");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("handshaking");
        QTest::newRow("defaults") << 0 << "n,8,1" << false << "115200,n,8,1" << 0;
        QTest::newRow("HW") << 1 << "n,8,1" << false << "115200,n,8,1" << 2;
        QTest::newRow("SW") << 2 << "n,8,1" << true << "115200,n,8,1" << 1;
        QTest::newRow("e,7,2") << 0 << "e,7,2" << false << "115200,e,7,2" << 0;
    }
    void openAndClose() {
        QFETCH(int, flow);
        QFETCH(QString, lineControl);
        QFETCH(bool, dtrDisabled);
        QFETCH(QString, settings);
        QFETCH(int, handshaking);

        PtyPair pty;
        serial::bindPort(1, pty.slavePath().toStdString());
        Form1 f;
        f.show();
        QTest::mouseClick(f.Opt_FlowControl[static_cast<size_t>(flow)], Qt::LeftButton);
        QCOMPARE(int(f.Flow_Control), flow);
        f.Text1->setText(lineControl);
        f.Chk_DTR->setChecked(dtrDisabled);
        pty.write("stale");
        QTest::qWait(50);

        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QVERIFY(f.Port_Opened);
        QCOMPARE(f.MSComm1->commPort(), 1);
        QCOMPARE(f.MSComm1->settings(), settings);
        QCOMPARE(f.MSComm1->handshaking(), handshaking);
        QCOMPARE(f.MSComm1->inBufferSize(), 8192);
        QCOMPARE(f.MSComm1->outBufferSize(), 8192);
        QCOMPARE(f.MSComm1->dtrEnable(), !dtrDisabled);
        QVERIFY(f.Command7->isVisible() && f.Command7->isEnabled());
        QVERIFY(!f.Command1->isVisible());
        for (QWidget* w : std::initializer_list<QWidget*>{f.Command5, f.Command2, f.Command8,
                                                          f.Command11, f.SetBinary, f.Cmd_SetNet})
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        for (QWidget* w : std::initializer_list<QWidget*>{f.Combo1, f.Combo2, f.Text1, f.SetASCII,
                                                          f.Command12, f.Opt_FlowControl[1]})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        QVERIFY(f.Chk_DTR->isEnabled());
        QVERIFY(f.Send_ASCII_Mode);
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Opposite Breaking"), 1500);
        QTRY_COMPARE(f.txt_CTS->text(), QStringLiteral("False"));
        QCOMPARE(f.Text3->toPlainText(), QString()); // input from before the open is dropped

        QTest::mouseClick(f.Command7, Qt::LeftButton);
        expectClosedState(f);
        QVERIFY(!f.MSComm1->portOpen());
        QCOMPARE(f.txt_CTS->text(), QString());
        QCOMPARE(f.txt_DSR->text(), QString());
        QCOMPARE(f.txt_DCD->text(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(f.Label3->text(), QStringLiteral("Local Breaking"), 1500);
        QVERIFY(!f.autoReceiveRunning());
    }

    void openingFailures_data() {
        QTest::addColumn<int>("comIndex");
        QTest::addColumn<QString>("lineControl");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<QString>("says");
        QTest::newRow("malformed line control") << 0 << "n,9,1" << false << "data bits";
        QTest::newRow("number without device") << 199 << "n,8,1" << false << "Com200";
        QTest::newRow("held by another") << 0 << "n,8,1" << true << "in use";
    }
    void openingFailures() {
        QFETCH(int, comIndex);
        QFETCH(QString, lineControl);
        QFETCH(bool, heldElsewhere);
        QFETCH(QString, says);

        PtyPair pty;
        serial::bindPort(1, pty.slavePath().toStdString());
        serial::CommPort other;
        if (heldElsewhere) {
            other.setCommPort(1);
            other.setSettings(QStringLiteral("9600,n,8,1"));
            other.setPortOpen(true);
        }
        Form1 f;
        f.show();
        f.Combo1->setCurrentIndex(comIndex);
        f.Text1->setText(lineControl);
        MessageCatcher messages;
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].contains(says), qPrintable(messages.texts[0]));
        QVERIFY(messages.okOnly());
        expectClosedState(f);
        QCOMPARE(f.Text1->text(), lineControl);
        QCOMPARE(f.Combo1->currentIndex(), comIndex);
        QCOMPARE(f.Label3->text(), QStringLiteral("Local Breaking"));
    }

    void deviceVanishesDuringAutoReceive() {
        auto pty = std::make_unique<PtyPair>();
        serial::bindPort(1, pty->slavePath().toStdString());
        Form1 f;
        f.show();
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        pty->write("hello");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("5"));

        MessageCatcher messages;
        pty->closeMaster();
        QTRY_COMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].startsWith(QLatin1String("AutoRecv => ErrCode=")),
                 qPrintable(messages.texts[0]));
        QVERIFY(messages.texts[0].contains(QLatin1String("; ErrMsg=")));
        QVERIFY(messages.okOnly());

        const double cpu0 = test::processCpuSeconds();
        test::serveEvents(1000);
        QVERIFY2(test::processCpuSeconds() - cpu0 < 0.15, "busy after the device vanished");
        QCOMPARE(messages.texts.size(), 1);
        QCOMPARE(f.Text3->toPlainText(), QStringLiteral("hello"));
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("5"));
        expectClosedState(f);

        // The device comes back: opening works again.
        pty = std::make_unique<PtyPair>();
        serial::bindPort(1, pty->slavePath().toStdString());
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QVERIFY(f.Port_Opened);
        pty->write("again");
        QTRY_COMPARE(f.Text3->toPlainText(), QStringLiteral("helloagain"));
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(messages.texts.size(), 1);
    }
};

QTEST_MAIN(TstForm1Port)
#include "tst_form1_port.moc"
