#include "windows/monitor/monitor_window.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/bus_ports.h"
#include "engine/monitor/frame_table_model.h"
#include "engine/session.h"
#include "logic/monitor/frame_text.h"
#include "logic/serial/port_map.h"
#include "windows/elided_label.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/monitor/station_view.h"
#include "windows/placement.h"
#include "windows/user_settings.h"

namespace varnok {

namespace {

constexpr QSize kDefaultSize(1360, 640);

const QString kTextFilter = QStringLiteral("Text log (*.log *.txt *.csv)");
const QString kRawFilter = QStringLiteral("Raw received bytes (*.bin *.raw *.dat)");

// Errors in red, what we sent on a tint, a script's marks on a yellow one that stands out
// among the frames: the frame store itself knows nothing of colours.
class FrameColours : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        const auto* frames = static_cast<const FrameTableModel*>(sourceModel());
        if (role == Qt::ForegroundRole && index.isValid())
            return frames->flagged(index.row()) ? QBrush(QColor(0xB0, 0x00, 0x00)) : QVariant();
        if (role == Qt::BackgroundRole && index.isValid()) {
            if (frames->marker(index.row()))
                return QBrush(QColor(MonitorWindow::kMarkColour));
            return frames->direction(index.row()) == monitor::Direction::Tx
                       ? QBrush(QColor(0xE8, 0xF0, 0xFF))
                       : QVariant();
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// The bytes and text cells hold far more characters than their columns show. In a fixed-pitch
// face they are cut to a little more than fits before the style lays them out: it elides them
// to the same text, but shapes a few dozen characters instead of hundreds in every repaint.
class CutCells : public QStyledItemDelegate {
  public:
    CutCells(const QFont& font, QObject* parent)
        : QStyledItemDelegate(parent), fixedPitch_(QFontInfo(font).fixedPitch()) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        if (fixedPitch_ &&
            (index.column() == FrameTableModel::Hex || index.column() == FrameTableModel::Text)) {
            const int advance = std::max(cell.fontMetrics.horizontalAdvance(QLatin1Char('0')), 1);
            const qsizetype keep = cell.rect.width() / advance + 2; // still wider than the cell
            if (cell.text.size() > keep)
                cell.text.truncate(keep);
        }
        const QWidget* view = cell.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);
    }

  private:
    bool fixedPitch_;
};

QLabel* caption(const char* text, QWidget* parent) {
    return new QLabel(QString::fromLatin1(text), parent);
}

} // namespace

