#pragma once
// The traffic monitor's window: it shows what the recorder beside the engine holds (every
// frame with its time, Modbus RTU decoding with response times, live statistics, the
// capture) and sets its choices. Closing it only hides it; the recording goes on.
#include <QPointer>
#include <QWidget>

#include "engine/monitor/traffic_recorder.h"

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

namespace varnok {

class FrameTableModel;

class MonitorWindow : public QWidget {
    Q_OBJECT
  public:
    using CaptureForm = TrafficRecorder::CaptureForm;

    // A top-level window (objectName "Monitor") showing `recorder`.
    explicit MonitorWindow(TrafficRecorder* recorder, QWidget* parent = nullptr);
    ~MonitorWindow() override;

    // Shows the window: the first time where the user left it in an earlier run, else beside
    // `main` within the screen's available area.
    void showBeside(const QWidget* main);

    // What "Capture..." does once it knows the file, the form and whether to replace it.
    // False after one message.
    bool startCapture(const QString& path, CaptureForm form, bool replace);
    void stopCapture();
    bool capturing() const;

    FrameTableModel* model() const;
    monitor::TrafficCounts counts() const;

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
    void hideEvent(QHideEvent* event) override;

  private:
    QHBoxLayout* buildOptions();
    void buildTable();
    void buildActions();
    void followNewRows();
    void onCaptureClicked();
    void showCapture(bool capturing);
    void showRule();
    void showStats();
    void showContextMenu(const QPoint& pos);
    void copyRows();
    void copyOne(bool python);

    QPointer<TrafficRecorder> recorder_;
    bool placed_ = false;
    bool following_ = true; // the view shows the newest rows until the user scrolls away
    bool modelChanging_ = false;
    int topBeforeRemoval_ = 0;
};

} // namespace varnok
