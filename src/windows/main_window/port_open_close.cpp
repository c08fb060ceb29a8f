// Opening and closing the port, and the window's two states.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

// Flow-control button index -> handshaking: None 0, HW 2 (RTS/CTS), SW 1 (XON/XOFF).
int handshakingFor(int flowControl) {
    switch (flowControl) {
    case 1:
        return 2;
    case 2:
        return 1;
    default:
        return 0;
    }
}

} // namespace

void Form1::Command1_Click() {
    try {
        MSComm1->setCommPort(Combo1->currentIndex() + 1);
        MSComm1->setSettings(Combo2->currentText() + QStringLiteral(",") + Text1->text());
        MSComm1->setHandshaking(handshakingFor(Flow_Control));
        MSComm1->setInBufferSize(8192);
        MSComm1->setOutBufferSize(8192);
        MSComm1->setInputLen(0);
        MSComm1->setRThreshold(0);
        MSComm1->setDTREnable(!Chk_DTR->isChecked());
        MSComm1->setPortOpen(true);
        if (!MSComm1->portOpen())
            return;
        MSComm1->setInBufferCount(0); // what arrived before the open is not ours
    } catch (const Failure& e) {
        showMessage(this, QString::fromStdString(e.description()));
        return;
    }

    Port_Opened = true;
    Command1->setEnabled(false);
    Command7->setEnabled(true);
    Combo1->setEnabled(false);
    Combo2->setEnabled(false);
    Command5->setEnabled(true);
    Command2->setEnabled(true);
    Command8->setEnabled(true);
    Command11->setEnabled(true);
    SetBinary->setEnabled(true);
    SetASCII->setEnabled(false);
    for (QRadioButton* b : Opt_FlowControl)
        b->setEnabled(false);
    Send_ASCII_Mode = true;
    Cmd_SetNet->setEnabled(true);
    Command1->setVisible(false);
    Command7->setVisible(true);
    Text1->setEnabled(false);

    SetASCII_Click();
    Command8_Click();
}

void Form1::Command7_Click() {
    // A port the layer closed after its device vanished still leaves the window open: take the
    // window back to its closed state then too, so the user can open again.
    if (!MSComm1->portOpen() && !Port_Opened)
        return;
    try {
        MSComm1->setPortOpen(false);
    } catch (const Failure& e) {
        showMessage(this, QStringLiteral("Close_Com => ErrCode=%1ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
        return;
    }
    enterClosedState();
}

void Form1::enterClosedState() {
    Auto_Send = false;
    Port_Opened = false;
    autoActive_ = false; // nothing left for auto receive to wait for
    autoTick_->stop();
    Command1->setEnabled(true);
    Command7->setEnabled(false);
    Command2->setEnabled(false);
    Command8->setEnabled(false);
    Command5->setEnabled(false);
    Command11->setEnabled(false);
    Command12->setEnabled(false);
    Combo1->setEnabled(true);
    Combo2->setEnabled(true);
    Text1->setEnabled(true);
    for (QRadioButton* b : Opt_FlowControl)
        b->setEnabled(true);
    Command7->setVisible(false);
    Command1->setVisible(true);
    Cmd_SetNet->setEnabled(false);
    SetASCII->setEnabled(false);
    SetBinary->setEnabled(false);
    txt_DSR->clear();
    txt_CTS->clear();
    txt_DCD->clear();
    refreshDeviceInfo();
}

void Form1::onDeviceLost() {
    // Auto-send stops at once so that no tick meets the dead port. A running auto receive
    // reports the loss itself at its next pass; otherwise it is reported here, once.
    Auto_Send = false;
    if (autoActive_)
        return;
    if (MSComm1->portOpen()) {
        try {
            MSComm1->inBufferCount();
        } catch (const Failure& e) {
            enterClosedState();
            showMessage(this, QStringLiteral("ErrCode=%1; ErrMsg=%2")
                                  .arg(e.number())
                                  .arg(QString::fromStdString(e.description())));
            return;
        }
    }
    if (Port_Opened)
        enterClosedState();
}

} // namespace varnok
