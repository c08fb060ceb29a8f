#include "windows/poll/poll_window.h"
#include "windows/placement.h"

#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QValueAxis>
#include <cmath>

#include "engine/terminal_engine.h"
#include "logic/modbus/register_map.h"
#include "windows/elided_label.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

constexpr int kRefreshMs = 200;
constexpr int kSpansMin[] = {1, 5, 30};
constexpr std::size_t kMaxRuns = 64; // series per plotted row; older gaps close beyond this

QString clockText(qint64 wallMs) {
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

bool readsBits(int function) {
    return modbus::readsBits(function);
}

// A CSV field, quoted when it must be.
QString csvField(const QString& s) {
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n'))
        return s;
    return u'"' + QString(s).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// The format column offers every format by name.
class FormatDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* box = new QComboBox(parent);
        for (const auto& f : modbus::allFormats())
            box->addItem(fromStd(modbus::formatName(f)));
        // A choice in the open list is taken at once, as Enter takes the shown one.
        auto* self = const_cast<FormatDelegate*>(this);
        connect(box, &QComboBox::activated, self, [self, box] {
            emit self->commitData(box);
            emit self->closeEditor(box, NoHint);
        });
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        box->setCurrentText(index.data().toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText());
    }

  protected:
    // Enter and Tab take the format and leave the cell; Tab opens no value editor, which
    // would be one Enter away from a write.
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QComboBox*>(object);
        if (box && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab ||
                key == Qt::Key_Backtab) {
                emit commitData(box);
                emit closeEditor(box, NoHint);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }
};

// The time with its offset from UTC, as a log read elsewhere needs it.
QString isoTime(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString readOnlyHint(int function) {
    return function == 2 ? QStringLiteral("Discrete inputs are read-only: Modbus has no function "
                                          "that writes them.")
                         : QStringLiteral("Input registers are read-only: Modbus has no function "
                                          "that writes them.");
}

QTableWidgetItem* itemEditableIf(const QString& text, bool editable) {
    auto* item = new QTableWidgetItem(text);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

QTableWidgetItem* readOnlyItem(const QString& text) {
    return itemEditableIf(text, false);
}

} // namespace

PollWindow::PollWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(session.terminal()), master_(session.master()) {
    setObjectName(QStringLiteral("Poll"));
    setWindowTitle(QStringLiteral("Poll - Varnok_Binary"));
    buildControls();
    connect(&master_, &engine::ModbusMaster::done, this, &PollWindow::onDone);
    connect(&master_, &engine::ModbusMaster::cycleDone, this, &PollWindow::onCycle);
    connect(&master_, &engine::ModbusMaster::pollingChanged, this, [this](bool on) {
        pollButton->setText(on ? QStringLiteral("Stop polling") : QStringLiteral("Start polling"));
    });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PollWindow::refresh);
    refresh_.start();
    addRead({{1, 3, 0, 10, {}, {}}, 1000, 1000, 0});
    applyReads();
}

PollWindow::~PollWindow() {
    stopLog();
}

