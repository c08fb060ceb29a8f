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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QValueAxis>
#include <cmath>

#include "engine/terminal_engine.h"
#include "logic/modbus/register_map.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

constexpr int kRefreshMs = 200;
constexpr int kLeastWidthBeside = 600; // narrower than this it covers the terminal instead
constexpr qsizetype kMaxPoints = 9000; // 30 minutes at one point per refresh
constexpr int kSpansMin[] = {1, 5, 30};

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
};

QTableWidgetItem* cell(const QString& text, bool editable = false) {
    auto* item = new QTableWidgetItem(text);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

} // namespace

PollWindow::PollWindow(engine::TerminalEngine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(engine), master_(engine) {
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
    oneBasedBox = new QCheckBox(QStringLiteral("Addresses 1-based (00001, 10001, 30001, 40001)"));
    always16Box = new QCheckBox(QStringLiteral("Always write with 16 (coils with 15)"));
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
    table = new QTableWidget(0, 7);
    table->setObjectName(QStringLiteral("PollTable"));
    table->setHorizontalHeaderLabels(
        {"Address", "Name", "Format", "Value", "Raw", "Changed", "Plot"});
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
    table->setItemDelegateForColumn(ColFormat, new FormatDelegate(table));
    table->setFont(fixedFont(9));
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
    connect(pauseButton, &QPushButton::clicked, this, [this] {
        paused_ = !paused_;
        pauseButton->setText(paused_ ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    });
    connect(spanBox, &QComboBox::currentIndexChanged, this, &PollWindow::updateChart);
    connect(savePngButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save chart"), {},
                                                          QStringLiteral("PNG image (*.png)"));
        if (!path.isEmpty() && !chartView->grab().save(path, "PNG"))
            fail(QStringLiteral("The chart could not be saved as %1.").arg(path));
    });

    readStatus = new QLabel;
    readStatus->setObjectName(QStringLiteral("ReadStatus"));
    readStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    writeStatus = new QLabel;
    writeStatus->setObjectName(QStringLiteral("WriteStatus"));
    top->addWidget(readStatus);
    top->addWidget(writeStatus);
    resize(860, 720);
}

void PollWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, QStringLiteral("poll/geometry"), main, size(), kLeastWidthBeside);
}

void PollWindow::hideEvent(QHideEvent* event) {
    rememberPlace(*this, placed_, QStringLiteral("poll/geometry"));
    QWidget::hideEvent(event);
}

void PollWindow::fail(const QString& text) {
    showMessage(this, text);
}

// ---------------------------------------------------------------- reads

void PollWindow::addRead(const engine::PollRead& r) {
    const int row = readsTable->rowCount();
    readsTable->insertRow(row);
    const int values[] = {r.request.station, r.request.function, r.request.address, r.request.count,
                          r.periodMs,        r.timeoutMs,        r.retries};
    for (int c = 0; c < 7; ++c)
        readsTable->setItem(row, c, cell(QString::number(values[c]), true));
}

