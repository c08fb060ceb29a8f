#include "engine/monitor/frame_table_model.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "logic/codec/recv_display.h"
#include "logic/monitor/frame_text.h"

namespace varnok {

namespace {

QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// A long frame's cell ends in "…": laying out hundreds of characters per cell and paint would
// slow the table down under a flood, and nobody reads them in a cell.
QString shown(const std::string& text, bool more) {
    QString s = latin1(text);
    if (more)
        s += QChar(0x2026);
    return s;
}

// A new block's pages made at once: touched one by one as frames fill it, each would cost a
// page fault, and under a flood those faults cost more than the rest of a frame's keeping.
std::unique_ptr<std::uint8_t[]> newBlock(std::size_t size) {
    auto block = std::make_unique_for_overwrite<std::uint8_t[]>(size);
#ifdef MADV_POPULATE_WRITE
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(block.get());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + size) / page * page;
    if (last > first) // a kernel without it leaves the pages to the faults
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
    return block;
}

} // namespace

ByteStore::Ref ByteStore::add(std::span<const std::uint8_t> bytes) {
    if (blocks_.empty() || blocks_.back().used + bytes.size() > blocks_.back().size) {
        if (bytes.size() <= kBlockBytes && !spare_.empty()) {
            blocks_.push_back({std::move(spare_.back()), kBlockBytes, 0});
            spare_.pop_back();
        } else {
            const std::size_t size = std::max(kBlockBytes, bytes.size());
            blocks_.push_back({newBlock(size), size, 0});
        }
    }
    Block& b = blocks_.back();
    std::memcpy(b.data.get() + b.used, bytes.data(), bytes.size());
    const Ref ref{firstBlock_ + blocks_.size() - 1, static_cast<std::uint32_t>(b.used),
                  static_cast<std::uint32_t>(bytes.size())};
    b.used += bytes.size();
    return ref;
}

std::span<const std::uint8_t> ByteStore::get(Ref ref) const {
    return {blocks_[static_cast<std::size_t>(ref.block - firstBlock_)].data.get() + ref.offset,
            ref.length};
}

void ByteStore::releaseBefore(std::uint64_t block) {
    constexpr std::size_t kSpares = 8; // what a flood releases in one commit
    while (firstBlock_ < block && !blocks_.empty()) {
        if (blocks_.front().size == kBlockBytes && spare_.size() < kSpares)
            spare_.push_back(std::move(blocks_.front().data));
        blocks_.pop_front();
        ++firstBlock_;
    }
}

FrameTableModel::FrameTableModel(QObject* parent) : QAbstractTableModel(parent) {
    // Address space only until rows come: growing by copies would move every row kept.
    ring_.reserve(kMaxRows);
}

void FrameTableModel::queue(monitor::SessionFrame&& row) {
    // Far more than a table's worth between two commits: the oldest would leave at once
    // anyway. A full table's worth stays, so the commit still fills every row.
    if (queued_.size() >= 2 * kMaxRows)
        queued_.erase(queued_.begin(), queued_.end() - kMaxRows);
    const monitor::Frame& f = row.frame;
    queued_.push_back({f.firstUs, f.lastUs, f.wallMs, row.gapUs, store_.add(f.bytes), f.direction,
                       row.flagged, false, std::move(row.decoded), row.note});
}

void FrameTableModel::queueMark(std::int64_t wallMs, std::string text) {
    Row mark;
    mark.wallMs = wallMs;
    static constexpr std::uint8_t kNone = 0;
    mark.bytes = store_.add({&kNone, 0}); // a place in a block: the ring's release reads it
    mark.marker = true;
    mark.decoded = std::move(text);
    queued_.push_back(std::move(mark));
}

int FrameTableModel::commit() {
    if (queued_.empty())
        return 0;
    if (queued_.size() > kMaxRows)
        queued_.erase(queued_.begin(), queued_.end() - kMaxRows);
    const std::size_t total = count_ + queued_.size();
    const auto removed =
        static_cast<int>(total > kMaxRows ? std::min(total - kMaxRows, count_) : 0);
    if (removed > 0) {
        beginRemoveRows({}, 0, removed - 1);
        first_ = (first_ + static_cast<std::size_t>(removed)) % ring_.size();
        count_ -= static_cast<std::size_t>(removed);
        endRemoveRows();
    }
    beginInsertRows({}, static_cast<int>(count_), static_cast<int>(count_ + queued_.size()) - 1);
    for (Row& r : queued_) {
        // Until the ring is full, the next slot is always its end.
        if (ring_.size() < kMaxRows)
            ring_.push_back(std::move(r));
        else
            ring_[(first_ + count_) % ring_.size()] = std::move(r);
        ++count_;
    }
    queued_.clear();
    endInsertRows();
    store_.releaseBefore(at(0).bytes.block);
    return removed;
}

std::string FrameTableModel::line(int row) const {
    const Row& r = at(row);
    if (r.marker)
        return monitor::markLine(r.wallMs, r.decoded);
    const std::span<const std::uint8_t> b = bytes(row);
    const monitor::Frame frame{r.firstUs, r.lastUs, r.wallMs, r.direction, {b.begin(), b.end()}};
    return monitor::frameLine(frame, r.gapUs, r.text(), sides_);
}

void FrameTableModel::setSideNames(const monitor::SideNames& sides) {
    sides_ = sides;
    if (count_ > 0)
        emit dataChanged(index(0, Dir), index(rowCount() - 1, Dir));
}

int FrameTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(count_);
}

int FrameTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& r = at(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        const std::span<const std::uint8_t> all = store_.get(r.bytes);
        const std::span<const std::uint8_t> some = all.first(std::min(all.size(), kShownBytes));
        switch (index.column()) {
        case Time:
            return latin1(monitor::wallTimeText(r.wallMs));
        case Gap:
            return r.gapUs < 0 ? QString() : QString::number(double(r.gapUs) / 1000.0, 'f', 3);
        case Dir:
            return r.marker ? QStringLiteral("MARK")
                            : QString::fromUtf8(monitor::directionText(r.direction, sides_));
        case Length:
            return r.marker ? QVariant() : QVariant(static_cast<qulonglong>(all.size()));
        case Hex: {
            std::string hex = codec::hexDisplay(some.data(), some.size());
            if (!hex.empty())
                hex.pop_back(); // every byte ends with a blank
            return shown(hex, some.size() < all.size());
        }
        case Text:
            return shown(monitor::dottedText(some), some.size() < all.size());
        case Decoded:
            return QString::fromUtf8(r.text().data(), qsizetype(r.text().size()));
        }
        return {};
    }
    case Qt::TextAlignmentRole:
        if (index.column() == Gap || index.column() == Length)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kNames[ColumnCount] = {"Time",  "Gap ms", "Dir",    "Len",
                                                    "Bytes", "Text",   "Decoded"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kNames[section])
                                                 : QVariant();
}

} // namespace varnok
