#include "engine/line_lease.h"

#include <utility>

#include "engine/terminal_engine.h"

namespace varnok::engine {

SendHold::SendHold(TerminalEngine* engine) : engine_(engine) {
    ++engine_->sendHolds_;
}

SendHold::SendHold(SendHold&& other) noexcept : engine_(std::exchange(other.engine_, nullptr)) {}

SendHold& SendHold::operator=(SendHold&& other) noexcept {
    if (this != &other) {
        release();
        engine_ = std::exchange(other.engine_, nullptr);
    }
    return *this;
}

void SendHold::release() {
    if (TerminalEngine* e = std::exchange(engine_, nullptr))
        e->endSendHold();
}

LineLease::LineLease(LineLease&& other) noexcept
    : engine_(std::exchange(other.engine_, nullptr)), id_(std::exchange(other.id_, 0)) {}

LineLease& LineLease::operator=(LineLease&& other) noexcept {
    if (this != &other) {
        release();
        engine_ = std::exchange(other.engine_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

namespace {

Outcome notOpen() {
    return Outcome::failed(QString::fromStdString(
        serial::PortError(serial::kErrPortNotOpen, "Operation valid only when the port is open")
            .description()));
}

} // namespace

bool LineLease::held() const {
    return engine_ && engine_->holder(id_);
}

void LineLease::release() {
    if (TerminalEngine* e = std::exchange(engine_, nullptr))
        e->giveBack(std::exchange(id_, 0));
}

QByteArray LineLease::read() {
    if (!held())
        throw serial::PortError(serial::kErrPortNotOpen,
                                "Operation valid only when the port is open");
    return engine_->read();
}

void LineLease::write(const QByteArray& bytes) {
    if (!held())
        throw serial::PortError(serial::kErrPortNotOpen,
                                "Operation valid only when the port is open");
    if (engine_->listenOnly_ && !engine_->holder(id_)->use.forwards)
        throw serial::PortError(serial::kErrListenOnly,
                                TerminalEngine::listenOnlyText().toStdString());
    engine_->port_->output(bytes);
    emit engine_->sent(bytes, TrafficTime::now());
}

SendHold LineLease::holdSends() {
    return held() ? SendHold(engine_) : SendHold();
}

Outcome LineLease::changeLineSettings(const serial::LineSettings& line) {
    if (!held())
        return notOpen();
    engine_->holder(id_)->settingsChanged = true;
    return engine_->changeLineSettings(line);
}

Outcome LineLease::restoreLineSettings() {
    if (!held())
        return notOpen();
    engine_->holder(id_)->settingsChanged = false;
    return engine_->changeLineSettings(engine_->port_->lineSettings());
}

void LineLease::onData(std::function<void()> told) {
    if (held())
        engine_->holder(id_)->onData = std::move(told);
}

void LineLease::onWanted(std::function<void()> told) {
    if (held())
        engine_->holder(id_)->onWanted = std::move(told);
}

bool LineLease::wanted() const {
    return held() && engine_->holder(id_)->wantedTold;
}

} // namespace varnok::engine
