#include "engine/monitor/traffic_recorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

#include "engine/bus_ports.h"
#include "engine/byte_view.h"
#include "engine/modbus_transaction.h"
#include "engine/monitor/capture_file.h"
#include "engine/monitor/frame_table_model.h"
#include "logic/monitor/frame_text.h"

namespace varnok {

using engine::byteSpan;
using engine::nowUs;

TrafficRecorder::TrafficRecorder(engine::TerminalEngine* engine, QObject* parent)
    : QObject(parent), engine_(engine), model_(new FrameTableModel(this)),
      capture_(new CaptureFile(this)), captureB_(new CaptureFile(this)) {
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer); // gaps are a few ms
    connect(&deadlineTimer_, &QTimer::timeout, this, &TrafficRecorder::onDeadline);
    batchTimer_.setSingleShot(true);
    connect(&batchTimer_, &QTimer::timeout, this, &TrafficRecorder::commit);
    for (CaptureFile* file : {capture_, captureB_})
        connect(file, &CaptureFile::failed, this, [this](const QString& text) {
            // One side failing ends the whole capture: half a record misleads.
            capture_->stop();
            captureB_->stop();
            emit captureChanged(false);
            emit captureFailed(text);
        });
}

void TrafficRecorder::start() {
    if (started_ || !engine_)
        return;
    started_ = true;
    engine::TerminalEngine* engine = engine_;
    connect(engine, &engine::TerminalEngine::received, this,
            [this](const QByteArray& bytes, engine::TrafficTime time) {
                // Raw capture is the bytes as they came, before any framing.
                captureRaw(false, bytes);
                onTraffic(monitor::Direction::Rx, bytes, time);
            });
    connect(engine, &engine::TerminalEngine::sent, this,
            [this](const QByteArray& bytes, engine::TrafficTime time) {
                // In a bridge what is written to A is what B received.
                if (bus_ && bus_->mode() == engine::BusPorts::Mode::Bridge)
                    captureRaw(true, bytes);
                onTraffic(monitor::Direction::Tx, bytes, time);
            });
    connect(engine, &engine::TerminalEngine::listenOnlyChanged, this,
            &TrafficRecorder::onBusChanged);
    if (bus_) {
        connect(bus_, &engine::BusPorts::modeChanged, this, &TrafficRecorder::onBusChanged);
        // A tap's other side; a bridge's B bytes come back as what is written to A.
        connect(bus_, &engine::BusPorts::received, this,
                [this](const QByteArray& bytes, engine::TrafficTime time) {
                    if (bus_->mode() != engine::BusPorts::Mode::Tap)
                        return;
                    captureRaw(true, bytes);
                    onTraffic(monitor::Direction::RxB, bytes, time);
                });
    }
    onBusChanged();
    connect(engine, &engine::TerminalEngine::portOpenChanged, this,
            &TrafficRecorder::onPortOpenChanged);
    // The frame gap follows a change of speed between probes, as at an opening.
    connect(engine, &engine::TerminalEngine::lineSettingsChanged, this,
            [this](const serial::LineSettings& line) {
                session_.setLine(line);
                emit ruleChanged();
            });
    if (engine->isOpen())
        onPortOpenChanged(true);
}

TrafficRecorder::~TrafficRecorder() = default;

void TrafficRecorder::followBus(engine::BusPorts* bus) {
    bus_ = bus;
}

// Whoever drives the line, this program listens: frames are judged from what they are.
void TrafficRecorder::onBusChanged() {
    const auto mode = bus_ ? bus_->mode() : engine::BusPorts::Mode::Single;
    session_.setListening((engine_ && engine_->listenOnly()) ||
                          mode != engine::BusPorts::Mode::Single);
    setSideNames(sideA_, sideB_);
    arm();
}

void TrafficRecorder::setSideNames(const QString& a, const QString& b) {
    sideA_ = a.trimmed();
    sideB_ = b.trimmed();
    const bool bridge = bus_ && bus_->mode() == engine::BusPorts::Mode::Bridge;
    const monitor::SideNames sides{sideA_.toStdString(), sideB_.toStdString(), bridge};
    session_.setSideNames(sides);
    model_->setSideNames(sides);
}

void TrafficRecorder::askLowLatency() {
    if (!engine_ || !engine_->isOpen())
        return;
    const QString note = engine_->setLowLatency(session_.decoding());
    if (note != lowLatencyNote_) {
        lowLatencyNote_ = note;
        emit ruleChanged();
    }
}

// A raw capture keeps each side in a file of its own: A's in the file chosen, B's in the same
// name with "-B" before its extension, opened when B's first bytes come.
void TrafficRecorder::captureRaw(bool sideB, const QByteArray& bytes) {
    if (captureForm_ != CaptureForm::Raw || !capture_->active())
        return;
    if (!sideB) {
        capture_->write(bytes.constData(), bytes.size());
        return;
    }
    if (!captureB_->active()) {
        const QString path = sideBCapturePath(capturePath_);
        const QString error = captureB_->start(path, captureReplace_);
        if (!error.isEmpty()) {
            capture_->stop();
            emit captureChanged(false);
            emit captureFailed(error);
            return;
        }
    }
    captureB_->write(bytes.constData(), bytes.size());
}

QString sideBCapturePath(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    return suffix.isEmpty() ? base + QStringLiteral("-B") : base + QStringLiteral("-B.") + suffix;
}

