#pragma once
// What the traffic monitor records, without its window: the frame store, the monitor session
// (framing, decoding, pairing, statistics, the gap and timeout choices) and the running
// capture. Made beside the engine, it outlives the Monitor window, which only shows it: a
// capture runs until it is stopped or the program ends (then it is flushed and closed).
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/outcome.h"
#include "engine/terminal_engine.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/monitor_session.h"

namespace varnok {

namespace engine {
class BusPorts;
}
class CaptureFile;
class FrameTableModel;

// Where a raw capture keeps side B's bytes: "cap-B.bin" beside "cap.bin".
QString sideBCapturePath(const QString& path);

class TrafficRecorder : public QObject {
    Q_OBJECT
  public:
    using CaptureForm = monitor::CaptureForm;
    // A frame after a quiet spell reaches the table within kBatchMs; while frames keep coming
    // the table takes them every kFloodBatchMs, as every update repaints the view.
    static constexpr int kBatchMs = 50;
    static constexpr int kFloodBatchMs = 500;

    explicit TrafficRecorder(engine::TerminalEngine* engine, QObject* parent = nullptr);
    ~TrafficRecorder() override;

    // Starts following the engine's traffic, for good; until then the terminal pays nothing
    // for a monitor nobody has opened.
    void start();
    // The second port's traffic (a tap's other side) and its mode, from start() on.
    void followBus(engine::BusPorts* bus);

    FrameTableModel* model() const { return model_; }
    const monitor::MonitorSession& session() const { return session_; }
    monitor::TrafficCounts counts() const { return session_.counts(); }

    void setDecoding(bool on);
    void setUserGapUs(std::int64_t us);
    void setTimeoutUs(std::int64_t us);
    void resetStats();
    // What the table and the text capture call each side ("" keeps TX/RX).
    void setSideNames(const QString& a, const QString& b);
    // Why the serial driver could not hand input over at once while decoding ("" when it
    // does, or when there is nothing to ask).
    const QString& lowLatencyNote() const { return lowLatencyNote_; }

    // A marker row with `text` between the frames ended before and those after (a frame still
    // open comes after it, whole), and its line in a text capture. Dropped until start():
    // nothing is recorded then.
    void mark(const QString& text);

    // Failed with the reason the capture could not start.
    engine::Outcome startCapture(const QString& path, CaptureForm form, bool replace);
    void stopCapture(); // a failing last flush is told through captureFailed()
    bool capturing() const;
    CaptureForm captureForm() const { return captureForm_; }
    const QString& capturePath() const { return capturePath_; }

  signals:
    void statsChanged();
    void ruleChanged(); // the framing rule in force (gapText) changed
    void captureChanged(bool capturing);
    // The capture has ended on its own; the text says why.
    void captureFailed(const QString& text);

  private:
    void onPortOpenChanged(bool open);
    void onBusChanged();
    void askLowLatency();
    void captureRaw(bool sideB, const QByteArray& bytes);
    void onTraffic(monitor::Direction direction, const QByteArray& bytes, engine::TrafficTime time);
    void onDeadline();
    void take(std::vector<monitor::SessionFrame>& frames);
    void arm();
    void schedule(); // the table takes what is queued within a batch time
    void commit();

    QPointer<engine::TerminalEngine> engine_;
    QPointer<engine::BusPorts> bus_;
    monitor::MonitorSession session_;
    FrameTableModel* model_;
    CaptureFile* capture_;
    CaptureFile* captureB_; // a raw capture's second side, beside the first file
    QString sideA_, sideB_;
    QString lowLatencyNote_;
    CaptureForm captureForm_ = CaptureForm::Text;
    QString capturePath_;
    bool captureReplace_ = true;
    std::string lines_;    // the capture's lines of one chunk, their memory kept
    std::vector<monitor::SessionFrame> fed_; // the frames of the last chunk, their bytes reused
    QTimer deadlineTimer_; // runs only while a frame is open or a request waits
    std::optional<std::int64_t> armedForUs_;
    QTimer batchTimer_; // runs only while frames wait for the table
    std::int64_t lastCommitUs_ = 0;
    bool statsDirty_ = false;
    bool started_ = false;
};

} // namespace varnok