bool PollWindow::applyReads() {
    static const char* const kNames[] = {"station", "function", "address", "count",
                                         "period",  "timeout",  "retries"};
    std::vector<engine::PollRead> reads;
    for (int row = 0; row < readsTable->rowCount(); ++row) {
        int v[7];
        for (int c = 0; c < 7; ++c) {
            bool ok = false;
            const QString text = readsTable->item(row, c)->text().trimmed();
            v[c] = text.toInt(&ok);
            if (!ok || v[c] < 0 || (c == RdRetries && v[c] > engine::ModbusMaster::kMaxRetries) ||
                (c >= RdPeriod && v[c] > 3600000)) {
                fail(QStringLiteral("Read %1: the %2 \"%3\" is not a whole number%4. Nothing "
                                    "was sent.")
                         .arg(row + 1)
                         .arg(kNames[c], text.left(40),
                              c == RdRetries ? QStringLiteral(" from 0 to 3") : QString()));
                return false;
            }
        }
        reads.push_back({{v[RdStation], v[RdFunction], v[RdAddress], v[RdCount], {}, {}},
                         v[RdPeriod],
                         std::max(v[RdTimeout], 1),
                         v[RdRetries]});
    }
    try {
        master_.setReads(reads);
    } catch (const Failure& e) {
        fail(fromStd(e.description()));
        return false;
    }
    values_.assign(reads.size(), {});
    rebuildRows();
    return true;
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

PollWindow::RowDef& PollWindow::defOf(int row) {
    const RowRef& r = rows_[std::size_t(row)];
    return defs_[key(master_.reads()[std::size_t(r.read)].request.function, r.address)];
}

const PollWindow::RowDef* PollWindow::findDef(int row) const {
    const RowRef& r = rows_[std::size_t(row)];
    const auto it =
        defs_.find(key(master_.reads()[std::size_t(r.read)].request.function, r.address));
    return it == defs_.end() ? nullptr : &*it;
}

int PollWindow::spanOf(int row) const {
    const RowRef& r = rows_[std::size_t(row)];
    if (readsBits(master_.reads()[std::size_t(r.read)].request.function))
        return 1;
    const RowDef* d = findDef(row);
    return d ? modbus::registerCount(d->format.type) : 1;
}

int PollWindow::rowOf(int function, int address) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].address == address &&
            master_.reads()[std::size_t(rows_[i].read)].request.function == function &&
            !table->isRowHidden(int(i)))
            return int(i);
    return -1;
}

QString PollWindow::rowLabel(int row) const {
    const RowDef* d = findDef(row);
    if (d && !d->name.isEmpty())
        return d->name;
    const RowRef& r = rows_[std::size_t(row)];
    return addressText(master_.reads()[std::size_t(r.read)].request.function, r.address);
}

// One row per register or coil; a value of several registers shows once, on its first.
void PollWindow::rebuildRows() {
    updating_ = true;
    rows_.clear();
    for (std::size_t i = 0; i < master_.reads().size(); ++i) {
        const auto& q = master_.reads()[i].request;
        for (int k = 0; k < q.count; ++k)
            rows_.push_back({int(i), q.address + k});
    }
    table->setRowCount(int(rows_.size()));
    int hideUntil = -1;
    int lastRead = -1;
    for (int row = 0; row < int(rows_.size()); ++row) {
        const RowRef& r = rows_[std::size_t(row)];
        const int function = master_.reads()[std::size_t(r.read)].request.function;
        const bool bits = readsBits(function);
        const bool writable = function == 1 || function == 3;
        if (r.read != lastRead)
            hideUntil = -1;
        lastRead = r.read;
        const RowDef* d = findDef(row);
        table->setItem(row, ColAddress, cell(addressText(function, r.address)));
        table->setItem(row, ColName, cell(d ? d->name : QString(), true));
        table->setItem(
            row, ColFormat,
            cell(bits ? QStringLiteral("bit")
                      : fromStd(modbus::formatName(d ? d->format : modbus::ValueFormat{})),
                 !bits));
        table->setItem(row, ColValue, cell({}, writable));
        table->setItem(row, ColRaw, cell({}));
        table->setItem(row, ColChanged, cell({}));
        auto* plot = cell({});
        plot->setFlags(plot->flags() | Qt::ItemIsUserCheckable);
        plot->setCheckState(d && d->plot ? Qt::Checked : Qt::Unchecked);
        table->setItem(row, ColPlot, plot);
        table->setRowHidden(row, row <= hideUntil);
        if (row > hideUntil)
            hideUntil = row + spanOf(row) - 1;
    }
    updating_ = false;
    for (std::size_t i = 0; i < values_.size(); ++i)
        values_[i].dirty = true;
    // Series of rows no longer plotted or shown leave the chart.
    for (auto it = series_.begin(); it != series_.end();) {
        const RowDef* d = nullptr;
        const auto found = defs_.find(it.key());
        if (found != defs_.end())
            d = &*found;
        const int row = rowOf(int(it.key() >> 16), int(it.key() & 0xFFFF));
        if (!d || !d->plot || row < 0) {
            chart_->removeSeries(*it);
            delete *it;
            it = series_.erase(it);
        } else {
            (*it)->setName(rowLabel(row));
            ++it;
        }
    }
    refresh();
}

void PollWindow::setRowFormat(int row, const modbus::ValueFormat& format) {
    defOf(row).format = format;
    rebuildRows();
}