MonitorWindow::MonitorWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), recorder_(&session.recorder()) {
    TrafficRecorder* recorder = recorder_;
    setObjectName(QStringLiteral("Monitor"));
    setWindowTitle(QStringLiteral("Monitor"));
    // Status texts cut short rather than widen the window past the screen.
    ruleLabel = new ElidedLabel(this);
    statsLabel = new ElidedLabel(this);
    statsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    captureLabel = new ElidedLabel(this, Qt::ElideMiddle); // the file's name stays in sight
    resetButton = new QPushButton(QStringLiteral("Reset"), this);
    resetButton->setToolTip(QStringLiteral("Start the statistics over"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buildOptions());
    layout->addLayout(buildBusRow());
    layout->addWidget(ruleLabel);
    buildTable();
    stations = new StationView(*recorder, this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(table);
    split->addWidget(stations);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statsLabel, 1);
    bottom->addWidget(resetButton);
    layout->addLayout(bottom);
    auto* busLine = new QHBoxLayout;
    busLine->addWidget(busLabel, 1);
    busLine->addWidget(copyPathButton);
    layout->addLayout(busLine);
    layout->addWidget(captureLabel);
    buildActions();
    resize(kDefaultSize);

    connect(recorder, &TrafficRecorder::statsChanged, this, &MonitorWindow::showStats);
    connect(recorder, &TrafficRecorder::statsChanged, stations, &StationView::refresh);
    connect(recorder, &TrafficRecorder::ruleChanged, this, &MonitorWindow::showRule);
    connect(recorder, &TrafficRecorder::captureChanged, this, &MonitorWindow::showCapture);
    connect(recorder, &TrafficRecorder::captureFailed, this, [this](const QString& text) {
        // Told from the event loop: a failure met inside the engine's receive pass must not
        // hold it up while the message waits for the user.
        QTimer::singleShot(0, this, [this, text] { showMessage(this, text); });
    });
    connect(resetButton, &QPushButton::clicked, recorder, &TrafficRecorder::resetStats);
    engine::BusPorts& bus = session_.bus();
    connect(&bus, &engine::BusPorts::modeChanged, this, &MonitorWindow::showBus);
    connect(&bus, &engine::BusPorts::sideLost, this, [this](const QString& text) {
        showBus();
        QTimer::singleShot(0, this, [this, text] { showMessage(this, text); });
    });
    connect(&bus, &engine::BusPorts::sideBack, this, &MonitorWindow::showBus);
    connect(&bus, &engine::BusPorts::noteChanged, this, &MonitorWindow::showBus);
    connect(&session_.terminal(), &engine::TerminalEngine::listenOnlyChanged, this,
            &MonitorWindow::showBus);
    recorder->start();
    showRule();
    showStats();
    showBus();
    showCapture(recorder->capturing());
}

MonitorWindow::~MonitorWindow() = default;

// The options row: decoding, the frame gap, the reply timeout and the capture, as the
// recorder has them (they outlive the window).
QHBoxLayout* MonitorWindow::buildOptions() {
    const monitor::MonitorSession& session = recorder_->session();
    decodeBox = new QCheckBox(QStringLiteral("Modbus RTU decoding"), this);
    decodeBox->setChecked(session.decoding());
    gapBox = new QDoubleSpinBox(this);
    gapBox->setRange(0, 60000);
    gapBox->setDecimals(2);
    gapBox->setSingleStep(0.5);
    gapBox->setSuffix(QStringLiteral(" ms"));
    gapBox->setSpecialValueText(QStringLiteral("auto"));
    gapBox->setValue(double(session.userGapUs()) / 1000.0);
    timeoutBox = new QSpinBox(this);
    timeoutBox->setRange(1, 600000);
    timeoutBox->setSuffix(QStringLiteral(" ms"));
    timeoutBox->setValue(static_cast<int>(session.timeoutUs() / 1000));
    // Wide enough for both captions: starting a capture must not widen the window.
    captureButton = new QPushButton(QStringLiteral("Stop capture"), this);
    const int stopWidth = captureButton->sizeHint().width();
    captureButton->setText(QStringLiteral("Capture..."));
    captureButton->setMinimumWidth(std::max(stopWidth, captureButton->sizeHint().width()));

    connect(decodeBox, &QCheckBox::toggled, recorder_, &TrafficRecorder::setDecoding);
    connect(gapBox, &QDoubleSpinBox::valueChanged, this,
            [this](double ms) { recorder_->setUserGapUs(std::llround(ms * 1000)); });
    connect(timeoutBox, &QSpinBox::valueChanged, this,
            [this](int ms) { recorder_->setTimeoutUs(std::int64_t{ms} * 1000); });
    connect(captureButton, &QPushButton::clicked, this, &MonitorWindow::onCaptureClicked);

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
    return top;
}

// The bus row: listening only, and a second port that hears the other direction of a
// tapped link or is bridged to the main window's port.
QVBoxLayout* MonitorWindow::buildBusRow() {
    listenBox = new QCheckBox(QStringLiteral("Listen only"), this);
    listenBox->setToolTip(QStringLiteral("Decode a bus others drive; this program sends nothing"));
    busModeBox = new QComboBox(this);
    busModeBox->addItems({QStringLiteral("One port"),
                          QStringLiteral("Tap: port B hears the other side"),
                          QStringLiteral("Bridge: port A to port B")});
    portBBox = new QComboBox(this);
    // As wide as "New pseudo-terminal" in every mode, though only a bridge lists it: the row
    // keeps its place when the mode changes.
    portBBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portBBox->setMinimumContentsLength(20);
    sideABox = new QLineEdit(this);
    sideBBox = new QLineEdit(this);
    for (QLineEdit* side : {sideABox, sideBBox})
        side->setMaximumWidth(side->fontMetrics().horizontalAdvance(QString(12, u'M')));
    sideABox->setPlaceholderText(QStringLiteral("A"));
    sideBBox->setPlaceholderText(QStringLiteral("B"));
    sideABox->setToolTip(QStringLiteral("The name of what port A hears, e.g. PLC"));
    sideBBox->setToolTip(QStringLiteral("The name of what port B hears, e.g. drive"));
    QSettings settings = userSettings();
    sideABox->setText(settings.value(QStringLiteral("monitor/sideA")).toString());
    sideBBox->setText(settings.value(QStringLiteral("monitor/sideB")).toString());
    recorder_->setSideNames(sideABox->text(), sideBBox->text());
    busButton = new QPushButton(QStringLiteral("Stop"), this);
    const int stopWidth = busButton->sizeHint().width();
    busButton->setText(QStringLiteral("Start"));
    busButton->setMinimumWidth(std::max(stopWidth, busButton->sizeHint().width()));
    busLabel = new ElidedLabel(this, Qt::ElideMiddle);
    busLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    copyPathButton = new QPushButton(QStringLiteral("Copy path"), this);
    copyPathButton->setToolTip(
        QStringLiteral("Copy the pseudo-terminal's path for the other program"));
    showBusModeChoices();

    connect(listenBox, &QCheckBox::clicked, this,
            [this](bool on) { session_.terminal().setListenOnly(on); });
    connect(busModeBox, &QComboBox::currentIndexChanged, this, &MonitorWindow::showBusModeChoices);
    connect(busButton, &QPushButton::clicked, this, &MonitorWindow::onBusClicked);
    connect(portBBox, &QComboBox::activated, this, [this] { portBChosen_ = true; });
    connect(copyPathButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(session_.bus().ptyPath()); });
    for (QLineEdit* side : {sideABox, sideBBox})
        connect(side, &QLineEdit::editingFinished, this, [this] {
            QSettings kept = userSettings();
            kept.setValue(QStringLiteral("monitor/sideA"), sideABox->text());
            kept.setValue(QStringLiteral("monitor/sideB"), sideBBox->text());
            recorder_->setSideNames(sideABox->text(), sideBBox->text());
            fitDirColumn();
        });

    auto* row = new QHBoxLayout;
    row->addWidget(listenBox);
    row->addSpacing(12);
    row->addWidget(busModeBox);
    row->addWidget(caption("Port B:", this));
    row->addWidget(portBBox);
    row->addWidget(busButton);
    row->addStretch();
    // The names on a line of their own: on one line with the rest the row outgrows a window
    // beside the main one, and its boxes are squeezed until their captions are cut.
    auto* names = new QHBoxLayout;
    names->addWidget(caption("Sides:", this));
    names->addWidget(sideABox);
    names->addWidget(sideBBox);
    names->addStretch();
    auto* rows = new QVBoxLayout;
    rows->addLayout(row);
    rows->addLayout(names);
    return rows;
}

