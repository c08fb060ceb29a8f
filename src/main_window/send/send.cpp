// The send button: encode the send box, count, write.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "codec/send_encoding.h"
#include "main_window/form1.h"
#include "main_window/message_box.h"

namespace varnok {

namespace {

QByteArray toBytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

void Form1::Command5_Click() {
    const QString text = Text2->toPlainText();
    Send_History.record(text.toStdU16String());

    // The first selected of CR, LF, LF CR, CR LF, Def decides; none of them is "None".
    codec::EndOfString eos = codec::EndOfString::None;
    if (Option2->isChecked())
        eos = codec::EndOfString::CR;
    else if (Option3->isChecked())
        eos = codec::EndOfString::LF;
    else if (Option4->isChecked())
        eos = codec::EndOfString::LFCR;
    else if (Option5->isChecked())
        eos = codec::EndOfString::CRLF;
    else if (Option6->isChecked())
        eos = codec::EndOfString::Def;

    try {
        const codec::SendEncoding enc = codec::encodeSend(
            Send_ASCII_Mode, text.toStdU16String(), eos, Text5->text().toStdU16String());
        Send_Data = enc.sendData;
        SendStrNum->setText(QString::number(enc.countedLength));
        txt_TotalSendLen->setText(QString::number(
            codec::addToCounter(txt_TotalSendLen->text().toStdU16String(), enc.countedLength)));
        if (enc.deferredFailure)
            std::rethrow_exception(enc.deferredFailure);
        if (!enc.writes.empty() && !Send_ASCII_Mode)
            SendStrNum->setText(QString::number(enc.shownCount));
        for (const auto& w : enc.writes)
            MSComm1->output(toBytes(w));
    } catch (const TypeMismatch&) {
        showMessage(this, QStringLiteral("Please send binary data (00~FF) !!"));
    } catch (const Overflow&) {
        showMessage(this, QStringLiteral("Space need to be placed between every binary data  !!"));
    } catch (const Failure& e) {
        showMessage(this, QString::fromStdString(e.description()));
    }
}

} // namespace varnok
