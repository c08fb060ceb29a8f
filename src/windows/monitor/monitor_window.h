#pragma once
// The traffic monitor's window: it shows what the recorder beside the engine holds (every
// frame with its time, Modbus RTU decoding with response times, live statistics, the
// capture) and sets its choices. Closing it only hides it; the recording goes on.
#include <QPointer>
#include <QRgb>
#include <QWidget>

#include "engine/monitor/traffic_recorder.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QDoubleSpinBox;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

namespace varnok {

namespace engine {
class Session;
}
class FrameTableModel;
class StationView;

class MonitorWindow : public QWidget {
    Q_OBJECT
  public:
    using CaptureForm = TrafficRecorder::CaptureForm;
    static constexpr QRgb kMarkColour = qRgb(0xFF, 0xEE, 0xA8); // a marker row's background

    // A top-level window (objectName "Monitor") showing the session's recorder, with the bus
    // choices: listen only, a tap or a bridge through a second port.
    explicit MonitorWindow(engine::Session& session, QWidget* parent = nullptr);
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
    QCheckBox* listenBox;  // "Listen only": nothing is sent while on
    QComboBox* busModeBox; // one port, a tap or a bridge
    QComboBox* portBBox;   // the second port (a bridge may make a pseudo-terminal)
    QLineEdit* sideABox;   // the sides' names in the table and the capture
    QLineEdit* sideBBox;
    QPushButton* busButton; // "Start" / "Stop"
    QLabel* busLabel;       // the second port's state, the bridge's pseudo-terminal
    QPushButton* copyPathButton;
    StationView* stations;
    QAction* copyRowsAction;
    QAction* copyCAction;
    QAction* copyPythonAction;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QHBoxLayout* buildOptions();
    QVBoxLayout* buildBusRow();
    void onBusClicked();
    void showBus();
    void showBusModeChoices();
    void fitDirColumn();
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

    engine::Session& session_;
    QPointer<TrafficRecorder> recorder_;
    bool placed_ = false;
    bool portBChosen_ = false; // the user picked port B: a change of mode keeps it
    bool following_ = true;    // the view shows the newest rows until the user scrolls away
    bool modelChanging_ = false;
    int topBeforeRemoval_ = 0;
};

} // namespace varnok