void PollWindow::buildControls() {
    auto* top = new QVBoxLayout(this);

    // Reads: one line each, polled in turn.
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
    pollButton = new QPushButton(QStringLiteral("Start polling"));
    pollButton->setObjectName(QStringLiteral("Cmd_PollStart"));
    for (QPushButton* b : {addReadButton, removeReadButton, applyButton, pollButton})
        readButtons->addWidget(b);
    readsLayout->addLayout(readButtons);
    top->addWidget(readsBox);
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
    top->addLayout(options);
    connect(oneBasedBox, &QCheckBox::toggled, this, &PollWindow::rebuildRows);
    connect(logButton, &QPushButton::clicked, this, &PollWindow::chooseLog);
    connect(saveButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save definitions"), {}, QStringLiteral("Definitions (*.json)"));
        if (!path.isEmpty())
            saveDefinitions(path);
    });
    connect(loadButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Load definitions"), {}, QStringLiteral("Definitions (*.json)"));
        if (!path.isEmpty())
            loadDefinitions(path);
    });
    connect(importButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Import register map"), {},
            QStringLiteral("Register maps (*.csv *.txt);;All files (*)"));
        if (!path.isEmpty())
            importMap(path);
    });

    // The register table and the chart share the rest.
    auto* split = new QSplitter(Qt::Vertical);
    table = new QTableWidget(0, 9);
    table->setObjectName(QStringLiteral("PollTable"));
    table->setHorizontalHeaderLabels(
        {"Station", "Function", "Address", "Name", "Format", "Value", "Raw", "Changed", "Plot"});
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
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
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (column == ColValue && row < int(rows_.size()) &&
            !(table->item(row, column)->flags() & Qt::ItemIsEditable))
            writeStatus->setText(readOnlyHint(rows_[std::size_t(row)].key.function));
    });
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    connect(table, &QTableWidget::itemChanged, this, &PollWindow::onItemChanged);
    split->addWidget(table);

    auto* chartPane = new QWidget;
    auto* chartLayout = new QVBoxLayout(chartPane);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chart_ = new QChart;
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    valueAxis_ = new QValueAxis;
    valueAxis_->setLabelFormat(QStringLiteral("%g"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    chart_->legend()->setAlignment(Qt::AlignRight);
    chartView = new QChartView(chart_);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumHeight(160);
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
    split->addWidget(chartPane);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    top->addWidget(split, 1);
    // Pause holds the view; the rows go on being sampled and show on Resume.
    connect(pauseButton, &QPushButton::clicked, this, [this] {
        paused_ = !paused_;
        pauseButton->setText(paused_ ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        updateChart();
    });
    connect(spanBox, &QComboBox::currentIndexChanged, this, &PollWindow::updateChart);
    connect(savePngButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save chart"), {},
                                                          QStringLiteral("PNG image (*.png)"));
        if (!path.isEmpty())
            saveChart(path);
    });

    readStatus = new ElidedLabel;
    readStatus->setObjectName(QStringLiteral("ReadStatus"));
    writeStatus = new ElidedLabel;
    writeStatus->setObjectName(QStringLiteral("WriteStatus"));
    top->addWidget(readStatus);
    top->addWidget(writeStatus);
    resize(960, 720);
}

void PollWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, QStringLiteral("poll/geometry"), main, size());
}

void PollWindow::hideEvent(QHideEvent* event) {
    rememberPlace(*this, placed_, QStringLiteral("poll/geometry"));
    QWidget::hideEvent(event);
}

void PollWindow::fail(const QString& text) {
    showMessage(this, text);
}

bool PollWindow::saveChart(const QString& chosen) {
    QString path = chosen;
    if (QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".png");
    if (chartView->grab().save(path, "PNG"))
        return true;
    fail(QStringLiteral("The chart could not be saved as %1.").arg(path));
    return false;
}

// ---------------------------------------------------------------- reads

void PollWindow::addRead(const engine::PollRead& r) {
    const int row = readsTable->rowCount();
    readsTable->insertRow(row);
    const int values[] = {r.request.station, r.request.function, r.request.address, r.request.count,
                          r.periodMs,        r.timeoutMs,        r.retries};
    for (int c = 0; c < 7; ++c)
        readsTable->setItem(row, c, itemEditableIf(QString::number(values[c]), true));
}

bool PollWindow::applyReads() {
    std::vector<engine::PollRead> reads;
    try {
        for (int row = 0; row < readsTable->rowCount(); ++row) {
            QStringList fields;
            for (int c = 0; c < engine::kReadFields; ++c)
                fields << readsTable->item(row, c)->text();
            reads.push_back(engine::parseRead(row, fields));
        }
        master_.setReads(reads);
    } catch (const Failure& e) {
        fail(fromStd(e.description()) + QStringLiteral(" Nothing was sent."));
        showReads(master_.reads()); // the table shows what is polled
        return false;
    }
    values_.assign(reads.size(), {});
    rebuildRows();
    return true;
}

void PollWindow::showReads(const std::vector<engine::PollRead>& reads) {
    readsTable->setRowCount(0);
    for (const auto& r : reads)
        addRead(r);
}

void PollWindow::useStation(int station) {
    for (int row = 0; row < readsTable->rowCount(); ++row)
        readsTable->item(row, RdStation)->setText(QString::number(station));
    applyReads();
}

void PollWindow::togglePolling() {
    if (master_.polling()) {
        master_.stop();
        return;
    }
    if (!applyReads())
        return;
    master_.start();
    if (!engine_.isOpen())
        writeStatus->setText(QStringLiteral("Polling starts when the port opens."));
}

// ---------------------------------------------------------------- the register table

QString PollWindow::addressText(int function, int address) const {
    return oneBasedBox->isChecked() ? fromStd(modbus::conventionalAddress(function, address))
                                    : QString::number(address);
}

