#include "windows/quick_send/file_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "windows/main_window/message_box.h"
#include "windows/quick_send/controls.h"

namespace varnok {

using engine::QuickSender;
using quick_send::button;

FileAndLinesPage::FileAndLinesPage(engine::QuickSender& sender, engine::TerminalEngine& engine,
                                   QWidget* parent)
    : QWidget(parent), sender_(sender), engine_(&engine) {
    filePath = new QLineEdit(this);
    paceBox = quick_send::combo({QStringLiteral("Full speed"),
                                 QStringLiteral("Delay after each character"),
                                 QStringLiteral("Delay after each line end")},
                                this);
    paceDelayBox = quick_send::spin(60000, 1, " ms", this);
    hexFileBox = new QCheckBox(QStringLiteral("Read the file as a hex list"), this);
    sendFileButton = button("Send file", this);
    stopFileButton = button("Stop", this);
    stopFileButton->setEnabled(false);
    fileBar = new QProgressBar(this);
    fileLabel = new QLabel(this);
    fileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    breakBox = quick_send::spin(60000, QuickSender::kBreakMs, " ms", this);
    breakBox->setMinimum(1);
    breakButton = button("Break", this);
    rtsBox = new QCheckBox(QStringLiteral("RTS"), this);
    lay();
    wire();
    followPort();
}

void FileAndLinesPage::lay() {
    auto* browse = button("Browse...", this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString p = QFileDialog::getOpenFileName(this, QStringLiteral("Send a file"));
        if (!p.isEmpty())
            filePath->setText(p);
    });
    auto* path = new QHBoxLayout;
    path->addWidget(filePath, 1);
    path->addWidget(browse);
    auto* pace = new QHBoxLayout;
    pace->addWidget(paceBox);
    pace->addWidget(paceDelayBox);
    pace->addStretch();
    auto* go = new QHBoxLayout;
    go->addWidget(hexFileBox);
    go->addStretch();
    go->addWidget(sendFileButton);
    go->addWidget(stopFileButton);
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(QStringLiteral("Hold the line in break for"), this));
    line->addWidget(breakBox);
    line->addWidget(breakButton);
    line->addSpacing(24);
    line->addWidget(rtsBox);
    line->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File"), path);
    form->addRow(QStringLiteral("Pacing"), pace);
    form->addRow(go);
    form->addRow(fileBar);
    form->addRow(fileLabel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(16);
    layout->addLayout(line);
    layout->addStretch();
}

void FileAndLinesPage::wire() {
    connect(sendFileButton, &QPushButton::clicked, this, &FileAndLinesPage::startFile);
    connect(stopFileButton, &QPushButton::clicked, &sender_, &QuickSender::stopFile);
    connect(&sender_, &QuickSender::fileProgress, this, &FileAndLinesPage::showProgress);
    connect(&sender_, &QuickSender::fileFinished, this, [this](bool complete) {
        const bool onStop = stopFileButton->hasFocus(); // not on to the break box
        sendFileButton->setEnabled(true);
        stopFileButton->setEnabled(false);
        if (onStop)
            sendFileButton->setFocus();
        fileLabel->setText(fileLabel->text() +
                           (complete ? QStringLiteral(": done") : QStringLiteral(": stopped")));
    });
    connect(breakButton, &QPushButton::clicked, this,
            [this] { sender_.sendBreak(breakBox->value()); });
    connect(&sender_, &QuickSender::breakChanged, breakButton,
            [this](bool on) { breakButton->setEnabled(!on); });
    connect(rtsBox, &QCheckBox::clicked, this, [this](bool on) {
        if (!showFailure(window(), sender_.setRts(on)))
            rtsBox->setChecked(!on);
    });
    connect(engine_, &engine::TerminalEngine::portOpenChanged, this, &FileAndLinesPage::followPort);
}

void FileAndLinesPage::showProgress(qint64 sent, qint64 total, double rate, qint64 msLeft) {
    fileBar->setRange(0, 1000);
    fileBar->setValue(total > 0 ? int(sent * 1000 / total) : 1000);
    fileLabel->setText(
        QStringLiteral("%1 of %2 bytes, %3 bytes/s, %4 left")
            .arg(sent)
            .arg(total)
            .arg(qRound64(rate))
            .arg(msLeft < 0 ? QStringLiteral("?")
                            : QStringLiteral("%1 s").arg(double(msLeft) / 1000.0, 0, 'f', 1)));
}

void FileAndLinesPage::startFile() {
    // The focus follows the button that takes over, not on to the break box.
    const bool onSend = sendFileButton->hasFocus();
    stopFileButton->setEnabled(true);
    if (onSend)
        stopFileButton->setFocus();
    sendFileButton->setEnabled(false);
    sender_.sendFile(filePath->text(), hexFileBox->isChecked(),
                     quicksend::Pace(paceBox->currentIndex()), paceDelayBox->value());
    if (!sender_.sendingFile()) { // refused (closed port) or already done
        sendFileButton->setEnabled(true);
        if (onSend)
            sendFileButton->setFocus();
        stopFileButton->setEnabled(false);
    }
}

void FileAndLinesPage::followPort() {
    // RTS is the line's own while RTS/CTS flow control drives it.
    const bool rtsCts = engine_ && engine_->isOpen() &&
                        engine_->lastOpenRequest().handshaking == serial::Handshaking::RtsCts;
    rtsBox->setEnabled(!rtsCts);
    rtsBox->setToolTip(rtsCts ? QStringLiteral("RTS/CTS flow control drives RTS")
                              : QStringLiteral("Sets the RTS line of the open port"));
}

} // namespace varnok
