#include "engine/modbus_transaction.h"

#include <algorithm>

#include "engine/byte_view.h"
#include "logic/modbus/mbap.h"

namespace varnok::engine {

modbus::Framing framingOf(serial::LinkKind kind) {
    switch (kind) {
    case serial::LinkKind::Device:
        return modbus::Framing::Line;
    case serial::LinkKind::Rfc2217:
    case serial::LinkKind::RawTcp:
        return modbus::Framing::Stream;
    case serial::LinkKind::ModbusTcp:
        return modbus::Framing::Mbap;
    }
    return modbus::Framing::Line;
}

std::uint16_t nextTransactionId() {
    static std::uint16_t last = 0;
    return ++last;
}

ModbusTransaction::ModbusTransaction(QObject* parent) : QObject(parent) {
    for (QTimer* t : {&timeout_, &silence_}) {
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
    }
    connect(&timeout_, &QTimer::timeout, this, [this] { follow(rules_.timeout()); });
    connect(&silence_, &QTimer::timeout, this, [this] { follow(rules_.silence()); });
}

void ModbusTransaction::start(LineLease& lease, const modbus::PollRequest& request,
                              const QByteArray& frame, int timeoutMs, int retries,
                              const serial::LineSettings& line, modbus::Framing framing) {
    lease_ = &lease;
    frame_ = frame;
    framing_ = framing;
    timeoutMs_ = std::max(timeoutMs, 1);
    silenceMs_ = modbus::frameSilenceMs(line);
    rules_.begin(request, retries, framing);
    write();
}

bool ModbusTransaction::running() const {
    const auto s = rules_.state();
    return s == modbus::Transaction::State::Waiting || s == modbus::Transaction::State::Receiving;
}

void ModbusTransaction::feed(const QByteArray& chunk) {
    if (running())
        follow(rules_.received(byteSpan(chunk), nowUs()));
}

void ModbusTransaction::cancel() {
    timeout_.stop();
    silence_.stop();
    rules_.cancel();
}

void ModbusTransaction::write() {
    silence_.stop();
    QByteArray bytes = frame_;
    std::uint16_t id = 0;
    if (framing_ == modbus::Framing::Mbap) {
        // A new id for every try: a late reply to the one before is told apart.
        id = nextTransactionId();
        bytes = toByteArray(modbus::mbap::aduFromRtu(id, byteSpan(frame_)));
    }
    rules_.sent(nowUs(), id); // as the monitor counts: from the write of the request
    try {
        lease_->write(bytes);
    } catch (const Failure&) {
        cancel();
        emit lost();
        return;
    }
    timeout_.start(timeoutMs_);
}

void ModbusTransaction::follow(modbus::Transaction::Step step) {
    using Step = modbus::Transaction::Step;
    switch (step) {
    case Step::Wait:
        return;
    case Step::WaitSilence:
        silence_.start(silenceMs_);
        return;
    case Step::SendAgain:
        timeout_.stop();
        write();
        return;
    case Step::End:
        timeout_.stop();
        silence_.stop();
        emit ended();
        return;
    }
}

} // namespace varnok::engine
