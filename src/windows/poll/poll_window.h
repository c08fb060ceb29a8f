#pragma once
// The poll workbench, a view of the session's poll model: reads polled in turn by the Modbus
// master into a table of registers and coils in the formats engineers read them, written from
// the table, charted over time and logged to CSV; the reads with their row names and formats
// saved and loaded as JSON, names and formats imported from a CSV register map. It may stay
// open while the port opens and closes; it polls only while the port is open.
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "engine/poll/poll_model.h"
#include "engine/session.h"

class QCheckBox;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

namespace varnok {

class PollChart;

class PollWindow : public QWidget {
    Q_OBJECT
  public:
    using enum engine::PollModel::Column;
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
    bool logging() const { return model_.logging(); }

    engine::ModbusMaster& master() { return model_.master(); }
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
    QTableView* table;       // shows the session's poll model
    QLabel* readStatus;      // one line per read; lines too long for the window end in "..."
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
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* buildReads();
    QLayout* buildOptions();
    QWidget* buildTable();
    QWidget* buildChart();
    void hideCoveredRows();
    void refresh();
    void updateChart();
    void showReads(const std::vector<engine::PollRead>& reads);
    void showSetup();
    void togglePolling();
    void chooseLog();
    bool done(const engine::Outcome& outcome); // true when done, else after its message
    void fail(const QString& text);

    engine::TerminalEngine& engine_;
    engine::PollModel& model_; // the session's: polling goes on without the window
    QTimer refresh_;
    bool placed_ = false;

    std::unique_ptr<PollChart> chart_;
    bool paused_ = false;
};

} // namespace varnok
