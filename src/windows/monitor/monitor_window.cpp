#include "windows/monitor/monitor_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "logic/failure.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/serial/settings_text.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/monitor/capture_file.h"
#include "windows/monitor/frame_table_model.h"

namespace varnok {

namespace {

using monitor::Direction;

std::int64_t nowUs() {
    return engine::TrafficTime::now().monotonicNs / 1000;
}

// A timer interval that is never short of `us`.
int ceilMs(std::int64_t us) {
    return static_cast<int>(std::clamp<std::int64_t>((us + 999) / 1000, 1, 1 << 30));
}

std::string msText(double us, int decimals) {
    return QString::number(us / 1000.0, 'f', decimals).toStdString();
}

std::span<const std::uint8_t> byteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

monitor::LineSettings lineOf(const engine::OpenRequest& request) {
    const serial::LineSettings s = serial::parseSettings(
        (request.baud + QLatin1Char(',') + request.lineControl).toStdString());
    monitor::LineSettings line{s.baud, s.dataBits, 'N', 1};
    switch (s.parity) {
    case serial::Parity::None:
        break;
    case serial::Parity::Even:
        line.parity = 'E';
        break;
    case serial::Parity::Odd:
        line.parity = 'O';
        break;
    case serial::Parity::Mark:
        line.parity = 'M';
        break;
    case serial::Parity::Space:
        line.parity = 'S';
        break;
    }
    if (s.stopBits == serial::StopBits::OneAndHalf)
        line.stopBits = 1.5;
    else if (s.stopBits == serial::StopBits::Two)
        line.stopBits = 2;
    return line;
}

QLabel* caption(const char* text, QWidget* parent) {
    return new QLabel(QString::fromLatin1(text), parent);
}

} // namespace

MonitorWindow::MonitorWindow(engine::TerminalEngine* engine, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(engine), model_(new FrameTableModel(this)),
      capture_(new CaptureFile(this)), splitter_(monitor::frameGapUs(line_, 0)) {
    setObjectName(QStringLiteral("Monitor"));
    setWindowTitle(QStringLiteral("Monitor"));
    buildControls();

    gapTimer_.setSingleShot(true);
    gapTimer_.setTimerType(Qt::PreciseTimer); // gaps are a few ms
    connect(&gapTimer_, &QTimer::timeout, this, &MonitorWindow::onGapTimer);
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(kBatchMs);
    connect(&batchTimer_, &QTimer::timeout, this, &MonitorWindow::commitRows);
    timeoutTimer_.setSingleShot(true);
    connect(&timeoutTimer_, &QTimer::timeout, this, &MonitorWindow::onTimeoutTimer);
    connect(capture_, &CaptureFile::failed, this, &MonitorWindow::onCaptureFailed);

    if (engine) {
        connect(engine, &engine::TerminalEngine::received, this, &MonitorWindow::onReceived);
        connect(engine, &engine::TerminalEngine::sent, this, &MonitorWindow::onSent);
        connect(engine, &engine::TerminalEngine::portOpenChanged, this,
                &MonitorWindow::onPortOpenChanged);
        onPortOpenChanged(engine->isOpen()); // opened after the port: take its settings now
    }
    applyGap();
    refreshStats();
}

MonitorWindow::~MonitorWindow() = default;

void MonitorWindow::buildControls() {
    decodeBox = new QCheckBox(QStringLiteral("Modbus RTU decoding"), this);
    decodeBox->setChecked(true);
    gapBox = new QDoubleSpinBox(this);
    gapBox->setRange(0, 60000);
    gapBox->setDecimals(2);
    gapBox->setSingleStep(0.5);
    gapBox->setSuffix(QStringLiteral(" ms"));
    gapBox->setSpecialValueText(QStringLiteral("auto"));
    timeoutBox = new QSpinBox(this);
    timeoutBox->setRange(1, 600000);
    timeoutBox->setValue(1000);
    timeoutBox->setSuffix(QStringLiteral(" ms"));
    resetButton = new QPushButton(QStringLiteral("Reset"), this);
    resetButton->setToolTip(QStringLiteral("Start the statistics over"));
    captureButton = new QPushButton(QStringLiteral("Capture..."), this);
    ruleLabel = new QLabel(this);
    statsLabel = new QLabel(this);
    statsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    captureLabel = new QLabel(this);
    captureLabel->hide();

    table = new QTableView(this);
    table->setModel(model_);
    table->setFont(fixedFont(font().pointSize())); // hex columns line up
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setWordWrap(false);
    table->setCornerButtonEnabled(false);
    // Fixed row heights and no row numbers: 100,000 rows cost nothing to lay out.
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    const QFontMetrics fm(table->font());
    // Room for the text and the cell's margins.
    const auto chars = [&fm](int n) { return fm.horizontalAdvance(QString(n + 1, u'0')) + 12; };
    table->setColumnWidth(FrameTableModel::Time, chars(12));
    table->setColumnWidth(FrameTableModel::Gap, chars(9));
    table->setColumnWidth(FrameTableModel::Dir, chars(3));
    table->setColumnWidth(FrameTableModel::Length, chars(4));
    table->setColumnWidth(FrameTableModel::Hex, chars(3 * 13)); // a reply of 4 registers
    table->setColumnWidth(FrameTableModel::Text, chars(13));
    table->installEventFilter(this);
    table->setContextMenuPolicy(Qt::CustomContextMenu);

    copyRowsAction = new QAction(QStringLiteral("Copy rows"), this);
    copyRowsAction->setShortcut(QKeySequence::Copy);
    copyCAction = new QAction(QStringLiteral("Copy as C array"), this);
    copyPythonAction = new QAction(QStringLiteral("Copy as Python bytes"), this);

    auto* top = new QHBoxLayout;
    top->addWidget(decodeBox);
    top->addSpacing(12);
    top->addWidget(caption("Frame gap:", this));
    top->addWidget(gapBox);
    top->addSpacing(12);
    top->addWidget(caption("Reply timeout:", this));
    top->addWidget(timeoutBox);
    top->addStretch();
    top->addWidget(captureButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(ruleLabel);
    layout->addWidget(table, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statsLabel, 1);
    bottom->addWidget(resetButton);
    layout->addLayout(bottom);
    layout->addWidget(captureLabel);
    resize(1180, 560);

    connect(decodeBox, &QCheckBox::toggled, this, [this] {
        requestEndUs_.reset();
        timeoutTimer_.stop();
        refreshStats();
    });
    connect(gapBox, &QDoubleSpinBox::valueChanged, this, &MonitorWindow::applyGap);
    connect(timeoutBox, &QSpinBox::valueChanged, this,
            [this](int ms) { stats_.setTimeoutUs(std::int64_t{ms} * 1000); });
    stats_.setTimeoutUs(std::int64_t{timeoutBox->value()} * 1000);
    connect(resetButton, &QPushButton::clicked, this, &MonitorWindow::resetStats);
    connect(captureButton, &QPushButton::clicked, this, &MonitorWindow::onCaptureClicked);
    connect(table, &QWidget::customContextMenuRequested, this, &MonitorWindow::showContextMenu);
    connect(copyRowsAction, &QAction::triggered, this, &MonitorWindow::copyRows);
    connect(copyCAction, &QAction::triggered, this, [this] { copyOne(false); });
    connect(copyPythonAction, &QAction::triggered, this, [this] { copyOne(true); });
}

// ---------------------------------------------------------------- framing

void MonitorWindow::onPortOpenChanged(bool open) {
    if (!open) {
        // Nothing more can arrive for the open frame: a "now" far past any gap ends it.
        if (std::optional<monitor::Frame> f =
                splitter_.flush(std::numeric_limits<std::int64_t>::max() / 2))
            take(std::move(*f));
        return;
    }
    try {
        line_ = lineOf(engine_->lastOpenRequest());
    } catch (const Failure&) {
        // The port took these settings, so this cannot happen; the last ones stay.
    }
    applyGap();
}

void MonitorWindow::applyGap() {
    const auto userUs = static_cast<std::int64_t>(std::llround(gapBox->value() * 1000));
    splitter_.setGapUs(monitor::frameGapUs(line_, userUs));
    ruleLabel->setText(QString::fromStdString(monitor::frameGapText(line_, userUs)));
}

void MonitorWindow::onSent(const QByteArray& bytes, engine::TrafficTime time) {
    // Our write closes any RX frame: it comes out first, then the TX frame.
    for (monitor::Frame& f :
         splitter_.feed(time.monotonicNs / 1000, time.wallMs, Direction::Tx, byteSpan(bytes)))
        take(std::move(f));
}

void MonitorWindow::onReceived(const QByteArray& bytes, engine::TrafficTime time) {
    // Raw capture is the bytes as they came, before any framing.
    if (capture_->active() && captureForm_ == CaptureForm::Raw)
        capture_->write(bytes.constData(), bytes.size());
    for (monitor::Frame& f :
         splitter_.feed(time.monotonicNs / 1000, time.wallMs, Direction::Rx, byteSpan(bytes)))
        take(std::move(f));
    if (splitter_.hasOpenFrame() && !gapTimer_.isActive())
        gapTimer_.start(ceilMs(splitter_.gapUs()));
}

void MonitorWindow::onGapTimer() {
    const std::int64_t now = nowUs();
    if (std::optional<monitor::Frame> f = splitter_.flush(now)) {
        take(std::move(*f));
    } else if (splitter_.hasOpenFrame()) {
        // More bytes came since the timer started: wait for the silence after the last one.
        gapTimer_.start(ceilMs(splitter_.openLastUs() + splitter_.gapUs() - now));
    }
}

void MonitorWindow::take(monitor::Frame frame) {
    const bool piece = frame.piece;
    FrameRow row;
    row.gapUs = lastEndUs_ ? frame.firstUs - *lastEndUs_ : -1;
    lastEndUs_ = frame.lastUs;
    const bool tx = frame.direction == Direction::Tx;
    if (decodeBox->isChecked()) {
        // A piece is not decoded, so not counted as a CRC error, but it still answers a
        // request.
        monitor::Decoded d;
        d.crcOk = piece;
        if (!piece)
            d = monitor::decodeRtu(frame.bytes, tx);
        const std::optional<std::int64_t> responseUs = stats_.add(frame, d);
        if (!piece)
            row.decoded = monitor::summary(d);
        if (responseUs)
            row.decoded += " · response " + msText(double(*responseUs), 3) + " ms";
        row.piece = piece;
        row.flagged = !d.crcOk || d.kind == monitor::FrameKind::Exception;
        // After an RX frame no request waits: it was answered, timed out or there was none.
        if (tx) {
            requestEndUs_ = frame.lastUs;
            timeoutTimer_.start(ceilMs(stats_.timeoutUs() + 1000));
        } else {
            requestEndUs_.reset();
            timeoutTimer_.stop();
        }
        statsDirty_ = true;
    }
    if (capture_->active() && captureForm_ == CaptureForm::Text) {
        monitor::Frame previous; // frameLine wants the previous frame's last byte only
        previous.lastUs = frame.firstUs - row.gapUs;
        const std::string line =
            monitor::frameLine(frame, row.gapUs < 0 ? nullptr : &previous, row.decodedText()) +
            '\n';
        capture_->write(line.data(), static_cast<qint64>(line.size()));
    }
    row.frame = std::move(frame);
    model_->queue(std::move(row));
    if (!batchTimer_.isActive())
        batchTimer_.start();
}

void MonitorWindow::commitRows() {
    QScrollBar* bar = table->verticalScrollBar();
    // Follow the newest rows only while the user has not scrolled away from them.
    const bool follow = bar->value() >= bar->maximum();
    const int top = bar->value();
    const int removed = model_->commit();
    if (follow)
        table->scrollToBottom();
    else if (removed > 0)
        bar->setValue(std::max(0, top - removed)); // the rows looked at stay in view
    if (statsDirty_)
        refreshStats();
}

// ---------------------------------------------------------------- statistics

void MonitorWindow::onTimeoutTimer() {
    if (!requestEndUs_)
        return;
    const std::int64_t now = nowUs();
    if (splitter_.hasOpenFrame()) {
        // A reply is arriving: its first byte decides, once the frame is whole.
        timeoutTimer_.start(ceilMs(splitter_.gapUs()));
        return;
    }
    stats_.tick(now);
    if (now - *requestEndUs_ > stats_.timeoutUs()) {
        requestEndUs_.reset();
        refreshStats();
    } else {
        timeoutTimer_.start(ceilMs(*requestEndUs_ + stats_.timeoutUs() + 1000 - now));
    }
}

void MonitorWindow::refreshStats() {
    statsDirty_ = false;
    if (!decodeBox->isChecked()) {
        statsLabel->setText(QStringLiteral("Statistics count while Modbus RTU decoding is on."));
        return;
    }
    const monitor::TrafficCounts c = stats_.counts();
    std::string text = "Requests " + std::to_string(c.requests) + "   Replies " +
                       std::to_string(c.replies) + "   Timeouts " + std::to_string(c.timeouts) +
                       "   Unpaired " + std::to_string(c.unpaired) + "   CRC errors " +
                       std::to_string(c.crcErrors) + "   Exceptions " +
                       std::to_string(c.exceptions) + "   Response ";
    if (c.replies == 0)
        text += "-";
    else
        text += "min " + msText(double(c.minUs), 2) + " / mean " + msText(c.meanUs, 2) + " / p99 " +
                msText(double(c.p99Us), 2) + " / max " + msText(double(c.maxUs), 2) + " ms";
    statsLabel->setText(QString::fromStdString(text));
}

void MonitorWindow::resetStats() {
    stats_.reset();
    requestEndUs_.reset();
    timeoutTimer_.stop();
    refreshStats();
}

// ---------------------------------------------------------------- capture

bool MonitorWindow::capturing() const {
    return capture_->active();
}

void MonitorWindow::onCaptureClicked() {
    if (capture_->active()) {
        stopCapture();
        return;
    }
    const QString textFilter = QStringLiteral("Text log (*.log *.txt)");
    const QString rawFilter = QStringLiteral("Raw received bytes (*.bin)");
    QString filter = textFilter;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Capture to file"), QString(),
        textFilter + QStringLiteral(";;") + rawFilter, &filter,
        QFileDialog::DontConfirmOverwrite); // asked below, with "Append" as well
    if (path.isEmpty())
        return;
    bool replace = true;
    if (QFileInfo::exists(path)) {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle),
                        QStringLiteral("%1 exists. Add to its end or replace it?").arg(path),
                        QMessageBox::Cancel, this);
        QPushButton* append = box.addButton(QStringLiteral("Append"), QMessageBox::AcceptRole);
        QPushButton* replaceButton =
            box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
        box.exec();
        if (box.clickedButton() != append && box.clickedButton() != replaceButton)
            return;
        replace = box.clickedButton() == replaceButton;
    }
    startCapture(path, filter == rawFilter ? CaptureForm::Raw : CaptureForm::Text, replace);
}