void TrafficRecorder::setDecoding(bool on) {
    session_.setDecoding(on);
    askLowLatency();
    arm();
    emit statsChanged();
}

void TrafficRecorder::setUserGapUs(std::int64_t us) {
    session_.setUserGapUs(us);
    emit ruleChanged();
}

void TrafficRecorder::setTimeoutUs(std::int64_t us) {
    session_.setTimeoutUs(us);
    armedForUs_.reset(); // the wait may now end sooner
    arm();
}

void TrafficRecorder::resetStats() {
    session_.resetStats();
    emit statsChanged();
}

void TrafficRecorder::onPortOpenChanged(bool open) {
    if (!open) {
        std::vector<monitor::SessionFrame> last = session_.endLine();
        take(last);
        return;
    }
    session_.setLine(engine_->lineSettings());
    // What carries the line decides how frames end and what they are.
    session_.setFraming(engine::framingOf(engine_->port().kind()));
    lowLatencyNote_.clear();
    askLowLatency();
    emit ruleChanged();
}

void TrafficRecorder::onTraffic(monitor::Direction direction, const QByteArray& bytes,
                                engine::TrafficTime time) {
    session_.feed(time.monotonicNs / 1000, time.wallMs, direction, byteSpan(bytes), fed_);
    take(fed_);
    arm();
}

void TrafficRecorder::onDeadline() {
    armedForUs_.reset();
    const monitor::TrafficCounts before = session_.counts();
    std::vector<monitor::SessionFrame> ended = session_.advance(nowUs());
    take(ended);
    if (session_.counts().timeouts != before.timeouts)
        emit statsChanged();
    arm();
}

void TrafficRecorder::arm() {
    const std::optional<std::int64_t> due = session_.nextDeadlineUs();
    if (!due) {
        deadlineTimer_.stop();
        armedForUs_.reset();
        return;
    }
    // Under a flood every chunk moves the deadline on: the timer then finds the frame still
    // open and waits again, instead of being restarted for every chunk.
    if (armedForUs_ && *armedForUs_ <= *due && deadlineTimer_.isActive())
        return;
    armedForUs_ = *due;
    const std::int64_t waitUs = std::max<std::int64_t>(*due - nowUs(), 0);
    deadlineTimer_.start(static_cast<int>(std::min<std::int64_t>((waitUs + 999) / 1000, 1 << 30)));
}

void TrafficRecorder::take(std::vector<monitor::SessionFrame>& frames) {
    if (frames.empty())
        return;
    const bool text = captureForm_ == CaptureForm::Text && capture_->active();
    lines_.clear();
    for (monitor::SessionFrame& f : frames) {
        // Made here rather than by the capture's writer: measured on two cores, the receive
        // side then reads in larger chunks and the whole goes faster.
        if (text) {
            monitor::appendFrameLine(lines_, f.frame, f.gapUs, f.text(), session_.sideNames());
            lines_ += '\n';
        }
        model_->queue(std::move(f));
    }
    if (!lines_.empty())
        capture_->write(lines_.data(), static_cast<qint64>(lines_.size()));
    statsDirty_ = statsDirty_ || session_.decoding();
    schedule();
}

void TrafficRecorder::schedule() {
    if (!batchTimer_.isActive()) {
        const std::int64_t sinceUs = nowUs() - lastCommitUs_;
        const std::int64_t waitUs = std::max<std::int64_t>(
            std::int64_t(kBatchMs) * 1000, std::int64_t(kFloodBatchMs) * 1000 - sinceUs);
        batchTimer_.start(static_cast<int>(waitUs / 1000));
    }
}

void TrafficRecorder::mark(const QString& text) {
    if (!started_)
        return;
    // Frames whose silence has passed end first, though their deadline has not fired yet.
    onDeadline();
    const std::int64_t wallMs = QDateTime::currentMSecsSinceEpoch();
    std::string shown = monitor::markText(text.toStdString());
    if (captureForm_ == CaptureForm::Text && capture_->active()) {
        const std::string line = monitor::markLine(wallMs, shown) + '\n';
        capture_->write(line.data(), static_cast<qint64>(line.size()));
    }
    model_->queueMark(wallMs, std::move(shown));
    schedule();
}

void TrafficRecorder::commit() {
    lastCommitUs_ = nowUs();
    model_->commit();
    if (statsDirty_) {
        statsDirty_ = false;
        emit statsChanged();
    }
}

engine::Outcome TrafficRecorder::startCapture(const QString& path, CaptureForm form, bool replace) {
    const QString error = capture_->start(path, replace);
    if (!error.isEmpty())
        return engine::Outcome::failed(error);
    captureForm_ = form;
    capturePath_ = path;
    captureReplace_ = replace;
    if (form == CaptureForm::Text) {
        const std::string header =
            monitor::captureHeader(QDateTime::currentMSecsSinceEpoch(),
                                   engine_ ? engine_->port().devicePath().toStdString() : "") +
            '\n';
        capture_->write(header.data(), static_cast<qint64>(header.size()));
    }
    emit captureChanged(true);
    return {};
}

void TrafficRecorder::stopCapture() {
    if (!capture_->active())
        return;
    const bool sideB = !captureB_->active() || captureB_->stop();
    if (sideB && capture_->stop())
        emit captureChanged(false);
}

bool TrafficRecorder::capturing() const {
    return capture_->active();
}

} // namespace varnok
