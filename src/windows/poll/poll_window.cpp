#include "windows/poll/poll_window.h"
#include "windows/placement.h"

#include <QBoxLayout>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>

#include "engine/terminal_engine.h"
#include "windows/elided_label.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/poll/poll_chart.h"
#include "windows/poll/poll_delegates.h"

namespace varnok {

namespace {

constexpr int kRefreshMs = engine::PollModel::kRefreshMs;
constexpr int kSpansMin[] = {1, 5, 30};

QTableWidgetItem* editableItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    return item;
}

// A file name asked for in a dialog; the action runs only when one was chosen.
template <typename Act>
void withFile(QWidget* parent, bool save, const QString& title, const QString& filter, Act act) {
    const QString path = save ? QFileDialog::getSaveFileName(parent, title, {}, filter)
                              : QFileDialog::getOpenFileName(parent, title, {}, filter);
    if (!path.isEmpty())
        act(path);
}

} // namespace

PollWindow::PollWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(session.terminal()), model_(session.poll()) {
    setObjectName(QStringLiteral("Poll"));
    setWindowTitle(QStringLiteral("Poll - Varnok_Binary"));
    auto* top = new QVBoxLayout(this);
    top->addWidget(buildReads());
    top->addLayout(buildOptions());
    // The register table and the chart share the rest.
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(buildTable());
    split->addWidget(buildChart());
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    top->addWidget(split, 1);
    readStatus = new ElidedLabel;
    readStatus->setObjectName(QStringLiteral("ReadStatus"));
    writeStatus = new ElidedLabel;
    writeStatus->setObjectName(QStringLiteral("WriteStatus"));
    top->addWidget(readStatus);
    top->addWidget(writeStatus);
    resize(960, 720);

    connect(&master(), &engine::ModbusMaster::pollingChanged, this, [this](bool on) {
        pollButton->setText(on ? QStringLiteral("Stop polling") : QStringLiteral("Start polling"));
    });
    connect(&model_, &engine::PollModel::failed, this, &PollWindow::fail);
    // Listen only holds polling back: said where polling is read, and once as a message.
    connect(&master(), &engine::ModbusMaster::refused, this, [this](const QString& text) {
        readStatus->setText(text);
        // Told from the event loop: the refusal may come from inside another window's call.
        QTimer::singleShot(0, this, [this, text] { fail(text); });
    });
    connect(&model_, &engine::PollModel::writeNoted, writeStatus, &QLabel::setText);
    connect(&model_, &engine::PollModel::logStopped, this,
            [this] { logButton->setText(QStringLiteral("Log CSV...")); });
    connect(&model_, &engine::PollModel::setupLoaded, this, &PollWindow::showSetup);
    connect(&model_, &QAbstractItemModel::modelReset, this, &PollWindow::hideCoveredRows);
    connect(&model_, &QAbstractItemModel::layoutChanged, this, &PollWindow::hideCoveredRows);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PollWindow::refresh);
    refresh_.start();
    addRead({{1, 3, 0, 10, {}, {}}, 1000, 1000, 0});
    applyReads();
}

PollWindow::~PollWindow() = default;

