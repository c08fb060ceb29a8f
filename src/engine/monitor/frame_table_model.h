#pragma once
// The monitor's frames for a table view (colours are the window's business). Frames wait in a queue
// and reach the view in one insert per commit, so that a flood costs one view update per batch
// instead of one per frame; the text of a cell is made only when the view asks for it. Rows live in
// a ring and their bytes in large blocks: a flood allocates next to nothing per frame.
#include <QAbstractTableModel>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "logic/monitor/monitor_session.h"

namespace varnok {

// Bytes kept oldest first in blocks of a megabyte, given back as the rows using them leave.
class ByteStore {
  public:
    struct Ref {
        std::uint64_t block = 0; // counted from the first block ever made
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    static constexpr std::size_t kBlockBytes = 1 << 20;

    Ref add(std::span<const std::uint8_t> bytes);
    std::span<const std::uint8_t> get(Ref ref) const;
    void releaseBefore(std::uint64_t block);

  private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
        std::size_t used = 0;
    };
    std::deque<Block> blocks_;
    std::uint64_t firstBlock_ = 0; // the number of blocks_.front()
    // A released block is used again: fresh memory would cost a page fault every 4 KiB.
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_;
};

class FrameTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Time, Gap, Dir, Length, Hex, Text, Decoded, ColumnCount };
    // Older frames leave the table beyond this; memory stays bounded under a flood.
    static constexpr int kMaxRows = 100000;
    // Cells show this many bytes of a longer frame; copies and the capture hold all of them.
    static constexpr std::size_t kShownBytes = 64;

    explicit FrameTableModel(QObject* parent = nullptr);

    void queue(monitor::SessionFrame&& frame);
    // A marker row with `text` instead of a frame, queued behind the frames already queued.
    void queueMark(std::int64_t wallMs, std::string text);
    // Moves the queue into the table; returns how many rows left its front to make room.
    int commit();

    std::span<const std::uint8_t> bytes(int row) const { return store_.get(at(row).bytes); }
    bool flagged(int row) const { return at(row).flagged; }
    bool marker(int row) const { return at(row).marker; }
    monitor::Direction direction(int row) const { return at(row).direction; }
    // The row as the capture's text log writes it.
    std::string line(int row) const;
    // What the Dir column and copied rows call each side (TX/RX without names).
    void setSideNames(const monitor::SideNames& sides);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    struct Row {
        std::int64_t firstUs = 0;
        std::int64_t lastUs = 0;
        std::int64_t wallMs = 0;
        std::int64_t gapUs = -1;
        ByteStore::Ref bytes;
        monitor::Direction direction = monitor::Direction::Rx;
        bool flagged = false;
        bool marker = false; // a mark: no bytes, its text in decoded
        std::string decoded;
        std::string_view note; // a fixed text instead of decoded

        std::string_view text() const { return note.empty() ? std::string_view(decoded) : note; }
    };
    const Row& at(int row) const {
        return ring_[(first_ + static_cast<std::size_t>(row)) % ring_.size()];
    }

    ByteStore store_;
    monitor::SideNames sides_;
    std::vector<Row> ring_; // grows to kMaxRows, then the oldest slot takes the newest row
    std::size_t first_ = 0; // ring_ index of row 0
    std::size_t count_ = 0;
    std::vector<Row> queued_;
};

} // namespace varnok
