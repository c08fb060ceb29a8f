// The main window's handlers: each reads its controls and hands the work to the engine.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <QTimer>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

// Flow-control buttons, in their order "None", "HW", "SW".
constexpr serial::Handshaking kFlowByButton[3] = {
    serial::Handshaking::None, serial::Handshaking::RtsCts, serial::Handshaking::XonXoff};

// The send box as typed. toPlainText() would turn a no-break space (A0, a Latin-1 character)
// into a blank and so send a substitute byte; only the document's line breaks become LF.
std::u16string sendBoxText(const QPlainTextEdit* box) {
    QString text = box->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    return text.toStdU16String();
}

} // namespace

// ---------------------------------------------------------------- port and line control

void Form1::Command1_Click() {
    engine::OpenRequest r;
    r.portNumber = Combo1->currentIndex() + 1;
    r.baud = Combo2->currentText();
    r.lineControl = Text1->text();
    const int flow = std::max(0, flowGroup_->checkedId());
    r.handshaking = kFlowByButton[flow];
    r.dtrAsserted = !Chk_DTR->isChecked();
    // Opening goes on in ASCII sending and auto receive.
    showFailure(this, engine_->open(r));
}

void Form1::Command7_Click() {
    engine_->close();
}

void Form1::Chk_DTR_Click() {
    engine_->setDtrAsserted(!Chk_DTR->isChecked());
}

void Form1::Opt_FlowControl_Click(int index) {
    // Applied at the next opening.
    Opt_FlowControl[static_cast<size_t>(index)]->setChecked(true);
}

void Form1::Timer1_Timer() {
    engine_->pollLink();
}

// ---------------------------------------------------------------- receive

void Form1::Command2_Click() {
    engine_->manualRead();
}

void Form1::Command8_Click() {
    engine_->startAutoReceive();
}

void Form1::Timer3_Timer() {
    Timer3->stop(); // once per enabling
    Command8_Click();
}

void Form1::btn_Receive_Binary_Click() {
    engine_->setReceiveBinary(!engine_->receiveBinary());
}

void Form1::Chk_ReadEnLarge_Click() {
    if (Chk_ReadEnLarge->isChecked()) {
        // Over the Modbus frame, in the frame's own rectangle.
        Text3->setGeometry(Frame5->geometry());
        Text3->raise();
        engine_->setShowLimit(engine::TerminalEngine::kShowLimitEnlarged);
    } else {
        Text3->setGeometry(Text3_Left, Text3_Top, Text3_Width, Text3_Height);
        engine_->setShowLimit(engine::TerminalEngine::kShowLimitShrunk);
    }
}

void Form1::Command3_Click() {
    engine_->clearReceive();
}

void Form1::Command4_Click() {
    engine_->clearInput();
}

// ---------------------------------------------------------------- send

engine::SendRequest Form1::sendBox() const {
    engine::SendRequest r;
    r.text = sendBoxText(Text2);
    // The first selected of CR, LF, LF CR, CR LF, Def decides; none of them is "None".
    using codec::EndOfString;
    r.eos = Option2->isChecked()   ? EndOfString::CR
            : Option3->isChecked() ? EndOfString::LF
            : Option4->isChecked() ? EndOfString::LFCR
            : Option5->isChecked() ? EndOfString::CRLF
            : Option6->isChecked() ? EndOfString::Def
                                   : EndOfString::None;
    r.defText = Text5->text().toStdU16String();
    return r;
}

void Form1::Command5_Click() {
    engine_->send(sendBox());
}

void Form1::Timer2_Timer() {
    engine_->send(sendBox(), true);
}

void Form1::SetASCII_Click() {
    engine_->setSendAscii(true);
}

void Form1::SetBinary_Click() {
    engine_->setSendAscii(false);
}

void Form1::Text2_KeyDown(int keyCode) {
    if (keyCode == kKeyUp)
        Text2->setPlainText(QString::fromStdU16String(engine_->historyUp()));
    else if (keyCode == kKeyDown)
        Text2->setPlainText(QString::fromStdU16String(engine_->historyDown()));
}

void Form1::Command6_Click() {
    engine_->clearSendCounters();
}

void Form1::Command10_Click() {
    showFailure(this, engine_->setAutoSendPeriod(Text4->text()));
}

void Form1::Command11_Click() {
    engine_->setAutoSend(true);
}

void Form1::Command12_Click() {
    engine_->setAutoSend(false);
}

} // namespace varnok