// A bridge may make its own pseudo-terminal for a program on this computer; a tap hears two
// ports that exist.
void MonitorWindow::showBusModeChoices() {
    const bool bridge = busModeBox->currentIndex() == 2;
    const QString kept = portBBox->currentText();
    const QSignalBlocker block(portBBox);
    portBBox->clear();
    if (bridge)
        portBBox->addItem(QStringLiteral("New pseudo-terminal"), 0);
    for (int n = serial::kFirstPort; n <= serial::kLastPort; ++n)
        portBBox->addItem(QStringLiteral("Com%1").arg(n), n);
    // Until the user picks one: a pseudo-terminal of its own for a bridge, the first port
    // after A for a tap. Port A itself is never offered first: Start would refuse it.
    const int a = session_.terminal().lastOpenRequest().portNumber;
    int at = portBChosen_ ? portBBox->findText(kept) : -1;
    if (at < 0 || portBBox->itemData(at).toInt() == a)
        at = bridge || a != serial::kFirstPort ? 0 : 1;
    portBBox->setCurrentIndex(at);
    portBBox->setEnabled(busModeBox->currentIndex() != 0);
    busButton->setEnabled(busModeBox->currentIndex() != 0 ||
                          session_.bus().mode() != engine::BusPorts::Mode::Single);
}

