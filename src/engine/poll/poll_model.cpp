#include "engine/poll/poll_model.h"

#include <QDateTime>
#include <QFileInfo>

#include "logic/modbus/function_code.h"
#include "logic/modbus/register_map.h"

namespace varnok::engine {

namespace {

QString clockText(qint64 wallMs) {
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

// A CSV field, quoted when it must be.
QString csvField(const QString& s) {
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n'))
        return s;
    return u'"' + QString(s).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// The time with its offset from UTC, as a log read elsewhere needs it.
QString isoTime(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// Coils and holding registers; inputs of either kind have no write function.
bool writable(int function) {
    return function == modbus::code(modbus::Function::ReadCoils) ||
           function == modbus::code(modbus::Function::ReadHoldingRegisters);
}

} // namespace

PollModel::PollModel(ModbusMaster& master, QObject* parent)
    : QAbstractTableModel(parent), master_(master) {
    connect(&master_, &ModbusMaster::done, this, &PollModel::onDone);
    connect(&master_, &ModbusMaster::cycleDone, this, &PollModel::logCycle);
    connect(&master_, &ModbusMaster::waitingForLine, this,
            [this](const QString& holder) { waitingFor_ = holder; });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PollModel::refresh);
    refresh_.start();
    rebuildRows();
}

PollModel::~PollModel() {
    stopLog();
}

QString PollModel::readOnlyHint(int function) {
    return function == modbus::code(modbus::Function::ReadDiscreteInputs)
               ? QStringLiteral("Discrete inputs are read-only: Modbus has no function "
                                "that writes them.")
               : QStringLiteral("Input registers are read-only: Modbus has no function "
                                "that writes them.");
}

// ---------------------------------------------------------------- reads and rows

Outcome PollModel::setReads(const std::vector<PollRead>& reads) {
    if (Outcome taken = master_.setReads(reads); !taken)
        return taken;
    values_.assign(reads.size(), {});
    rebuildRows();
    return {};
}

Outcome PollModel::setTypedReads(const std::vector<QStringList>& typed) {
    std::vector<PollRead> reads;
    try {
        for (std::size_t i = 0; i < typed.size(); ++i)
            reads.push_back(parseRead(int(i), typed[i]));
    } catch (const Failure& e) {
        return Outcome::failed(fromStd(e.description()) + QStringLiteral(" Nothing was sent."));
    }
    if (const Outcome taken = setReads(reads); !taken)
        return Outcome::failed(taken.failure() + QStringLiteral(" Nothing was sent."));
    return {};
}

void PollModel::setOneBased(bool on) {
    oneBased_ = on;
    if (!rows_.empty())
        emit dataChanged(index(0, ColAddress), index(rowCount() - 1, ColAddress));
}

// One row per register or coil; a value of several registers shows on its first, covering
// the rest. The same rows keep the view's selection; other rows reset it.
void PollModel::rebuildRows() {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < master_.reads().size(); ++i) {
        const auto& q = master_.reads()[i].request;
        int coverUntil = -1;
        for (int k = 0; k < q.count; ++k) {
            const modbus::RowKey key{q.station, q.function, q.address + k};
            rows.push_back({int(i), key, q.address + k <= coverUntil});
            if (!rows.back().covered)
                coverUntil = key.address + rowSpan(defs_, key) - 1;
        }
    }
    values_.resize(master_.reads().size());
    const bool same = std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(),
                                 [](const Row& a, const Row& b) { return a.key == b.key; });
    if (same) {
        emit layoutAboutToBeChanged();
        rows_ = std::move(rows);
        emit layoutChanged();
    } else {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    for (ReadValues& v : values_)
        v.dirty = true;
    refresh();
}

int PollModel::rowOf(const modbus::RowKey& key) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == key && !rows_[i].covered)
            return int(i);
    return -1;
}

void PollModel::setRowFormat(int row, const modbus::ValueFormat& format) {
    defs_[keyOf(row)].format = format;
    rebuildRows();
}

RowDef PollModel::defOf(int row) const {
    const auto it = defs_.find(keyOf(row));
    return it == defs_.end() ? RowDef{} : it->second;
}

