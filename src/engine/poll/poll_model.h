#pragma once
// The poll workbench without its window: the reads the master polls, one row per register or
// coil with its name, format and plot tick, the values last read with their staleness and
// times of change, the chart's samples, the CSV log and the writes typed into a row. It lives
// in the session, so polling, sampling and logging go on while the window is closed; the
// window is a view of it (colours are the window's business).
#include <QAbstractTableModel>
#include <QFile>
#include <QTimer>
#include <map>
#include <optional>
#include <vector>

#include "engine/modbus_master.h"
#include "engine/poll_setup.h"
#include "logic/modbus/poll_rows.h"

namespace varnok::engine {

class PollModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        ColStation,
        ColFunction,
        ColAddress,
        ColName,
        ColFormat,
        ColValue,
        ColRaw,
        ColChanged,
        ColPlot,
        ColumnCount
    };
    enum Role { StaleRole = Qt::UserRole + 1 }; // true on a value of a read whose poll failed
    static constexpr int kRefreshMs = 200;      // new values reach the view at most this often

    explicit PollModel(ModbusMaster& master, QObject* parent = nullptr);
    ~PollModel() override;

    ModbusMaster& master() { return master_; }
    const ModbusMaster& master() const { return master_; }
    // Failed ("Read 2: ...") with nothing changed.
    Outcome setReads(const std::vector<PollRead>& reads);
    // The same from the reads' fields as typed (see parseRead); a failure ends in "Nothing
    // was sent.".
    Outcome setTypedReads(const std::vector<QStringList>& typed);
    bool oneBased() const { return oneBased_; }
    void setOneBased(bool on);
    bool always16() const { return always16_; }
    void setAlways16(bool on) { always16_ = on; }

    const RowDefs& rowDefs() const { return defs_; }
    const modbus::RowKey& keyOf(int row) const { return rows_[std::size_t(row)].key; }
    // Inside the value of a row above it: the view hides it.
    bool covered(int row) const { return rows_[std::size_t(row)].covered; }
    // The shown row of a station's register or coil, -1 when there is none.
    int rowOf(const modbus::RowKey& key) const;
    void setRowFormat(int row, const modbus::ValueFormat& format);
    QString rowLabel(int row) const;
    QString addressText(int function, int address) const;
    // The value as the last refresh showed it, and its registers in hex.
    QString valueText(int row, QString* raw = nullptr) const;
    // A plotted row's samples, kept from its tick on.
    const modbus::Trace* trace(const modbus::RowKey& key) const;
    // One line per read: what it asks for and how its polls go.
    QString statusText() const;

    // Each failed with the message for the user naming the file and why.
    Outcome saveDefinitions(const QString& path) const;
    Outcome loadDefinitions(const QString& path);
    // `note` gets "map.csv: 2 of 3 entries fall in the reads."
    Outcome importMap(const QString& path, QString* note);
    Outcome startLog(const QString& path);
    void stopLog();
    bool logging() const { return log_.isOpen(); }

    // The typed value written to the row's register or coil; failed with why nothing was sent.
    Outcome write(int row, const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QString readOnlyHint(int function);

  signals:
    void failed(const QString& text);     // a message for the user
    void writeNoted(const QString& text); // the write status line
    void logStopped();                    // by a failure, after failed()
    void setupLoaded();                   // reads and options came from a file

  private:
    struct Row {
        int read = 0;
        modbus::RowKey key;
        bool covered = false;
        qint64 changedMs = 0; // as shown
    };
    struct Values {
        std::vector<std::uint16_t> registers;
        std::vector<bool> bits;
        bool any = false; // a good reply came
        qint64 goodWallMs = 0;
    };
    // The view shows the values of the last refresh; the log writes the latest.
    struct ReadValues {
        Values latest;
        Values shown;
        bool dirty = false; // latest not yet shown
    };

    void rebuildRows();
    void refresh();
    void onDone(const PollResult& r);
    void sample(const PollResult& r);
    void logCycle();
    void failLog();
    bool stale(int row) const;
    QVariant display(int row, int column) const;
    QString text(const Values& v, int row, QString* raw) const;
    QVariant toolTip(int row, int column) const;
    RowDef defOf(int row) const;
    int spanOf(int row) const { return rowSpan(defs_, rows_[std::size_t(row)].key); }

    ModbusMaster& master_;
    RowDefs defs_;
    bool oneBased_ = false;
    bool always16_ = false;
    std::vector<Row> rows_;
    std::vector<ReadValues> values_;
    modbus::ChangeClock changes_;
    std::map<modbus::RowKey, modbus::Trace> traces_;
    QTimer refresh_;
    QFile log_;
    int logFlushTicks_ = 0;
    QString waitingFor_; // who holds the line while polling waits for it
};

} // namespace varnok::engine