void MonitorWindow::onBusClicked() {
    engine::BusPorts& bus = session_.bus();
    if (bus.mode() != engine::BusPorts::Mode::Single) {
        bus.stop();
        return;
    }
    const int number = portBBox->currentData().toInt();
    if (busModeBox->currentIndex() == 1)
        showFailure(this, bus.startTap(number));
    else if (busModeBox->currentIndex() == 2)
        showFailure(this, bus.startBridge(number > 0 ? std::optional<int>(number) : std::nullopt));
}

void MonitorWindow::showBus() {
    const engine::BusPorts& bus = session_.bus();
    const engine::BusPorts::Mode mode = bus.mode();
    const bool running = mode != engine::BusPorts::Mode::Single;
    busButton->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    busModeBox->setEnabled(!running);
    portBBox->setEnabled(!running && busModeBox->currentIndex() != 0);
    busButton->setEnabled(running || busModeBox->currentIndex() != 0);
    listenBox->setChecked(session_.terminal().listenOnly());
    listenBox->setEnabled(!running); // a tap or a bridge never sends of its own
    busLabel->setText(bus.stateText());
    busLabel->setVisible(running || !bus.note().isEmpty());
    copyPathButton->setVisible(mode == engine::BusPorts::Mode::Bridge && !bus.ptyPath().isEmpty());
}

// Room for "RX B" or the longest side name (up to 16 characters; a longer one is cut).
void MonitorWindow::fitDirColumn() {
    const QFontMetrics fm(table->font());
    int text = fm.horizontalAdvance(QStringLiteral("RX B"));
    for (const QLineEdit* side : {sideABox, sideBBox})
        text = std::max(text, fm.horizontalAdvance(side->text().trimmed().left(16)));
    table->setColumnWidth(FrameTableModel::Dir, text + fm.horizontalAdvance(u'0') + 12);
}

void MonitorWindow::buildTable() {
    table = new QTableView(this);
    auto* colours = new FrameColours(this);
    colours->setSourceModel(recorder_->model());
    table->setModel(colours);
    table->setFont(fixedFont(font().pointSize())); // hex columns line up
    table->setItemDelegate(new CutCells(table->font(), table));
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
    fitDirColumn();
    table->setColumnWidth(FrameTableModel::Length, chars(4));
    table->setColumnWidth(FrameTableModel::Hex, chars(3 * 13)); // a reply of 4 registers
    table->setColumnWidth(FrameTableModel::Text, chars(13));
    table->installEventFilter(this);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, &MonitorWindow::showContextMenu);
    followNewRows();
}

// The view follows the newest rows while the user has not scrolled away from them, and keeps
// the rows looked at in place when the oldest leave. Whether it follows is decided by the
// user's scrolling alone, never by comparing the bar with a maximum that the view may not
// have brought up to date yet.
void MonitorWindow::followNewRows() {
    QScrollBar* bar = table->verticalScrollBar();
    const FrameTableModel* frames = recorder_->model();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!modelChanging_)
            following_ = value >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (following_)
            bar->setValue(max);
    });
    connect(frames, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this, bar] {
        modelChanging_ = true;
        topBeforeRemoval_ = bar->value();
    });
    connect(frames, &QAbstractItemModel::rowsRemoved, this,
            [this, bar](const QModelIndex&, int first, int last) {
                if (!following_)
                    bar->setValue(std::max(0, topBeforeRemoval_ - (last - first + 1)));
                modelChanging_ = false;
            });
    connect(frames, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this] { modelChanging_ = true; });
    connect(frames, &QAbstractItemModel::rowsInserted, this, [this] {
        modelChanging_ = false;
        if (following_)
            table->scrollToBottom();
    });
}

void MonitorWindow::buildActions() {
    copyRowsAction = new QAction(QStringLiteral("Copy rows"), this);
    copyRowsAction->setShortcut(QKeySequence::Copy);
    copyCAction = new QAction(QStringLiteral("Copy as C array"), this);
    copyPythonAction = new QAction(QStringLiteral("Copy as Python bytes"), this);
    connect(copyRowsAction, &QAction::triggered, this, &MonitorWindow::copyRows);
    connect(copyCAction, &QAction::triggered, this, [this] { copyOne(false); });
    connect(copyPythonAction, &QAction::triggered, this, [this] { copyOne(true); });
}

FrameTableModel* MonitorWindow::model() const {
    return recorder_->model();
}

monitor::TrafficCounts MonitorWindow::counts() const {
    return recorder_->counts();
}