engine::RowDef PollWindow::defOf(int row) const {
    const auto it = defs_.find(rows_[std::size_t(row)].key);
    return it == defs_.end() ? engine::RowDef{} : it->second;
}

int PollWindow::spanOf(int row) const {
    return engine::rowSpan(defs_, rows_[std::size_t(row)].key);
}

int PollWindow::rowOf(const modbus::RowKey& key) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == key && !table->isRowHidden(int(i)))
            return int(i);
    return -1;
}

QString PollWindow::rowLabel(int row) const {
    return fromStd(modbus::rowLabel(rows_[std::size_t(row)].key, defOf(row).name.toStdString(),
                                    oneBasedBox->isChecked()));
}

// One row per register or coil; a value of several registers shows once, on its first.
void PollWindow::rebuildRows() {
    updating_ = true;
    rows_.clear();
    for (std::size_t i = 0; i < master_.reads().size(); ++i) {
        const auto& q = master_.reads()[i].request;
        for (int k = 0; k < q.count; ++k)
            rows_.push_back({int(i), {q.station, q.function, q.address + k}});
    }
    table->setRowCount(int(rows_.size()));
    int hideUntil = -1;
    int lastRead = -1;
    for (int row = 0; row < int(rows_.size()); ++row) {
        const RowRef& r = rows_[std::size_t(row)];
        const int function = r.key.function;
        const bool bits = readsBits(function);
        const bool writable = function == 1 || function == 3;
        if (r.read != lastRead)
            hideUntil = -1;
        lastRead = r.read;
        const engine::RowDef d = defOf(row);
        table->setItem(row, ColStation, readOnlyItem(QString::number(r.key.station)));
        table->setItem(row, ColFunction,
                       readOnlyItem(QStringLiteral("%1 %2")
                                        .arg(function, 2, 10, QLatin1Char('0'))
                                        .arg(fromStd(modbus::tableTag(function)))));
        table->setItem(row, ColAddress, readOnlyItem(addressText(function, r.key.address)));
        table->setItem(row, ColName, itemEditableIf(d.name, true));
        table->setItem(
            row, ColFormat,
            itemEditableIf(bits ? QStringLiteral("bit") : fromStd(modbus::formatName(d.format)),
                           !bits));
        auto* value = itemEditableIf({}, writable);
        if (!writable)
            value->setToolTip(readOnlyHint(function));
        table->setItem(row, ColValue, value);
        table->setItem(row, ColRaw, readOnlyItem({}));
        table->setItem(row, ColChanged, readOnlyItem({}));
        auto* plot = readOnlyItem({});
        plot->setFlags(plot->flags() | Qt::ItemIsUserCheckable);
        plot->setCheckState(d.plot ? Qt::Checked : Qt::Unchecked);
        table->setItem(row, ColPlot, plot);
        table->setRowHidden(row, row <= hideUntil);
        if (row > hideUntil)
            hideUntil = row + spanOf(row) - 1;
    }
    updating_ = false;
    for (std::size_t i = 0; i < values_.size(); ++i)
        values_[i].dirty = true;
    updateChart();
    refresh();
}

void PollWindow::setRowFormat(int row, const modbus::ValueFormat& format) {
    defs_[rows_[std::size_t(row)].key].format = format;
    rebuildRows();
}

QString PollWindow::valueText(int row, QString* raw) const {
    const RowRef& r = rows_[std::size_t(row)];
    const ReadValues& v = values_[std::size_t(r.read)];
    const auto& q = master_.reads()[std::size_t(r.read)].request;
    const int offset = r.key.address - q.address;
    if (!v.any)
        return {};
    if (readsBits(q.function)) {
        const QString bit = v.bits[std::size_t(offset)] ? QStringLiteral("1") : QStringLiteral("0");
        if (raw)
            *raw = bit;
        return bit;
    }
    const int n = spanOf(row);
    if (offset + n > q.count)
        return QStringLiteral("(needs %1 registers)").arg(n);
    const std::span<const std::uint16_t> regs(v.registers.data() + offset, std::size_t(n));
    if (raw) {
        QStringList hex;
        for (const std::uint16_t x : regs)
            hex << QStringLiteral("%1").arg(x, 4, 16, QLatin1Char('0')).toUpper();
        *raw = hex.join(u' ');
    }
    return fromStd(modbus::formatValue(defOf(row).format, regs));
}