QString PollModel::addressText(int function, int address) const {
    return oneBased_ ? fromStd(modbus::conventionalAddress(function, address))
                     : QString::number(address);
}

QString PollModel::rowLabel(int row) const {
    return fromStd(modbus::rowLabel(keyOf(row), defOf(row).name.toStdString(), oneBased_));
}

const modbus::Trace* PollModel::trace(const modbus::RowKey& key) const {
    const auto it = traces_.find(key);
    return it == traces_.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------- values

QString PollModel::valueText(int row, QString* raw) const {
    return text(values_[std::size_t(rows_[std::size_t(row)].read)].shown, row, raw);
}

QString PollModel::text(const Values& v, int row, QString* raw) const {
    const Row& r = rows_[std::size_t(row)];
    const auto& q = master_.reads()[std::size_t(r.read)].request;
    const int offset = r.key.address - q.address;
    if (!v.any)
        return {};
    if (modbus::readsBits(q.function)) {
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

bool PollModel::stale(int row) const {
    return master_.status(rows_[std::size_t(row)].read).stale;
}

QString PollModel::statusText() const {
    QStringList lines;
    if (!waitingFor_.isEmpty())
        lines << QStringLiteral("Polling waits for %1: it goes on by itself when that ends.")
                     .arg(waitingFor_);
    for (int i = 0; i < int(master_.reads().size()); ++i) {
        const modbus::PollStatus& s = master_.status(i);
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
    return lines.join(u'\n');
}

// New values and stale ones reach the view a few times a second, not once per reply.
void PollModel::refresh() {
    int first = 0;
    for (int i = 0; i < int(values_.size()); ++i) {
        int last = first;
        while (last < int(rows_.size()) && rows_[std::size_t(last)].read == i)
            ++last;
        ReadValues& v = values_[std::size_t(i)];
        if (v.dirty) {
            v.shown = v.latest;
            for (int row = first; row < last; ++row)
                rows_[std::size_t(row)].changedMs = changes_.changedAt(keyOf(row), spanOf(row));
        }
        if ((v.dirty || master_.status(i).stale) && last > first)
            emit dataChanged(index(first, ColValue), index(last - 1, ColChanged));
        v.dirty = false;
        first = last;
    }
    if (log_.isOpen() && ++logFlushTicks_ >= 1000 / kRefreshMs) {
        logFlushTicks_ = 0;
        if (!log_.flush())
            failLog();
    }
}

void PollModel::onDone(const PollResult& r) {
    if (!r.read) {
        const auto& q = r.request;
        emit writeNoted(
            QStringLiteral("%1 write FC%2 at %3: %4")
                .arg(clockText(r.wallMs))
                .arg(q.function, 2, 10, QLatin1Char('0'))
                .arg(addressText(modbus::code(modbus::writesBits(q.function)
                                                  ? modbus::Function::ReadCoils
                                                  : modbus::Function::ReadHoldingRegisters),
                                 q.address),
                     r.text));
        return;
    }
    if (*r.read >= int(values_.size()))
        return;
    ReadValues& read = values_[std::size_t(*r.read)];
    Values& v = read.latest;
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
    read.dirty = true;
}

// Every plotted row of the read gets a sample from the values read, or a gap when the poll
// failed.
void PollModel::sample(const PollResult& r) {
    const auto& q = r.request;
    const auto from = defs_.lower_bound({q.station, q.function, q.address});
    const auto to = defs_.lower_bound({q.station, q.function, q.address + q.count});
    for (auto it = from; it != to; ++it) {
        if (!it->second.plot)
            continue;
        modbus::Trace& trace = traces_[it->first];
        const int offset = it->first.address - q.address;
        std::optional<double> number;
        if (r.ok && modbus::readsBits(q.function))
            number = r.reply.bits[std::size_t(offset)] ? 1 : 0;
        else if (r.ok && offset + rowSpan(defs_, it->first) <= q.count)
            number = modbus::numericValue(
                it->second.format, std::span(r.reply.registers).subspan(std::size_t(offset)));
        if (number)
            trace.add(r.wallMs, *number);
        else if (!r.ok)
            trace.addGap(r.wallMs);
    }
}

Outcome PollModel::write(int row, const QString& text) {
    const Row& r = rows_[std::size_t(row)];
    const PollRead& read = master_.reads()[std::size_t(r.read)];
    Outcome queued;
    try {
        queued = master_.write(
            modbus::writeRequest(r.key, defOf(row).format, text.toStdString(), always16_),
            read.timeoutMs, read.retries);
    } catch (const Failure& e) {
        queued = Outcome::failed(fromStd(e.description()));
    }
    if (!queued) {
        QString why = queued.failure();
        if (!why.endsWith(QLatin1String("Nothing was sent.")))
            why += QStringLiteral(" Nothing was sent.");
        return Outcome::failed(why);
    }
    emit writeNoted(QStringLiteral("Writing %1 to %2...").arg(text.left(40), rowLabel(row)));
    return {};
}

// ---------------------------------------------------------------- the table

int PollModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int PollModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PollModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const names[ColumnCount] = {
        "Station", "Function", "Address", "Name", "Format", "Value", "Raw", "Changed", "Plot"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return QString::fromLatin1(names[section]);
    return {};
}

Qt::ItemFlags PollModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!index.isValid())
        return f;
    const int function = keyOf(index.row()).function;
    const bool editable = index.column() == ColName ||
                          (index.column() == ColFormat && !modbus::readsBits(function)) ||
                          (index.column() == ColValue && writable(function));
    if (editable)
        f |= Qt::ItemIsEditable;
    if (index.column() == ColPlot)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant PollModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row(), column = index.column();
    const bool live = column == ColValue || column == ColRaw || column == ColChanged;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return display(row, column);
    case Qt::CheckStateRole:
        return column == ColPlot ? QVariant(defOf(row).plot ? Qt::Checked : Qt::Unchecked)
                                 : QVariant();
    case Qt::ToolTipRole:
        return toolTip(row, column);
    case StaleRole:
        return live && stale(row);
    default:
        return {};
    }
}

QVariant PollModel::display(int row, int column) const {
    const Row& r = rows_[std::size_t(row)];
    const int function = r.key.function;
    switch (column) {
    case ColStation:
        return QString::number(r.key.station);
    case ColFunction:
        return QStringLiteral("%1 %2")
            .arg(function, 2, 10, QLatin1Char('0'))
            .arg(fromStd(modbus::tableTag(function)));
    case ColAddress:
        return addressText(function, r.key.address);
    case ColName:
        return defOf(row).name;
    case ColFormat:
        return modbus::readsBits(function) ? QStringLiteral("bit")
                                           : fromStd(modbus::formatName(defOf(row).format));
    case ColValue:
        return valueText(row);
    case ColRaw: {
        QString raw;
        valueText(row, &raw);
        return raw;
    }
    case ColChanged: {
        // A row's time moves only when one of its registers or its coil reads otherwise.
        return values_[std::size_t(r.read)].shown.any && r.changedMs ? clockText(r.changedMs)
                                                                     : QString();
    }
    default:
        return QString();
    }
}

QVariant PollModel::toolTip(int row, int column) const {
    const int function = keyOf(row).function;
    if (column == ColValue && !writable(function))
        return readOnlyHint(function);
    if ((column != ColValue && column != ColRaw && column != ColChanged) || !stale(row))
        return {};
    const qint64 good = values_[std::size_t(rows_[std::size_t(row)].read)].shown.goodWallMs;
    return QStringLiteral("Stale: the last poll failed; these values are from %1")
        .arg(good ? clockText(good) : QStringLiteral("no reply yet"));
}

bool PollModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= rowCount())
        return false;
    const int row = index.row();
    const modbus::RowKey key = keyOf(row);
    if (index.column() == ColPlot && role == Qt::CheckStateRole) {
        defs_[key].plot = value.toInt() == Qt::Checked;
    } else if (role != Qt::EditRole) {
        return false;
    } else if (index.column() == ColName) {
        defs_[key].name = value.toString();
    } else if (index.column() == ColFormat) {
        const auto f = modbus::parseFormatName(value.toString().toStdString());
        if (!f)
            return false;
        // The rows change once the editor that set the format has gone.
        QMetaObject::invokeMethod(
            this,
            [this, key, f] {
                if (const int at = rowOf(key); at >= 0)
                    setRowFormat(at, *f);
            },
            Qt::QueuedConnection);
        return true;
    } else if (index.column() == ColValue) {
        // The row keeps the polled value; a good write shows in the next poll.
        const Outcome written = write(row, value.toString());
        if (!written)
            emit failed(written.failure());
        return written.ok();
    } else {
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

// ---------------------------------------------------------------- CSV log

Outcome PollModel::startLog(const QString& path) {
    stopLog();
    log_.setFileName(path);
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return Outcome::failed(QStringLiteral("The CSV log cannot be written to %1: %2")
                                   .arg(path, log_.errorString()));
    QStringList header{QStringLiteral("time")};
    for (int row = 0; row < rowCount(); ++row)
        if (!covered(row))
            header << csvField(rowLabel(row));
    log_.write((header.join(u',') + u'\n').toUtf8());
    logFlushTicks_ = 0;
    return {};
}

void PollModel::stopLog() {
    if (log_.isOpen())
        log_.close();
}

void PollModel::failLog() {
    const QString why = log_.errorString();
    stopLog();
    emit failed(QStringLiteral("The CSV log stopped: %1").arg(why));
    emit logStopped();
}

// One line per completed poll of the whole list: the time, then each row's value as read.
void PollModel::logCycle() {
    if (!log_.isOpen())
        return;
    const auto latestOf = [this](int row) -> const Values& {
        return values_[std::size_t(rows_[std::size_t(row)].read)].latest;
    };
    QStringList fields{isoTime(QDateTime::currentDateTime())};
    for (int row = 0; row < rowCount(); ++row)
        if (!covered(row))
            fields << (stale(row) ? QString() : csvField(text(latestOf(row), row, nullptr)));
    if (log_.write((fields.join(u',') + u'\n').toUtf8()) < 0)
        failLog();
}

// ---------------------------------------------------------------- definitions

Outcome PollModel::saveDefinitions(const QString& path) const {
    const PollSetup setup{master_.reads(), defs_, oneBased_, always16_};
    QFile f(path);
    const QByteArray text = definitionsJson(setup);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() ||
        !f.flush())
        return Outcome::failed(
            QStringLiteral("The definitions cannot be saved to %1: %2").arg(path, f.errorString()));
    return {};
}

