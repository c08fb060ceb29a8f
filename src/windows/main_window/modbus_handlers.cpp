// The Modbus frame's handlers on the main window: build, send, log, and the function list.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "logic/codec/recv_display.h"
#include "logic/modbus/catalogue.h"
#include "windows/main_window/form1.h"

namespace varnok {

void Form1::Init_Modbus() {
    {
        // The list is filled whole before the first choice shows its explanation.
        const QSignalBlocker block(cboFunction);
        cboFunction->clear();
        for (const std::string& item : modbus::functionItems())
            cboFunction->addItem(QString::fromStdString(item));
        cboFunction->setCurrentIndex(-1);
    }
    cboFunction->setCurrentIndex(0);
}

void Form1::cmdSend_Click() {
    const auto frame = engine_->sendRtuRequest(txtString->text().toStdU16String());
    if (!frame)
        return;
    const std::string line = codec::hexDisplay(frame->data(), frame->size());
    // The document turns CR LF into one line break: every frame stays on its own line.
    QTextCursor end(txtSend->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())) +
                   QStringLiteral("\r\n"));
    // The newest frame in view, without moving the user's caret.
    txtSend->verticalScrollBar()->setValue(txtSend->verticalScrollBar()->maximum());
}

int Form1::txtString_KeyPress(int keyAscii) {
    if (keyAscii != kKeyReturn)
        return keyAscii;
    cmdSend_Click();
    return 0; // swallowed: nothing is inserted
}

void Form1::cmdClearSendReceive_Click() {
    txtSend->clear();
}

void Form1::cboFunction_Click() {
    cboFunction_Change();
}

void Form1::cboFunction_Change() {
    // Text typed over the chosen item selects nothing: the explanation stays as it is.
    int index = cboFunction->currentIndex();
    if (index >= 0 && cboFunction->currentText() != cboFunction->itemText(index))
        index = -1;
    if (index < 0 || index >= modbus::kFunctionCount)
        return;
    txtExplanation->setPlainText(QString::fromStdString(modbus::functionExplanation(index)));
}

} // namespace varnok
