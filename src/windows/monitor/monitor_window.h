#pragma once
// The traffic monitor: every frame with its time, Modbus RTU decoding with response times,
// live statistics and capture to file. Non-modal; it follows the engine's traffic.
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "engine/terminal_engine.h"
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/traffic_stats.h"

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

namespace varnok {

class CaptureFile;
class FrameTableModel;

class MonitorWindow : public QWidget {
    Q_OBJECT
  public:
    enum class CaptureForm {
        Text, // a header line, then one line per frame as the table shows it
        Raw,  // the received bytes exactly as they arrived
    };
    static constexpr int kBatchMs = 50;

    // A top-level window (objectName "Monitor") that follows `engine` until it is gone.
    explicit MonitorWindow(engine::TerminalEngine* engine, QWidget* parent = nullptr);
    ~MonitorWindow() override;

    // What "Capture..." does once it knows the file, the form and whether to replace it.
    // False after one message.
    bool startCapture(const QString& path, CaptureForm form, bool replace);
    void stopCapture();
    bool capturing() const;

    FrameTableModel* model() const { return model_; }
    monitor::TrafficCounts counts() const { return stats_.counts(); }

    QCheckBox* decodeBox;
    QDoubleSpinBox* gapBox; // ms, 0 = 3.5 characters at the port's settings
    QSpinBox* timeoutBox;   // ms
    QLabel* ruleLabel;      // the framing rule in words
    QLabel* statsLabel;     // live statistics
    QLabel* captureLabel;   // where the capture goes
    QPushButton* resetButton;
    QPushButton* captureButton; // "Capture..." / "Stop capture"
    QTableView* table;
    QAction* copyRowsAction;
    QAction* copyCAction;
    QAction* copyPythonAction;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void onCaptureClicked();
    void onCaptureFailed(const QString& text);
    void onPortOpenChanged(bool open);
    void onReceived(const QByteArray& bytes, engine::TrafficTime time);
    void onSent(const QByteArray& bytes, engine::TrafficTime time);
    void take(monitor::Frame frame);
    void onGapTimer();
    void onTimeoutTimer();
    void commitRows();
    void applyGap();
    void refreshStats();
    void resetStats();
    void showContextMenu(const QPoint& pos);
    void copyRows();
    void copyOne(bool python);

    QPointer<engine::TerminalEngine> engine_;
    FrameTableModel* model_;
    CaptureFile* capture_;
    CaptureForm captureForm_ = CaptureForm::Text;

    monitor::LineSettings line_;
    monitor::FrameSplitter splitter_;
    std::optional<std::int64_t> lastEndUs_; // last byte of the previous frame
    QTimer gapTimer_;                       // runs only while an RX frame is open
    QTimer batchTimer_;                     // runs only while frames wait for the table

    monitor::TrafficStats stats_;
    std::optional<std::int64_t> requestEndUs_; // a request waits for its reply
    QTimer timeoutTimer_;                      // runs only while a request waits
    bool statsDirty_ = false;
};

} // namespace varnok