void PollWindow::showRead(int read) {
    ReadValues& v = values_[std::size_t(read)];
    const modbus::PollStatus& s = master_.status(read);
    const QColor ink = s.stale ? palette().color(QPalette::Disabled, QPalette::Text)
                               : palette().color(QPalette::Text);
    const QString staleTip =
        s.stale ? QStringLiteral("Stale: the last poll failed; these values are from %1")
                      .arg(v.goodWallMs ? clockText(v.goodWallMs) : QStringLiteral("no reply yet"))
                : QString();
    updating_ = true;
    for (int row = 0; row < int(rows_.size()); ++row) {
        if (rows_[std::size_t(row)].read != read || table->isRowHidden(row))
            continue;
        QString raw;
        const QString text = valueText(row, &raw);
        // A row's time moves only when one of its registers or its coil reads otherwise.
        const qint64 changed = changes_.changedAt(rows_[std::size_t(row)].key, spanOf(row));
        table->item(row, ColValue)->setText(text);
        table->item(row, ColRaw)->setText(raw);
        table->item(row, ColChanged)->setText(v.any && changed ? clockText(changed) : QString());
        for (const int c : {ColValue, ColRaw, ColChanged}) {
            table->item(row, c)->setForeground(ink);
            if (c != ColValue || table->item(row, c)->flags() & Qt::ItemIsEditable)
                table->item(row, c)->setToolTip(staleTip);
        }
    }
    updating_ = false;
    v.dirty = false;
}

void PollWindow::refresh() {
    QStringList lines;
    for (int i = 0; i < int(values_.size()); ++i) {
        const modbus::PollStatus& s = master_.status(i);
        if (values_[std::size_t(i)].dirty || s.stale)
            showRead(i);
        const auto& q = master_.reads()[std::size_t(i)].request;
        QString line = QStringLiteral("Read %1 (station %2, FC%3 %4 x%5): ")
                           .arg(i + 1)
                           .arg(q.station)
                           .arg(q.function, 2, 10, QLatin1Char('0'))
                           .arg(addressText(q.function, q.address))
                           .arg(q.count);
        line += fromStd(modbus::statusText(s, clockText(s.lastErrorWallMs).toStdString()));
        if (s.stale)
            line += QStringLiteral("  STALE since %1")
                        .arg(s.lastGoodWallMs ? clockText(s.lastGoodWallMs)
                                              : QStringLiteral("the start"));
        lines << line;
    }
    readStatus->setText(lines.join(u'\n'));
    updateChart();
    if (log_.isOpen() && ++logFlushTicks_ >= 1000 / kRefreshMs) {
        logFlushTicks_ = 0;
        if (!log_.flush()) {
            const QString why = log_.errorString();
            stopLog();
            fail(QStringLiteral("The CSV log stopped: %1").arg(why));
        }
    }
}

// ---------------------------------------------------------------- results and writes

void PollWindow::onDone(const engine::PollResult& r) {
    if (!r.read) {
        const auto& q = r.request;
        writeStatus->setText(
            QStringLiteral("%1 write FC%2 at %3: %4")
                .arg(clockText(r.wallMs))
                .arg(q.function, 2, 10, QLatin1Char('0'))
                .arg(addressText(q.function == 5 || q.function == 15 ? 1 : 3, q.address), r.text));
        return;
    }
    if (*r.read >= int(values_.size()))
        return;
    ReadValues& v = values_[std::size_t(*r.read)];
    if (r.ok) {
        v.registers = r.reply.registers;
        v.bits = r.reply.bits;
        v.any = true;
        v.goodWallMs = r.wallMs;
        const auto& q = r.request;
        for (std::size_t k = 0; k < v.registers.size(); ++k)
            changes_.note({q.station, q.function, q.address + int(k)}, v.registers[k], r.wallMs);
        for (std::size_t k = 0; k < v.bits.size(); ++k)
            changes_.note({q.station, q.function, q.address + int(k)}, v.bits[k], r.wallMs);
    }
    sample(r);
    v.dirty = true;
}

// Every plotted row of the read gets a sample, or a gap when the poll failed.
void PollWindow::sample(const engine::PollResult& r) {
    const auto& q = r.request;
    const auto from = defs_.lower_bound({q.station, q.function, q.address});
    const auto to = defs_.lower_bound({q.station, q.function, q.address + q.count});
    for (auto it = from; it != to; ++it) {
        if (!it->second.plot)
            continue;
        modbus::Trace& trace = traces_[it->first];
        const int offset = it->first.address - q.address;
        std::optional<double> number;
        if (r.ok && readsBits(q.function))
            number = r.reply.bits[std::size_t(offset)] ? 1 : 0;
        else if (r.ok && offset + engine::rowSpan(defs_, it->first) <= q.count)
            number = modbus::numericValue(
                it->second.format, std::span(r.reply.registers).subspan(std::size_t(offset)));
        if (number)
            trace.add(r.wallMs, *number);
        else if (!r.ok)
            trace.addGap(r.wallMs);
    }
}

