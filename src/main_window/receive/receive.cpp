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

#include "codec/recv_display.h"
#include "main_window/form1.h"
#include "main_window/message_box.h"

namespace varnok {

namespace {

QString boolText(bool b) {
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

QString hexChunk(const QByteArray& bytes) {
    const std::string hex = codec::hexDisplay(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              static_cast<std::size_t>(bytes.size()));
    return QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size()));
}

} // namespace

void Form1::setFrame1Caption() {
    Frame1->setTitle(QStringLiteral("Varnok_RECV ( %1 )( %2 Mode )")
                         .arg(Rec_Data_Manual ? QStringLiteral("Manual-Recv")
                                              : QStringLiteral("Auto-Recv"),
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

void Form1::Command2_Click() {
    Rec_Data_Manual = true;
    setFrame1Caption();
    try {
        if (MSComm1->inBufferCount() < 1)
            return;
        QString chunk;
        codec::ManualAppend r;
        if (Recive_Binary) {
            chunk = hexChunk(MSComm1->input().toByteArray());
            // The display keeps a bounded tail; counters are not touched in binary mode.
            r.dropFront = std::max<std::int64_t>(
                0, text3Data_.size() + chunk.size() - codec::kManualDisplayCap);
        } else {
            chunk = MSComm1->input().toString();
            r = codec::manualReceiveAppend(text3Data_.size(), chunk.size(), Recv_Total_Base);
        }
        if (r.dropFront > 0) {
            QString kept = text3Data_ + chunk;
            kept.remove(0, static_cast<qsizetype>(r.dropFront));
            text3Data_ = kept;
            Text3->setPlainText(text3Data_);
        } else {
            appendToDisplay(chunk);
        }
        if (!Recive_Binary) {
            Recv_Length->setText(QString::number(r.recvLength));
            txt_TotalRecvLen->setText(QString::number(r.total));
            Recv_Total_Base = r.base;
        }
    } catch (const Failure& e) {
        showMessage(this, QStringLiteral("ManualRecv => ErrCode=%1; ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
        if (!MSComm1->portOpen() && Port_Opened)
            enterClosedState();
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
            const QVariant in = MSComm1->input();
            const QString chunk = Recive_Binary ? hexChunk(in.toByteArray()) : in.toString();
            const codec::AutoPass r =
                codec::autoReceivePass(text3Data_.size() + chunk.size(), Recv_Total_Base,
                                       chk_RecvShowData->isChecked(), Recv_Show_Limit);
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
        txt_DSR->setText(boolText(MSComm1->dsrHolding()));
        txt_CTS->setText(boolText(MSComm1->ctsHolding()));
        txt_DCD->setText(boolText(MSComm1->cdHolding()));
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