// ---------------------------------------------------------------- placement

void MonitorWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, QStringLiteral("monitor/geometry"), main, kDefaultSize);
}

void MonitorWindow::hideEvent(QHideEvent* event) {
    rememberPlace(*this, placed_, QStringLiteral("monitor/geometry"));
    QWidget::hideEvent(event);
}

// ---------------------------------------------------------------- rule and statistics

void MonitorWindow::showRule() {
    QString rule = QString::fromStdString(recorder_->session().gapText());
    if (!recorder_->lowLatencyNote().isEmpty())
        rule += QStringLiteral("; ") + recorder_->lowLatencyNote();
    ruleLabel->setText(rule);
}

void MonitorWindow::showStats() {
    if (!recorder_->session().decoding()) {
        statsLabel->setText(QStringLiteral("Statistics count while Modbus RTU decoding is on."));
        return;
    }
    statsLabel->setText(QString::fromStdString(monitor::countsText(recorder_->counts())));
}

// ---------------------------------------------------------------- capture

bool MonitorWindow::capturing() const {
    return recorder_->capturing();
}

void MonitorWindow::onCaptureClicked() {
    if (recorder_->capturing()) {
        stopCapture();
        return;
    }
    QSettings settings = userSettings();
    const auto offered =
        settings.value(QStringLiteral("monitor/captureForm")).toString() == QLatin1String("raw")
            ? CaptureForm::Raw
            : CaptureForm::Text;
    const QString offeredFilter = offered == CaptureForm::Raw ? kRawFilter : kTextFilter;
    QString filter = offeredFilter;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Capture to file"),
        settings.value(QStringLiteral("monitor/captureFolder")).toString(),
        kTextFilter + QStringLiteral(";;") + kRawFilter, &filter,
        QFileDialog::DontConfirmOverwrite); // asked below, with "Append" as well
    if (path.isEmpty())
        return;
    bool replace = true;
    if (QFileInfo::exists(path)) {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle),
                        QStringLiteral("%1 exists. Add to its end or replace it?")
                            .arg(elideMiddle(path, kMessageRunChars)),
                        QMessageBox::Cancel, this);
        QPushButton* append = box.addButton(QStringLiteral("Append"), QMessageBox::AcceptRole);
        QPushButton* replaceButton =
            box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
        box.exec();
        if (box.clickedButton() != append && box.clickedButton() != replaceButton)
            return;
        replace = box.clickedButton() == replaceButton;
    }
    const CaptureForm form = monitor::captureFormFor(
        QDir::toNativeSeparators(path).toStdString(),
        filter == kRawFilter ? CaptureForm::Raw : CaptureForm::Text, filter == offeredFilter);
    settings.setValue(QStringLiteral("monitor/captureForm"),
                      form == CaptureForm::Raw ? QStringLiteral("raw") : QStringLiteral("text"));
    settings.setValue(QStringLiteral("monitor/captureFolder"), QFileInfo(path).absolutePath());
    startCapture(path, form, replace);
}

bool MonitorWindow::startCapture(const QString& path, CaptureForm form, bool replace) {
    return showFailure(this, recorder_->startCapture(path, form, replace));
}

void MonitorWindow::stopCapture() {
    recorder_->stopCapture(); // a failing last flush comes back through captureFailed
}

void MonitorWindow::showCapture(bool capturing) {
    captureButton->setText(capturing ? QStringLiteral("Stop capture")
                                     : QStringLiteral("Capture..."));
    captureLabel->setVisible(capturing);
    if (capturing)
        captureLabel->setText(QStringLiteral("Capturing %1 to %2")
                                  .arg(recorder_->captureForm() == CaptureForm::Raw
                                           ? QStringLiteral("received bytes")
                                           : QStringLiteral("frames as text"),
                                       recorder_->capturePath()));
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
        text += model()->line(index.row()) + '\n';
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void MonitorWindow::copyOne(bool python) {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.size() != 1)
        return;
    const std::span<const std::uint8_t> bytes = model()->bytes(rows.front().row());
    QApplication::clipboard()->setText(QString::fromStdString(
        python ? monitor::pythonBytesText(bytes) : monitor::cArrayText(bytes)));
}

} // namespace varnok
