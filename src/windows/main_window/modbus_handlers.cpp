// The Modbus frame's handlers on the main window: build, send, log, and the function list.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "logic/codec/recv_display.h"
#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"
#include "logic/modbus/catalogue.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/rtu_frame.h"

namespace varnok {

void Form1::Init_Modbus() {
    modbus::crcTables(); // filled once, here at start-up
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
    if (!MSComm1->portOpen())
        return;
    try {
        const modbus::RtuFrame f = modbus::Build_RTU_Frame(txtString->text().toStdU16String());
        const QByteArray bytes(reinterpret_cast<const char*>(f.frame.data()),
                               static_cast<qsizetype>(f.frame.size()));
        MSComm1->output(bytes);
        const std::string line = codec::hexDisplay(f.frame.data(), f.frame.size());
        // The document turns CR LF into one line break: every frame stays on its own line.
        QTextCursor end(txtSend->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())) +
                       QStringLiteral("\r\n"));
        // The newest frame in view, without moving the user's caret.
        txtSend->verticalScrollBar()->setValue(txtSend->verticalScrollBar()->maximum());
    } catch (const TypeMismatch&) {
        showMessage(this, QStringLiteral("Please send binary data !!"));
    } catch (const Overflow&) {
        showMessage(this, QStringLiteral("Space need to be placed between every binary data"));
    } catch (const Failure& e) {
        showMessage(this, QString::fromStdString(e.description()));
    }
}

int Form1::txtString_KeyPress(int keyAscii) {
    if (keyAscii != 13)
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
