#pragma once
// The poll workbench: reads polled in turn by the Modbus master into a table of registers and
// coils in the formats engineers read them, written from the table, charted over time and
// logged to CSV; the reads with their row names and formats saved and loaded as JSON, names
// and formats imported from a CSV register map. It may stay open while the port opens and
// closes; it polls only while the port is open.
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <map>
#include <vector>

#include "engine/session.h"
#include "engine/modbus_master.h"
#include "engine/poll_setup.h"
#include "logic/modbus/poll_rows.h"
#include "logic/modbus/value_format.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QValueAxis;

namespace varnok {

namespace engine {
class TerminalEngine;
}

class PollWindow : public QWidget {
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
        ColPlot
    };
    enum ReadColumn { RdStation, RdFunction, RdAddress, RdCount, RdPeriod, RdTimeout, RdRetries };

    explicit PollWindow(engine::Session& session, QWidget* parent = nullptr);
    ~PollWindow() override;

    // The first time where the user left it in an earlier run, else beside `main`.
    void showBeside(const QWidget* main);

    // The reads table to the master and the register table; false after one message, with the
    // reads table showing again what is polled.
    bool applyReads();
    void addRead(const engine::PollRead& read);
    // Every read to this station, applied at once.
    void useStation(int station);
    // Each false after one message naming the file, and the line or entry and why.
    bool saveDefinitions(const QString& path);
    bool loadDefinitions(const QString& path);
    bool importMap(const QString& path);
    // The chart as PNG; ".png" is added to a name without it.
    bool saveChart(const QString& path);
    bool startLog(const QString& path);
    void stopLog();
    bool logging() const { return log_.isOpen(); }

    engine::ModbusMaster& master() { return master_; }
    // The register table's row of a station's register or coil (-1 when not shown).
    int rowOf(const modbus::RowKey& key) const;
    void setRowFormat(int row, const modbus::ValueFormat& format);
    qsizetype chartPoints(int row) const;

    QTableWidget* readsTable;
    QPushButton* addReadButton;
    QPushButton* removeReadButton;
    QPushButton* applyButton;
    QPushButton* pollButton; // "Start polling" / "Stop polling"
    QCheckBox* oneBasedBox;  // addresses as 40001 ... instead of 0-based
    QCheckBox* always16Box;  // registers written with 16 (coils with 15) even when one
    QTableWidget* table;
    QLabel* readStatus; // one line per read; lines too long for the window end in "..."
    QLabel* writeStatus;
    QComboBox* spanBox; // the chart's time span
    QPushButton* pauseButton;
    QPushButton* savePngButton;
    QPushButton* logButton; // "Log CSV..." / "Stop log"
    QPushButton* saveButton;
    QPushButton* loadButton;
    QPushButton* importButton;
    QChartView* chartView;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    struct RowRef {
        int read = 0;
        modbus::RowKey key;
    };
    struct ReadValues {
        std::vector<std::uint16_t> registers;
        std::vector<bool> bits;
        bool any = false;   // a good reply came
        bool dirty = false; // not yet shown
        qint64 goodWallMs = 0;
    };

    void buildControls();
    void rebuildRows();
    void refresh();
    void showRead(int read);
    void updateChart();
    void onDone(const engine::PollResult& r);
    void onCycle();
    void onItemChanged(QTableWidgetItem* item);
    void writeRow(int row, const QString& text);
    void showReads(const std::vector<engine::PollRead>& reads);
    void sample(const engine::PollResult& r);
    void togglePolling();
    void chooseLog();
    QString valueText(int row, QString* raw = nullptr) const;
    int spanOf(int row) const; // registers the row's value takes
    QString addressText(int function, int address) const;
    QString rowLabel(int row) const;
    engine::RowDef defOf(int row) const;
    void fail(const QString& text);

    engine::TerminalEngine& engine_;
    engine::ModbusMaster& master_; // the session's: polling goes on without the window
    engine::RowDefs defs_;
    std::vector<RowRef> rows_;
    std::vector<ReadValues> values_;
    modbus::ChangeClock changes_;
    QTimer refresh_;
    bool updating_ = false;
    bool placed_ = false;

    QChart* chart_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
    // A plotted row's samples go on while the chart is paused; its line is one series per
    // unbroken run.
    std::map<modbus::RowKey, modbus::Trace> traces_;
    std::map<modbus::RowKey, std::vector<QLineSeries*>> series_;
    bool paused_ = false;

    QFile log_;
    int logFlushTicks_ = 0;
};

} // namespace varnok