// Reads: one line each, polled in turn.
QWidget* PollWindow::buildReads() {
    auto* readsBox = new QGroupBox(QStringLiteral("Reads (address 0-based, as on the wire)"));
    auto* readsLayout = new QHBoxLayout(readsBox);
    readsTable = new QTableWidget(0, 7);
    readsTable->setObjectName(QStringLiteral("ReadsTable"));
    readsTable->setHorizontalHeaderLabels(
        {"Station", "Function", "Address", "Count", "Period ms", "Timeout ms", "Retries"});
    readsTable->setToolTip(QStringLiteral("Function 1 coils, 2 discrete inputs, 3 holding "
                                          "registers, 4 input registers; period 0 polls back to "
                                          "back; retries 0-3"));
    readsTable->verticalHeader()->setVisible(false);
    readsTable->setMaximumHeight(120);
    readsLayout->addWidget(readsTable, 1);
    auto* readButtons = new QVBoxLayout;
    addReadButton = new QPushButton(QStringLiteral("Add read"));
    removeReadButton = new QPushButton(QStringLiteral("Remove read"));
    applyButton = new QPushButton(QStringLiteral("Apply"));
    pollButton = new QPushButton(master().polling() ? QStringLiteral("Stop polling")
                                                    : QStringLiteral("Start polling"));
    pollButton->setObjectName(QStringLiteral("Cmd_PollStart"));
    for (QPushButton* b : {addReadButton, removeReadButton, applyButton, pollButton})
        readButtons->addWidget(b);
    readsLayout->addLayout(readButtons);
    connect(addReadButton, &QPushButton::clicked, this, [this] {
        engine::PollRead r;
        if (readsTable->rowCount() > 0) {
            const int last = readsTable->rowCount() - 1;
            r.request.address = readsTable->item(last, RdAddress)->text().toInt() +
                                readsTable->item(last, RdCount)->text().toInt();
        }
        r.request.count = 10;
        addRead(r);
    });
    connect(removeReadButton, &QPushButton::clicked, this, [this] {
        if (readsTable->rowCount() > 0)
            readsTable->removeRow(readsTable->currentRow() >= 0 ? readsTable->currentRow()
                                                                : readsTable->rowCount() - 1);
    });
    connect(applyButton, &QPushButton::clicked, this, &PollWindow::applyReads);
    connect(pollButton, &QPushButton::clicked, this, &PollWindow::togglePolling);
    return readsBox;
}

QLayout* PollWindow::buildOptions() {
    auto* options = new QHBoxLayout;
    // Short captions keep the window narrow enough for a small screen; tooltips tell more.
    oneBasedBox = new QCheckBox(QStringLiteral("1-based (40001)"));
    oneBasedBox->setToolTip(
        QStringLiteral("Addresses 1-based with the table's prefix: 00001 coils, 10001 discrete "
                       "inputs, 30001 input registers, 40001 holding registers"));
    always16Box = new QCheckBox(QStringLiteral("Always write with 16"));
    always16Box->setToolTip(QStringLiteral("Registers written with 16 and coils with 15, even "
                                           "a single one"));
    logButton = new QPushButton(QStringLiteral("Log CSV..."));
    saveButton = new QPushButton(QStringLiteral("Save..."));
    loadButton = new QPushButton(QStringLiteral("Load..."));
    importButton = new QPushButton(QStringLiteral("Import map..."));
    options->addWidget(oneBasedBox);
    options->addWidget(always16Box);
    options->addStretch(1);
    for (QPushButton* b : {logButton, saveButton, loadButton, importButton})
        options->addWidget(b);
    connect(oneBasedBox, &QCheckBox::toggled, this, [this](bool on) {
        model_.setOneBased(on);
        refresh();
    });
    connect(always16Box, &QCheckBox::toggled, this, [this](bool on) { model_.setAlways16(on); });
    connect(logButton, &QPushButton::clicked, this, &PollWindow::chooseLog);
    const QString definitions = QStringLiteral("Definitions (*.json)");
    connect(saveButton, &QPushButton::clicked, this, [this, definitions] {
        withFile(this, true, QStringLiteral("Save definitions"), definitions,
                 [this](const QString& path) { saveDefinitions(path); });
    });
    connect(loadButton, &QPushButton::clicked, this, [this, definitions] {
        withFile(this, false, QStringLiteral("Load definitions"), definitions,
                 [this](const QString& path) { loadDefinitions(path); });
    });
    connect(importButton, &QPushButton::clicked, this, [this] {
        withFile(this, false, QStringLiteral("Import register map"),
                 QStringLiteral("Register maps (*.csv *.txt);;All files (*)"),
                 [this](const QString& path) { importMap(path); });
    });
    return options;
}

