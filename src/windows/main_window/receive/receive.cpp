// Receiving: manual reads, the auto receive passes, and the receive display.
//
// Auto receive runs as passes driven by arriving data and by a short tick (for the modem
// lines and a vanished device), never two at once, with every other window event served
// between passes; so the loop costs nothing while the line is idle.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>

#include "logic/codec/recv_display.h"
#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

QString boolText(bool b) {
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

// A line edit repaints on every setText, same text or not; an idle loop writes these 25 times
// a second, so an unchanged text is left alone.
void showLine(QLineEdit* box, bool state) {
    const QString text = boolText(state);
    if (box->text() != text)
        box->setText(text);
}

QString hexChunk(const QByteArray& bytes) {
    const std::string hex = codec::hexDisplay(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              static_cast<std::size_t>(bytes.size()));
    return QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size()));
}

} // namespace

void Form1::setFrame1Caption() {
    Frame1->setTitle(
        QStringLiteral("Varnok_RECV ( %1 )( %2 Mode )")
            .arg(Rec_Data_Manual ? QStringLiteral("Manual-Recv") : QStringLiteral("Auto-Recv"),
                 Recive_Binary ? QStringLiteral("Binary") : QStringLiteral("ASCII")));
}

void Form1::clearDisplay() {
    text3Data_.clear();
    Text3->clear();
}

void Form1::appendToDisplay(const QString& chunk) {
    text3Data_ += chunk;
    QTextCursor end(Text3->document());
    end.movePosition(QTextCursor::End);
    end.insertText(chunk);
}

void Form1::appendManual(const QString& chunk, std::int64_t dropFront) {
    if (dropFront <= 0) {
        appendToDisplay(chunk);
        return;
    }
    // Over the cap: keep the tail. The widget folds CR LF into one break, so its positions are
    // not ours; it is refilled from the kept text.
    if (dropFront >= text3Data_.size()) {
        text3Data_ = chunk.mid(static_cast<qsizetype>(dropFront - text3Data_.size()));
    } else {
        text3Data_.remove(0, static_cast<qsizetype>(dropFront));
        text3Data_ += chunk;
    }
    Text3->setPlainText(text3Data_);
}

void Form1::Command2_Click() {
    Rec_Data_Manual = true;
    setFrame1Caption();
    try {
        if (MSComm1->inBufferCount() < 1)
            return;
        // Bytes, not the mode-dependent variant: the display rule follows Recive_Binary even
        // in the instant the network dialog has set it and not yet switched the port.
        const QByteArray bytes = MSComm1->inputBytes();
        const QString chunk = Recive_Binary ? hexChunk(bytes) : QString::fromLatin1(bytes);
        // What scrolls off past the cap still counts: it folds into the base, also in binary
        // mode, where the counters are not shown but a later text read shows the total.
        codec::ManualAppend r;
        try {
            r = codec::manualReceiveAppend(text3Data_.size(), chunk.size(), Recv_Total_Base);
        } catch (const Overflow&) {
            // What was read is shown; only the count failed.
            appendManual(chunk, text3Data_.size() + chunk.size() - codec::kManualDisplayCap);
            throw;
        }
        appendManual(chunk, r.dropFront);
        Recv_Total_Base = r.base;
        if (Recive_Binary)
            return; // the counters are not touched in binary mode
        Recv_Length->setText(QString::number(r.recvLength));
        txt_TotalRecvLen->setText(QString::number(r.total));
    } catch (const Failure& e) {
        if (!MSComm1->portOpen() && Port_Opened)
            enterClosedState();
        showMessage(this, QStringLiteral("ManualRecv => ErrCode=%1; ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
    }
}

void Form1::Command8_Click() {
    Rec_Data_Manual = false;
    setFrame1Caption();
    if (autoActive_)
        return; // one loop: it goes on as before
    autoActive_ = true;
    autoTick_->start();
    scheduleReceivePass();
}

void Form1::Timer3_Timer() {
    Timer3->stop(); // once per enabling
    Command8_Click();
}

void Form1::scheduleReceivePass() {
    if (autoActive_ && !inPass_)
        receivePass();
}

void Form1::receivePass() {
    if (!MSComm1->portOpen() || Rec_Data_Manual) {
        autoActive_ = false; // the loop ends silently
        autoTick_->stop();
        // A port closed under the window (its device vanished and another handler already
        // reported it) takes the window back to its closed state.
        if (!MSComm1->portOpen() && Port_Opened)
            enterClosedState();
        return;
    }
    inPass_ = true;
    try {
        if (MSComm1->inBufferCount() != 0) {
            MSComm1->setInputLen(0);
            const QByteArray bytes = MSComm1->inputBytes();
            const QString chunk = Recive_Binary ? hexChunk(bytes) : QString::fromLatin1(bytes);
            const std::int64_t length = text3Data_.size() + chunk.size();
            codec::AutoPass r;
            try {
                r = codec::autoReceivePass(length, Recv_Total_Base, chk_RecvShowData->isChecked(),
                                           Recv_Show_Limit);
            } catch (const Overflow&) {
                // The chunk was read: it stays on display; only the total could not be kept.
                appendToDisplay(chunk);
                Recv_Length->setText(QString::number(length));
                throw;
            }
            if (r.clearDisplay) {
                // Emptied in this same pass: the chunk need not be laid out at all.
                clearDisplay();
                Recv_Total_Base = r.base;
            } else {
                appendToDisplay(chunk);
                if (!Recive_Binary)
                    Text3->moveCursor(QTextCursor::End); // newest text in view
            }
            Recv_Length->setText(QString::number(r.recvLength));
            txt_TotalRecvLen->setText(QString::number(r.total));
        }
        showLine(txt_DSR, MSComm1->dsrHolding());
        showLine(txt_CTS, MSComm1->ctsHolding());
        showLine(txt_DCD, MSComm1->cdHolding());
    } catch (const Failure& e) {
        autoActive_ = false;
        autoTick_->stop();
        inPass_ = false;
        const bool lost = !MSComm1->portOpen() && Port_Opened;
        if (lost)
            enterClosedState();
        showMessage(this, QStringLiteral("AutoRecv => ErrCode=%1; ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
        return;
    }
    inPass_ = false;
}

} // namespace varnok
