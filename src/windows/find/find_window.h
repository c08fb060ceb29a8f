#pragma once
// Find Device: which bauds, framings and stations to sweep with which probe, the sweep's
// progress and what answered. A skin over the engine's sweep: it reads its controls, starts
// and stops the sweep and shows what it reports; "Use" hands a row's setting and station to
// whoever opened the window.
#include <QWidget>
#include <array>
#include <vector>

#include "engine/find_sweep.h"
#include "engine/session.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QVBoxLayout;

namespace varnok {

class FindWindow : public QWidget {
    Q_OBJECT
  public:
    enum Column { ColBaud, ColFraming, ColStation, ColAnswer, ColTime };
    static constexpr int kBaudCount = int(std::size(modbus::kFindBauds));

    explicit FindWindow(engine::Session& session, QWidget* parent = nullptr);
    ~FindWindow() override;

    // The first time where the user left it in an earlier run, else beside `main`.
    void showBeside(const QWidget* main);
    // Ticks this baud (the main window's choice) in addition to any ticked already.
    void tickBaud(int baud);

    // What the controls ask for.
    engine::FindRequest request() const;
    // Starts the sweep; false after the sweep's one message (port not open, nothing ticked).
    bool start();
    engine::FindSweep& sweep() { return sweep_; }
    // The answer a results row shows.
    const engine::FindAnswer& answerAt(int row) const { return answers_.at(std::size_t(row)); }

    std::array<QCheckBox*, kBaudCount> baudBoxes{};
    std::vector<QCheckBox*> framingBoxes; // 8E1, 8N2, 8N1, 8O1, then the 7-bit ones
    QCheckBox* sevenBitBox;
    QSpinBox* firstStationBox;
    QSpinBox* lastStationBox;
    QComboBox* probeBox;
    QSpinBox* addressBox;
    QRadioButton* autoTimeoutButton;
    QRadioButton* fixedTimeoutButton;
    QSpinBox* allowanceBox;
    QSpinBox* fixedTimeoutBox;
    QLabel* timeoutLabel; // the automatic timeout and the sweep's estimate
    QCheckBox* stopAtFirstBox;
    QCheckBox* listenBox;
    QSpinBox* listenSecondsBox;
    QPushButton* startButton; // "Start" / "Stop"
    QProgressBar* progressBar;
    QLabel* progressLabel;
    QTableWidget* results;
    QPushButton* useButton;
    QPushButton* neighboursButton;

  signals:
    // "Use" on a reply or exception row.
    void use(const varnok::serial::LineSettings& line, int station);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void buildControls();
    QGroupBox* buildBauds();
    QGroupBox* buildFramings();
    QGroupBox* buildProbe(); // stations, probe and timeout
    QHBoxLayout* buildOptions();
    void buildRun(QVBoxLayout& top);
    void buildResults(QVBoxLayout& top);
    void refreshPlan();
    void refreshButtons();
    void onProgress(const engine::FindProgress& p);
    void onAnswer(const engine::FindAnswer& a);
    void onFinished(bool stopped);
    void useRow();
    std::vector<serial::LineSettings> tickedFramings() const;
    std::vector<int> tickedBauds() const;

    engine::FindSweep& sweep_; // the session's
    engine::TerminalEngine& engine_;
    std::vector<engine::FindAnswer> answers_;
    int found_ = 0;
    bool placed_ = false;
};

} // namespace varnok