QString PollWindow::valueText(int row, QString* raw, double* number) const {
    const RowRef& r = rows_[std::size_t(row)];
    const ReadValues& v = values_[std::size_t(r.read)];
    const auto& q = master_.reads()[std::size_t(r.read)].request;
    const int offset = r.address - q.address;
    if (number)
        *number = NAN;
    if (!v.any)
        return {};
    if (readsBits(q.function)) {
        const bool bit = v.bits[std::size_t(offset)];
        if (raw)
            *raw = bit ? QStringLiteral("1") : QStringLiteral("0");
        if (number)
            *number = bit;
        return bit ? QStringLiteral("1") : QStringLiteral("0");
    }
    const int n = spanOf(row);
    if (offset + n > q.count)
        return QStringLiteral("(needs %1 registers)").arg(n);
    const RowDef* d = findDef(row);
    const modbus::ValueFormat f = d ? d->format : modbus::ValueFormat{};
    const std::span<const std::uint16_t> regs(v.registers.data() + offset, std::size_t(n));
    if (raw) {
        QStringList hex;
        for (const std::uint16_t x : regs)
            hex << QStringLiteral("%1").arg(x, 4, 16, QLatin1Char('0')).toUpper();
        *raw = hex.join(u' ');
    }
    const std::string text = modbus::formatValue(f, regs);
    if (number) {
        if (f.type == modbus::ValueType::Hex16 || f.type == modbus::ValueType::Bin16)
            *number = regs[0];
        else if (f.type != modbus::ValueType::AsciiHiFirst &&
                 f.type != modbus::ValueType::AsciiLoFirst)
            *number = std::strtod(text.c_str(), nullptr);
    }
    return fromStd(text);
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
    const QString now = clockText(QDateTime::currentMSecsSinceEpoch());
    updating_ = true;
    for (int row = 0; row < int(rows_.size()); ++row) {
        if (rows_[std::size_t(row)].read != read || table->isRowHidden(row))
            continue;
        QString raw;
        const QString text = valueText(row, &raw);
        QTableWidgetItem* value = table->item(row, ColValue);
        if (value->text() != text) {
            if (!value->text().isEmpty() || !text.isEmpty())
                table->item(row, ColChanged)->setText(now);
            value->setText(text);
            table->item(row, ColRaw)->setText(raw);
        }
        for (const int c : {ColValue, ColRaw, ColChanged}) {
            table->item(row, c)->setForeground(ink);
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
    if (r.read == -1) {
        const auto& q = r.request;
        writeStatus->setText(
            QStringLiteral("%1 write FC%2 at %3: %4")
                .arg(clockText(r.wallMs))
                .arg(q.function, 2, 10, QLatin1Char('0'))
                .arg(addressText(q.function == 5 || q.function == 15 ? 1 : 3, q.address), r.text));
        return;
    }
    if (r.read < 0 || r.read >= int(values_.size()))
        return;
    ReadValues& v = values_[std::size_t(r.read)];
    if (r.ok) {
        v.registers = r.reply.registers;
        v.bits = r.reply.bits;
        v.any = true;
        v.goodWallMs = r.wallMs;
    }
    v.dirty = true;
}

void PollWindow::onItemChanged(QTableWidgetItem* item) {
    if (updating_)
        return;
    const int row = item->row();
    if (row < 0 || row >= int(rows_.size()))
        return;
    if (item->column() == ColName) {
        defOf(row).name = item->text();
        if (auto* s = series_.value(
                key(master_.reads()[std::size_t(rows_[std::size_t(row)].read)].request.function,
                    rows_[std::size_t(row)].address)))
            s->setName(rowLabel(row));
    } else if (item->column() == ColFormat) {
        const auto f = modbus::parseFormatName(item->text().toStdString());
        if (f)
            QMetaObject::invokeMethod(
                this, [this, row, f] { setRowFormat(row, *f); }, Qt::QueuedConnection);
    } else if (item->column() == ColPlot) {
        defOf(row).plot = item->checkState() == Qt::Checked;
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
    modbus::PollRequest q{read.request.station, 0, r.address, 1, {}, {}};
    try {
        if (read.request.function == 1) {
            const QString t = text.trimmed().toLower();
            if (t != "0" && t != "1" && t != "on" && t != "off")
                throw modbus::ValueFailure("\"" + text.left(40).toStdString() +
                                           "\" is not a coil value (0, 1, on or off).");
            q.bits = {t == "1" || t == "on"};
            q.function = always16Box->isChecked() ? 15 : 5;
        } else {
            const RowDef* d = findDef(row);
            q.registers =
                modbus::parseValue(d ? d->format : modbus::ValueFormat{}, text.toStdString());
            q.count = int(q.registers.size());
            q.function = q.registers.size() == 1 && !always16Box->isChecked() ? 6 : 16;
        }
        master_.write(q, read.timeoutMs, read.retries);
        writeStatus->setText(
            QStringLiteral("Writing %1 to %2...").arg(text.left(40), rowLabel(row)));
    } catch (const Failure& e) {
        fail(fromStd(e.description()) + QStringLiteral(" Nothing was sent."));
    }
}

// ---------------------------------------------------------------- chart

void PollWindow::updateChart() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 spanMs = qint64(kSpansMin[std::max(0, spanBox->currentIndex())]) * 60000;
    for (int row = 0; row < int(rows_.size()); ++row) {
        if (table->isRowHidden(row))
            continue;
        const RowDef* d = findDef(row);
        const RowRef& r = rows_[std::size_t(row)];
        const quint32 k = key(master_.reads()[std::size_t(r.read)].request.function, r.address);
        QLineSeries* s = series_.value(k);
        if (!d || !d->plot) {
            if (s) {
                chart_->removeSeries(s);
                delete s;
                series_.remove(k);
            }
            continue;
        }
        if (!s) {
            s = new QLineSeries;
            s->setName(rowLabel(row));
            chart_->addSeries(s);
            s->attachAxis(timeAxis_);
            s->attachAxis(valueAxis_);
            series_.insert(k, s);
        }
        double number = NAN;
        valueText(row, nullptr, &number);
        if (!paused_ && std::isfinite(number) && !master_.status(r.read).stale)
            s->append(double(now), number);
        // Bounded: the longest span at one point per refresh.
        if (s->count() > kMaxPoints)
            s->removePoints(0, int(s->count() - kMaxPoints));
    }
    if (paused_)
        return;
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(now - spanMs),
                        QDateTime::fromMSecsSinceEpoch(now));
    double lo = INFINITY, hi = -INFINITY;
    for (const QLineSeries* s : std::as_const(series_))
        for (const QPointF& p : s->points())
            if (p.x() >= double(now - spanMs)) {
                lo = std::min(lo, p.y());
                hi = std::max(hi, p.y());
            }
    if (std::isfinite(lo)) {
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
        valueAxis_->setRange(lo - pad, hi + pad);
    }
}

qsizetype PollWindow::chartPoints(int row) const {
    const RowRef& r = rows_[std::size_t(row)];
    const QLineSeries* s =
        series_.value(key(master_.reads()[std::size_t(r.read)].request.function, r.address));
    return s ? s->count() : 0;
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
    QStringList fields{QDateTime::currentDateTime().toString(Qt::ISODateWithMs)};
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
    QJsonArray reads, rows;
    for (int row = 0; row < readsTable->rowCount(); ++row) {
        QJsonObject o;
        static const char* const kKeys[] = {"station",   "function",   "address", "count",
                                            "period_ms", "timeout_ms", "retries"};
        for (int c = 0; c < 7; ++c)
            o[kKeys[c]] = readsTable->item(row, c)->text().trimmed().toInt();
        reads.append(o);
    }
    for (auto it = defs_.begin(); it != defs_.end(); ++it) {
        if (it->name.isEmpty() && it->format == modbus::ValueFormat{} && !it->plot)
            continue;
        rows.append(QJsonObject{{"function", int(it.key() >> 16)},
                                {"address", int(it.key() & 0xFFFF)},
                                {"name", it->name},
                                {"format", fromStd(modbus::formatName(it->format))},
                                {"plot", it->plot}});
    }
    QFile f(path);
    const QByteArray text = QJsonDocument(QJsonObject{{"reads", reads},
                                                      {"rows", rows},
                                                      {"one_based", oneBasedBox->isChecked()},
                                                      {"always_16", always16Box->isChecked()}})
                                .toJson();
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
    const QByteArray text = f.readAll();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    const auto bad = [&](const QString& why) {
        fail(QStringLiteral("%1 is not a definitions file: %2. Nothing was changed.")
                 .arg(QFileInfo(path).fileName(), why));
        return false;
    };
    if (doc.isNull())
        return bad(QStringLiteral("line %1: %2")
                       .arg(text.left(error.offset).count('\n') + 1)
                       .arg(error.errorString()));
    if (!doc.isObject() || !doc.object().value("reads").isArray())
        return bad(QStringLiteral("it has no list of \"reads\""));
    static const char* const kKeys[] = {"station",   "function",   "address", "count",
                                        "period_ms", "timeout_ms", "retries"};
    std::vector<engine::PollRead> reads;
    const QJsonArray readList = doc.object().value("reads").toArray();
    for (qsizetype i = 0; i < readList.size(); ++i) {
        int v[7];
        for (int c = 0; c < 7; ++c) {
            const QJsonValue x = readList[i].toObject().value(kKeys[c]);
            if (!x.isDouble() || x.toDouble() != std::floor(x.toDouble()))
                return bad(QStringLiteral("read %1: \"%2\" is missing or not a whole number")
                               .arg(i + 1)
                               .arg(kKeys[c]));
            v[c] = x.toInt();
        }
        reads.push_back({{v[0], v[1], v[2], v[3], {}, {}}, v[4], v[5], v[6]});
    }
    QHash<quint32, RowDef> defs;
    const QJsonArray rowList = doc.object().value("rows").toArray();
    for (qsizetype i = 0; i < rowList.size(); ++i) {
        const QJsonObject o = rowList[i].toObject();
        const auto format = modbus::parseFormatName(o.value("format").toString().toStdString());
        const int function = o.value("function").toInt(-1), address = o.value("address").toInt(-1);
        if (function < 1 || function > 4 || address < 0 || address > 65535)
            return bad(QStringLiteral("row %1: \"function\" (1-4) or \"address\" (0-65535) is "
                                      "missing or out of range")
                           .arg(i + 1));
        if (!format)
            return bad(QStringLiteral("row %1: unknown format \"%2\"")
                           .arg(i + 1)
                           .arg(o.value("format").toString().left(40)));
        defs.insert(key(function, address),
                    {o.value("name").toString(), *format, o.value("plot").toBool()});
    }
    try {
        master_.setReads(reads);
    } catch (const Failure& e) {
        return bad(fromStd(e.description()));
    }
    readsTable->setRowCount(0);
    for (const auto& r : reads)
        addRead(r);
    defs_ = defs;
    oneBasedBox->setChecked(doc.object().value("one_based").toBool());
    always16Box->setChecked(doc.object().value("always_16").toBool());
    values_.assign(reads.size(), {});
    rebuildRows();
    return true;
}

bool PollWindow::importMap(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()));
        return false;
    }
    std::vector<modbus::MapEntry> entries;
    try {
        entries = modbus::parseRegisterMap(f.readAll().toStdString());
    } catch (const Failure& e) {
        fail(QStringLiteral("%1 is not a register map: %2 Nothing was imported.")
                 .arg(QFileInfo(path).fileName(), fromStd(e.description())));
        return false;
    }
    // An address without a table prefix names the register in every read that holds it.
    int applied = 0;
    for (const modbus::MapEntry& e : entries) {
        for (const engine::PollRead& r : master_.reads()) {
            const auto& q = r.request;
            if ((e.function && e.function != q.function) || e.address < q.address ||
                e.address >= q.address + q.count)
                continue;
            RowDef& d = defs_[key(q.function, e.address)];
            d.name = QString::fromStdString(e.name);
            if (e.format && !readsBits(q.function))
                d.format = *e.format;
            ++applied;
        }
    }
    rebuildRows();
    writeStatus->setText(QStringLiteral("%1: %2 of %3 entries fall in the reads.")
                             .arg(QFileInfo(path).fileName())
                             .arg(applied)
                             .arg(entries.size()));
    return true;
}

} // namespace varnok