void PollWindow::onItemChanged(QTableWidgetItem* item) {
    if (updating_)
        return;
    const int row = item->row();
    if (row < 0 || row >= int(rows_.size()))
        return;
    const modbus::RowKey key = rows_[std::size_t(row)].key;
    if (item->column() == ColName) {
        defs_[key].name = item->text();
        const auto it = series_.find(key);
        if (it != series_.end() && !it->second.empty())
            it->second.front()->setName(rowLabel(row));
    } else if (item->column() == ColFormat) {
        const auto f = modbus::parseFormatName(item->text().toStdString());
        if (f)
            QMetaObject::invokeMethod(
                this, [this, row, f] { setRowFormat(row, *f); }, Qt::QueuedConnection);
    } else if (item->column() == ColPlot) {
        defs_[key].plot = item->checkState() == Qt::Checked;
        updateChart();
    } else if (item->column() == ColValue) {
        const QString typed = item->text();
        // The row keeps the polled value; a good write shows in the next poll.
        updating_ = true;
        item->setText(valueText(row));
        updating_ = false;
        writeRow(row, typed);
    }
}

void PollWindow::writeRow(int row, const QString& text) {
    const RowRef& r = rows_[std::size_t(row)];
    const engine::PollRead& read = master_.reads()[std::size_t(r.read)];
    modbus::PollRequest q{read.request.station, 0, r.key.address, 1, {}, {}};
    try {
        if (read.request.function == 1) {
            const QString t = text.trimmed().toLower();
            if (t != "0" && t != "1" && t != "on" && t != "off")
                throw modbus::ValueFailure("\"" + text.left(40).toStdString() +
                                           "\" is not a coil value (0, 1, on or off).");
            q.bits = {t == "1" || t == "on"};
            q.function = always16Box->isChecked() ? 15 : 5;
        } else {
            q.registers = modbus::parseValue(defOf(row).format, text.toStdString());
            q.count = int(q.registers.size());
            q.function = q.registers.size() == 1 && !always16Box->isChecked() ? 6 : 16;
        }
        master_.write(q, read.timeoutMs, read.retries);
        writeStatus->setText(
            QStringLiteral("Writing %1 to %2...").arg(text.left(40), rowLabel(row)));
    } catch (const Failure& e) {
        QString why = fromStd(e.description());
        if (!why.endsWith(QLatin1String("Nothing was sent.")))
            why += QStringLiteral(" Nothing was sent.");
        fail(why);
    }
}

// ---------------------------------------------------------------- chart

void PollWindow::updateChart() {
    // Rows no longer plotted or shown leave the chart.
    for (auto it = series_.begin(); it != series_.end();) {
        const auto d = defs_.find(it->first);
        if (d != defs_.end() && d->second.plot && rowOf(it->first) >= 0) {
            ++it;
            continue;
        }
        for (QLineSeries* s : it->second) {
            chart_->removeSeries(s);
            delete s;
        }
        it = series_.erase(it);
    }
    if (paused_)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = now - qint64(kSpansMin[std::max(0, spanBox->currentIndex())]) * 60000;
    double lo = INFINITY, hi = -INFINITY;
    for (const auto& [key, d] : defs_) {
        const int row = d.plot ? rowOf(key) : -1;
        if (row < 0)
            continue;
        const auto runs = traces_[key].runs(from, kMaxRuns);
        std::vector<QLineSeries*>& series = series_[key];
        while (series.size() < std::max<std::size_t>(runs.size(), 1)) {
            auto* s = new QLineSeries;
            chart_->addSeries(s);
            s->attachAxis(timeAxis_);
            s->attachAxis(valueAxis_);
            if (series.empty()) {
                s->setName(rowLabel(row));
            } else {
                // One colour and one legend entry for all runs of a row.
                s->setPen(series.front()->pen());
                for (QLegendMarker* m : chart_->legend()->markers(s))
                    m->setVisible(false);
            }
            series.push_back(s);
        }
        for (std::size_t i = 0; i < series.size(); ++i) {
            QList<QPointF> points;
            if (i < runs.size())
                for (const auto& [ms, value] : runs[i]) {
                    points.append(QPointF(double(ms), value));
                    lo = std::min(lo, value);
                    hi = std::max(hi, value);
                }
            series[i]->replace(points);
        }
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(now));
    if (std::isfinite(lo)) {
        // About one label per 40 pixels of plot: crowded labels would show as "...".
        const int steps = std::clamp(int(chart_->plotArea().height()) / 40, 1, 5);
        const modbus::Scale scale = modbus::roundScale(lo, hi, steps);
        valueAxis_->setRange(scale.lo, scale.hi);
        valueAxis_->setTickCount(scale.ticks + 1);
    }
}