QWidget* PollWindow::buildTable() {
    table = new QTableView;
    table->setObjectName(QStringLiteral("PollTable"));
    table->setModel(&model_);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
    table->setItemDelegate(new StaleDelegate(table));
    table->setItemDelegateForColumn(ColFormat, new FormatDelegate(table));
    table->setFont(fixedFont(9));
    // Columns as wide as their widest content, the value column for a 64-bit value or bin16;
    // the name takes the rest.
    const QFontMetrics fm(table->font());
    const std::pair<int, const char*> widest[] = {{ColStation, "Station"},
                                                  {ColFunction, "Function"},
                                                  {ColAddress, "465536"},
                                                  {ColFormat, "float32 ABCD"},
                                                  {ColValue, "-9223372036854775808"},
                                                  {ColRaw, "0000 0000 0000 0000"},
                                                  {ColChanged, "00:00:00.000"},
                                                  {ColPlot, "Plot"}};
    for (const auto& [column, text] : widest)
        table->setColumnWidth(column, fm.horizontalAdvance(QLatin1String(text)) + 16);
    connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex& at) {
        if (at.column() == ColValue && !(at.flags() & Qt::ItemIsEditable))
            writeStatus->setText(engine::PollModel::readOnlyHint(model_.keyOf(at.row()).function));
    });
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    table->installEventFilter(this); // Enter on a value
    return table;
}

QWidget* PollWindow::buildChart() {
    auto* chartPane = new QWidget;
    auto* chartLayout = new QVBoxLayout(chartPane);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chart_ = std::make_unique<PollChart>(model_);
    chartView = chart_->view();
    chartLayout->addWidget(chartView, 1);
    auto* chartButtons = new QHBoxLayout;
    spanBox = new QComboBox;
    for (const int m : kSpansMin)
        spanBox->addItem(QStringLiteral("last %1 min").arg(m));
    pauseButton = new QPushButton(QStringLiteral("Pause"));
    savePngButton = new QPushButton(QStringLiteral("Save PNG..."));
    chartButtons->addWidget(new QLabel(QStringLiteral("Chart: tick rows under \"Plot\"")));
    chartButtons->addStretch(1);
    chartButtons->addWidget(spanBox);
    chartButtons->addWidget(pauseButton);
    chartButtons->addWidget(savePngButton);
    chartLayout->addLayout(chartButtons);
    // Pause holds the view; the rows go on being sampled and show on Resume.
    connect(pauseButton, &QPushButton::clicked, this, [this] {
        paused_ = !paused_;
        pauseButton->setText(paused_ ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        updateChart();
    });
    connect(spanBox, &QComboBox::currentIndexChanged, this, &PollWindow::updateChart);
    // A tick or a name shows at once.
    connect(&model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                const auto spans = [&](int c) { return from.column() <= c && c <= to.column(); };
                if (spans(ColName) || spans(ColPlot))
                    updateChart();
            });
    connect(savePngButton, &QPushButton::clicked, this, [this] {
        withFile(this, true, QStringLiteral("Save chart"), QStringLiteral("PNG image (*.png)"),
                 [this](const QString& path) { saveChart(path); });
    });
    return chartPane;
}

void PollWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, QStringLiteral("poll/geometry"), main, size());
}

void PollWindow::hideEvent(QHideEvent* event) {
    rememberPlace(*this, placed_, QStringLiteral("poll/geometry"));
    QWidget::hideEvent(event);
}