bool MonitorWindow::startCapture(const QString& path, CaptureForm form, bool replace) {
    const QString error = capture_->start(path, replace);
    if (!error.isEmpty()) {
        showMessage(this, error);
        return false;
    }
    captureForm_ = form;
    if (form == CaptureForm::Text) {
        const std::string header =
            monitor::captureHeader(QDateTime::currentMSecsSinceEpoch()) + '\n';
        capture_->write(header.data(), static_cast<qint64>(header.size()));
    }
    captureButton->setText(QStringLiteral("Stop capture"));
    captureLabel->setText(QStringLiteral("Capturing %1 to %2")
                              .arg(form == CaptureForm::Raw ? QStringLiteral("received bytes")
                                                            : QStringLiteral("frames as text"),
                                   path));
    captureLabel->show();
    return capture_->active();
}

void MonitorWindow::stopCapture() {
    capture_->stop(); // a failing last flush comes back through onCaptureFailed
    captureButton->setText(QStringLiteral("Capture..."));
    captureLabel->hide();
}

void MonitorWindow::onCaptureFailed(const QString& text) {
    captureButton->setText(QStringLiteral("Capture..."));
    captureLabel->hide();
    // Told from the event loop: a failure met inside the engine's receive pass must not hold
    // it up while the message waits for the user.
    QTimer::singleShot(0, this, [this, text] { showMessage(this, text); });
}

// ---------------------------------------------------------------- copying

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event) {
    // The view's own Ctrl+C copies one cell; here it copies whole frames.
    if (watched == table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copyRows();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MonitorWindow::showContextMenu(const QPoint& pos) {
    const qsizetype selected = table->selectionModel()->selectedRows().size();
    copyRowsAction->setEnabled(selected > 0);
    copyCAction->setEnabled(selected == 1);
    copyPythonAction->setEnabled(selected == 1);
    QMenu menu(this);
    menu.addActions({copyRowsAction, copyCAction, copyPythonAction});
    menu.exec(table->viewport()->mapToGlobal(pos));
}

void MonitorWindow::copyRows() {
    QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    std::string text;
    for (const QModelIndex& index : rows)
        text += model_->line(index.row()) + '\n';
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void MonitorWindow::copyOne(bool python) {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.size() != 1)
        return;
    const std::span<const std::uint8_t> bytes = model_->bytes(rows.front().row());
    QApplication::clipboard()->setText(QString::fromStdString(
        python ? monitor::pythonBytesText(bytes) : monitor::cArrayText(bytes)));
}

} // namespace varnok