Outcome PollModel::loadDefinitions(const QString& path) {
    const auto notDefinitions = [&path](const QString& why) {
        return Outcome::failed(QStringLiteral("%1 is not a definitions file: %2. Nothing was "
                                              "changed.")
                                   .arg(QFileInfo(path).fileName(), why));
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failed(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()));
    PollSetup setup;
    try {
        setup = parseDefinitions(f.readAll());
    } catch (const Failure& e) {
        return notDefinitions(fromStd(e.description()));
    }
    if (const Outcome taken = master_.setReads(setup.reads); !taken)
        return notDefinitions(taken.failure());
    defs_ = setup.rows;
    oneBased_ = setup.oneBased;
    always16_ = setup.always16;
    values_.assign(setup.reads.size(), {});
    rebuildRows();
    emit setupLoaded();
    return {};
}

Outcome PollModel::importMap(const QString& path, QString* note) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failed(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()));
    int applied = 0;
    std::size_t entries = 0;
    try {
        const auto map = modbus::parseRegisterMap(f.readAll().toStdString());
        entries = map.size();
        applied = applyMap(map, master_.reads(), defs_);
    } catch (const Failure& e) {
        return Outcome::failed(QStringLiteral("%1 is not a register map: %2 Nothing was imported.")
                                   .arg(QFileInfo(path).fileName(), fromStd(e.description())));
    }
    rebuildRows();
    if (note)
        *note = QStringLiteral("%1: %2 of %3 entries fall in the reads.")
                    .arg(QFileInfo(path).fileName())
                    .arg(applied)
                    .arg(entries);
    return {};
}

} // namespace varnok::engine