// Enter on a value opens it for writing, as a double-click does; the view alone would only
// activate the cell.
bool PollWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QModelIndex at = table->currentIndex();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && at.column() == ColValue) {
            if (at.flags() & Qt::ItemIsEditable)
                table->edit(at);
            else
                writeStatus->setText(
                    engine::PollModel::readOnlyHint(model_.keyOf(at.row()).function));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PollWindow::fail(const QString& text) {
    showMessage(this, text);
}

bool PollWindow::done(const engine::Outcome& outcome) {
    return showFailure(this, outcome);
}

// ---------------------------------------------------------------- reads

void PollWindow::addRead(const engine::PollRead& r) {
    const int row = readsTable->rowCount();
    readsTable->insertRow(row);
    const int values[] = {r.request.station, r.request.function, r.request.address, r.request.count,
                          r.periodMs,        r.timeoutMs,        r.retries};
    for (int c = 0; c < 7; ++c)
        readsTable->setItem(row, c, editableItem(QString::number(values[c])));
}

bool PollWindow::applyReads() {
    std::vector<QStringList> typed;
    for (int row = 0; row < readsTable->rowCount(); ++row) {
        QStringList fields;
        for (int c = 0; c < engine::kReadFields; ++c)
            fields << readsTable->item(row, c)->text();
        typed.push_back(fields);
    }
    if (done(model_.setTypedReads(typed)))
        return true;
    showReads(master().reads()); // the table shows what is polled
    return false;
}

void PollWindow::showReads(const std::vector<engine::PollRead>& reads) {
    readsTable->setRowCount(0);
    for (const auto& r : reads)
        addRead(r);
}

// The reads and options as the model has them, after Load.
void PollWindow::showSetup() {
    showReads(master().reads());
    const QSignalBlocker quiet(oneBasedBox), quiet16(always16Box);
    oneBasedBox->setChecked(model_.oneBased());
    always16Box->setChecked(model_.always16());
    refresh();
}

void PollWindow::useStation(int station) {
    for (int row = 0; row < readsTable->rowCount(); ++row)
        readsTable->item(row, RdStation)->setText(QString::number(station));
    applyReads();
}

void PollWindow::togglePolling() {
    if (master().polling()) {
        master().stop();
        return;
    }
    if (!applyReads())
        return;
    master().start();
    if (!engine_.isOpen())
        writeStatus->setText(QStringLiteral("Polling starts when the port opens."));
}

// ---------------------------------------------------------------- the register table

int PollWindow::rowOf(const modbus::RowKey& key) const {
    return model_.rowOf(key);
}

void PollWindow::setRowFormat(int row, const modbus::ValueFormat& format) {
    model_.setRowFormat(row, format);
}

void PollWindow::hideCoveredRows() {
    for (int row = 0; row < model_.rowCount(); ++row)
        table->setRowHidden(row, model_.covered(row));
    updateChart();
}

void PollWindow::refresh() {
    readStatus->setText(model_.statusText());
    updateChart();
}

// ---------------------------------------------------------------- chart

bool PollWindow::saveChart(const QString& chosen) {
    QString path = chosen;
    if (QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".png");
    if (chartView->grab().save(path, "PNG"))
        return true;
    fail(QStringLiteral("The chart could not be saved as %1.").arg(path));
    return false;
}

void PollWindow::updateChart() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int minutes = kSpansMin[std::max(0, spanBox->currentIndex())];
    chart_->update(now - qint64(minutes) * 60000, now, !paused_);
}

qsizetype PollWindow::chartPoints(int row) const {
    return chart_->points(model_.keyOf(row));
}

// ---------------------------------------------------------------- CSV log and files

void PollWindow::chooseLog() {
    if (logging()) {
        stopLog();
        return;
    }
    withFile(this, true, QStringLiteral("Log to CSV"), QStringLiteral("CSV files (*.csv)"),
             [this](const QString& path) { startLog(path); });
}

bool PollWindow::startLog(const QString& path) {
    const bool ok = done(model_.startLog(path));
    logButton->setText(logging() ? QStringLiteral("Stop log") : QStringLiteral("Log CSV..."));
    return ok;
}

void PollWindow::stopLog() {
    model_.stopLog();
    logButton->setText(QStringLiteral("Log CSV..."));
}

bool PollWindow::saveDefinitions(const QString& path) {
    return done(model_.saveDefinitions(path));
}

bool PollWindow::loadDefinitions(const QString& path) {
    return done(model_.loadDefinitions(path));
}

bool PollWindow::importMap(const QString& path) {
    QString note;
    if (!done(model_.importMap(path, &note)))
        return false;
    writeStatus->setText(note);
    return true;
}

} // namespace varnok
