// Receive mode, display size and the two clear buttons.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

void Form1::btn_Receive_Binary_Click() {
    if (Recive_Binary) {
        Recive_Binary = false;
        btn_Receive_Binary->setText(QStringLiteral("Binary"));
        MSComm1->setInputMode(0);
    } else {
        Recive_Binary = true;
        btn_Receive_Binary->setText(QStringLiteral("ASCII"));
        MSComm1->setInputMode(1);
    }
    setFrame1Caption();
}

void Form1::Chk_ReadEnLarge_Click() {
    if (Chk_ReadEnLarge->isChecked()) {
        // Over the Modbus frame, in the frame's own rectangle.
        Text3->setGeometry(Frame5->geometry());
        Text3->raise();
        Recv_Show_Limit = 8192;
    } else {
        Text3->setGeometry(Text3_Left, Text3_Top, Text3_Width, Text3_Height);
        Recv_Show_Limit = 2048;
    }
}

void Form1::Command3_Click() {
    clearDisplay();
    Recv_Length->setText(QStringLiteral("0"));
    txt_TotalRecvLen->setText(QStringLiteral("0"));
    Recv_Total_Base = 0;
}

void Form1::Command4_Click() {
    // A closed port holds no input: the click does nothing and says nothing.
    if (!MSComm1->portOpen())
        return;
    try {
        MSComm1->setInBufferCount(0);
    } catch (const Failure& e) {
        // Only a device that vanished fails here, and this click is the first to learn of it:
        // swallowing the failure would leave the window open on a dead port.
        if (!MSComm1->portOpen() && Port_Opened)
            enterClosedState();
        showMessage(this, QStringLiteral("ErrCode=%1; ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
    }
}

} // namespace varnok
