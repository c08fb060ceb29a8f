// Send modes, recall, counters and auto-send.
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

void setEndOfStringEnabled(Form1* f, bool enabled) {
    for (QRadioButton* b : {f->Option1, f->Option2, f->Option3, f->Option4, f->Option5, f->Option6})
        b->setEnabled(enabled);
    f->Text5->setEnabled(enabled);
}

} // namespace

void Form1::SetASCII_Click() {
    SetASCII->setEnabled(false);
    SetBinary->setEnabled(true);
    Send_ASCII_Mode = true;
    setEndOfStringEnabled(this, true);
    Frame2->setTitle(QStringLiteral("Varnok_SEND ( ASCII Mode )"));
}

void Form1::SetBinary_Click() {
    SetASCII->setEnabled(true);
    SetBinary->setEnabled(false);
    Send_ASCII_Mode = false;
    setEndOfStringEnabled(this, false);
    Frame2->setTitle(QStringLiteral("Varnok_SEND ( Binary Mode )"));
}

void Form1::Text2_KeyDown(int keyCode) {
    if (keyCode == 38)
        Text2->setPlainText(QString::fromStdU16String(Send_History.up()));
    else if (keyCode == 40)
        Text2->setPlainText(QString::fromStdU16String(Send_History.down()));
}

void Form1::Command6_Click() {
    SendStrNum->setText(QStringLiteral("0"));
    txt_TotalSendLen->setText(QStringLiteral("0"));
}

void Form1::Command10_Click() {
    bool ok = false;
    const QString typed = Text4->text().trimmed();
    const uint period = typed.toUInt(&ok);
    if (!ok || period > 65535) {
        showMessage(this, QStringLiteral("The period must be a whole number of milliseconds from "
                                         "0 to 65535; it stays at %1.")
                              .arg(Timer2->isActive() ? Timer2->interval() : 0));
        return;
    }
    // 0 stops the ticks.
    if (period == 0) {
        Timer2->stop();
    } else {
        Timer2->setInterval(static_cast<int>(period));
        Timer2->start();
    }
}

void Form1::Command11_Click() {
    Auto_Send = true;
    Command11->setEnabled(false);
    Command12->setEnabled(true);
}

void Form1::Command12_Click() {
    Auto_Send = false;
    Command11->setEnabled(true);
    Command12->setEnabled(false);
}

void Form1::Timer2_Timer() {
    // A failed send's message may be open (this loop runs nested in it): skip the tick; after
    // OK the next tick tries again.
    if (!Auto_Send || autoSendMessageOpen_)
        return;
    Command5_Click();
}

} // namespace varnok
