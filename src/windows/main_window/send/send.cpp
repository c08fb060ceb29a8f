// The send button: encode the send box, count, write.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextDocument>

#include "logic/codec/send_encoding.h"
#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

QByteArray toBytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

// The send box as typed. toPlainText() would turn a no-break space (A0, a Latin-1 character)
// into a blank and so send a substitute byte; only the document's line breaks become LF.
QString sendBoxText(const QPlainTextEdit* box) {
    QString text = box->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    return text;
}

} // namespace

void Form1::Command5_Click() {
    const std::u16string text = sendBoxText(Text2).toStdU16String();
    Send_History.record(text);

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
    // Set before the "Def" field is decoded: a bad field leaves it set.
    Send_Data = text;
    Send_Data.append(codec::endOfStringChars(eos));

    QString message;
    try {
        const codec::SendEncoding enc =
            codec::encodeSend(Send_ASCII_Mode, text, eos, Text5->text().toStdU16String());
        Send_Data = enc.sendData;
        SendStrNum->setText(QString::number(enc.countedLength));
        txt_TotalSendLen->setText(QString::number(
            codec::addToCounter(txt_TotalSendLen->text().toStdU16String(), enc.countedLength)));
        if (enc.deferredFailure) {
            // Only a list that does not parse gets the binary-data messages.
            try {
                std::rethrow_exception(enc.deferredFailure);
            } catch (const TypeMismatch&) {
                message = QStringLiteral("Please send binary data (00~FF) !!");
            } catch (const Overflow&) {
                message = QStringLiteral("Space need to be placed between every binary data  !!");
            }
        } else {
            if (!enc.writes.empty() && !Send_ASCII_Mode)
                SendStrNum->setText(QString::number(enc.shownCount));
            for (const auto& w : enc.writes)
                MSComm1->output(toBytes(w));
        }
    } catch (const Failure& e) {
        message = QString::fromStdString(e.description());
    }
    if (message.isEmpty())
        return;
    // While it is open, auto-send ticks neither send nor stack further messages.
    autoSendMessageOpen_ = true;
    showMessage(this, message);
    autoSendMessageOpen_ = false;
}

} // namespace varnok