qsizetype PollWindow::chartPoints(int row) const {
    const auto it = series_.find(rows_[std::size_t(row)].key);
    qsizetype n = 0;
    if (it != series_.end())
        for (const QLineSeries* s : it->second)
            n += s->count();
    return n;
}

// ---------------------------------------------------------------- CSV log

void PollWindow::chooseLog() {
    if (logging()) {
        stopLog();
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Log to CSV"), {},
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty())
        startLog(path);
}

bool PollWindow::startLog(const QString& path) {
    stopLog();
    log_.setFileName(path);
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        fail(QStringLiteral("The CSV log cannot be written to %1: %2")
                 .arg(path, log_.errorString()));
        return false;
    }
    QStringList header{QStringLiteral("time")};
    for (int row = 0; row < int(rows_.size()); ++row)
        if (!table->isRowHidden(row))
            header << csvField(rowLabel(row));
    log_.write((header.join(u',') + u'\n').toUtf8());
    logButton->setText(QStringLiteral("Stop log"));
    return true;
}

void PollWindow::stopLog() {
    if (!log_.isOpen())
        return;
    log_.close();
    logButton->setText(QStringLiteral("Log CSV..."));
}

// One line per completed poll of the whole list: the time, then each row's value.
void PollWindow::onCycle() {
    if (!log_.isOpen())
        return;
    QStringList fields{isoTime(QDateTime::currentDateTime())};
    for (int row = 0; row < int(rows_.size()); ++row)
        if (!table->isRowHidden(row))
            fields << (master_.status(rows_[std::size_t(row)].read).stale
                           ? QString()
                           : csvField(valueText(row)));
    if (log_.write((fields.join(u',') + u'\n').toUtf8()) < 0) {
        const QString why = log_.errorString();
        stopLog();
        fail(QStringLiteral("The CSV log stopped: %1").arg(why));
    }
}

// ---------------------------------------------------------------- definitions

bool PollWindow::saveDefinitions(const QString& path) {
    engine::PollSetup setup{master_.reads(), defs_, oneBasedBox->isChecked(),
                            always16Box->isChecked()};
    QFile f(path);
    const QByteArray text = engine::definitionsJson(setup);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() ||
        !f.flush()) {
        fail(
            QStringLiteral("The definitions cannot be saved to %1: %2").arg(path, f.errorString()));
        return false;
    }
    return true;
}

bool PollWindow::loadDefinitions(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()));
        return false;
    }
    engine::PollSetup setup;
    try {
        setup = engine::parseDefinitions(f.readAll());
        master_.setReads(setup.reads);
    } catch (const Failure& e) {
        fail(QStringLiteral("%1 is not a definitions file: %2. Nothing was changed.")
                 .arg(QFileInfo(path).fileName(), fromStd(e.description())));
        return false;
    }
    showReads(setup.reads);
    defs_ = setup.rows;
    {
        const QSignalBlocker quiet(oneBasedBox); // one rebuild below
        oneBasedBox->setChecked(setup.oneBased);
    }
    always16Box->setChecked(setup.always16);
    values_.assign(setup.reads.size(), {});
    rebuildRows();
    return true;
}

bool PollWindow::importMap(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()));
        return false;
    }
    int applied = 0;
    std::size_t entries = 0;
    try {
        const auto map = modbus::parseRegisterMap(f.readAll().toStdString());
        entries = map.size();
        applied = engine::applyMap(map, master_.reads(), defs_);
    } catch (const Failure& e) {
        fail(QStringLiteral("%1 is not a register map: %2 Nothing was imported.")
                 .arg(QFileInfo(path).fileName(), fromStd(e.description())));
        return false;
    }
    rebuildRows();
    writeStatus->setText(QStringLiteral("%1: %2 of %3 entries fall in the reads.")
                             .arg(QFileInfo(path).fileName())
                             .arg(applied)
                             .arg(entries));
    return true;
}

} // namespace varnok
