#include "engine/terminal_engine.h"

#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <utility>

#include "engine/modbus_transaction.h"
#include "logic/codec/hex_list.h"
#include "logic/codec/recv_display.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/mbap.h"
#include "logic/modbus/rtu_frame.h"
#include "logic/serial/network_port.h"
#include "logic/serial/settings_text.h"
#include "port/any_link.h"
#include "port/comm_port.h"
#include "port/network_link.h"

namespace varnok::engine {

namespace {

// Every byte one character of the same code: the receive display and the console's replies.
QString latin1(const char* data, qsizetype size) {
    return QString::fromLatin1(data, size);
}

QString failureText(const char* form, const Failure& e) {
    return latin1(form, -1).arg(e.number()).arg(QString::fromStdString(e.description()));
}

QByteArray toBytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

TrafficTime TrafficTime::now() {
    using namespace std::chrono;
    return {duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count(),
            duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count()};
}

TerminalEngine::TerminalEngine(std::unique_ptr<serial::Link> port, QObject* parent)
    : QObject(parent),
      port_(port ? std::move(port)
                 : std::make_unique<serial::AnyLink>(std::make_unique<serial::CommPort>(),
                                                     std::make_unique<serial::NetworkLink>())) {
    port_->setObjectName(QStringLiteral("MSComm1"));

    // Arriving data and a vanished device wake the receive side. The port tells them from
    // the event loop, never inside a port call, so the pass runs at once: queued, each read
    // would cost the loop another turn.
    connect(port_.get(), &serial::Link::dataArrived, this, [this] {
        if (loop_ == AutoLoop::Passing)
            arrivedInPass_ = true; // told in a nested loop (a message) while a pass runs
        else if (loop_ == AutoLoop::Waiting)
            runPass();
        else
            tellWaiting(); // it waits for a manual read or the line's holder
        if (holder_ && holder_->use.input && holder_->onData) {
            const auto told = holder_->onData; // the holder may give the line back meanwhile
            told();
        }
    });
    connect(port_.get(), &serial::Link::deviceLost, this, &TerminalEngine::onDeviceLost,
            Qt::QueuedConnection);
    connect(port_.get(), &serial::Link::openSettled, this, &TerminalEngine::onOpenSettled);
    connect(port_.get(), &serial::Link::linesMayHaveChanged, this, [this] {
        if (loop_ != AutoLoop::Off)
            readLines();
    });
    displayFrame_.setSingleShot(true);
    connect(&displayFrame_, &QTimer::timeout, this, [this] { tellDisplay(false); });
    clock_.start();
    autoStart_.setSingleShot(true);
    connect(&autoStart_, &QTimer::timeout, this, &TerminalEngine::startAutoReceive);
    consoleStep_.setSingleShot(true);
    connect(&consoleStep_, &QTimer::timeout, this, &TerminalEngine::consoleStep);

    autoSendTimer_.setObjectName(QStringLiteral("Timer2"));
    autoSendTimer_.setTimerType(Qt::PreciseTimer); // the period typed, not +-5 %
    autoSendTimer_.setInterval(500);
    connect(&autoSendTimer_, &QTimer::timeout, this, [this] {
        // A failed send's message may be open (this tick runs nested in it): skip the tick.
        if (autoSend_ && !sendMessageOpen_)
            emit autoSendDue();
    });
    autoSendTimer_.start();

    connect(&devices_, &serial::DeviceWatcher::changed, this, &TerminalEngine::tryReopen);
    reopenRetry_.setSingleShot(true);
    reopenRetry_.setInterval(kDeviceRetryMs);
    connect(&reopenRetry_, &QTimer::timeout, this, &TerminalEngine::tryReopen);
}

TerminalEngine::~TerminalEngine() {
    port_->disconnect(this);
    consoleHold_.release();
    consoleLease_.release();
}

void TerminalEngine::report(const QString& text) {
    tellDisplay(); // the user reads the message with the display as it stands
    emit message(text);
}

void TerminalEngine::closeIfLost() {
    // A port closed under the terminal (its device vanished) takes it to its closed state.
    if (!port_->portOpen() && portOpened_)
        enterClosed();
}

void TerminalEngine::fail(const char* form, const Failure& e) {
    closeIfLost();
    report(failureText(form, e));
}

// ---------------------------------------------------------------- port

Outcome TerminalEngine::open(const OpenRequest& request) {
    Outcome done = tryOpen(request);
    if (!done.failure().isEmpty())
        tellDisplay(); // the user reads the failure with the display as it stands
    return done;
}

Outcome TerminalEngine::tryOpen(const OpenRequest& request) {
    openRequest_ = request;
    try {
        port_->setLineSettings(
            serial::parseSettings(request.baud.toStdString(), request.lineControl.toStdString()));
        port_->setCommPort(request.portNumber);
        port_->setHandshaking(request.handshaking);
        port_->setInBufferSize(8192);
        port_->setDTREnable(request.dtrAsserted);
        port_->setPortOpen(true);
        if (port_->opening()) {
            // A port over the network connects first: the opening ends in onOpenSettled.
            setConnecting(true);
            return {};
        }
        if (!port_->portOpen())
            return Outcome::failed({});
    } catch (const Failure& e) {
        return Outcome::failed(QString::fromStdString(e.description()));
    }
    return finishOpen();
}

void TerminalEngine::setConnecting(bool on) {
    if (connecting_ == on)
        return;
    connecting_ = on;
    emit connectingChanged(on);
}

void TerminalEngine::cancelConnecting() {
    reopenConnecting_.clear();
    port_->setPortOpen(false); // the link ends its opening without a word
    setConnecting(false);
}

void TerminalEngine::onOpenSettled(const QString& failure) {
    if (!connecting_)
        return; // cancelled meanwhile
    setConnecting(false);
    const QString reopening = std::exchange(reopenConnecting_, {});
    Outcome done = failure.isEmpty() && port_->portOpen() ? finishOpen() : Outcome::failed(failure);
    if (done && !reopening.isEmpty())
        finishReopen(reopening);
    else if (!done && !reopening.isEmpty())
        reopenRetry_.start(); // quietly, until the server accepts again
    else if (!done)
        report(done.failure());
}

Outcome TerminalEngine::finishOpen() {
    try {
        port_->setInBufferCount(0); // what arrived before the open is not ours
    } catch (const Failure& e) {
        port_->setPortOpen(false);
        return Outcome::failed(QString::fromStdString(e.description()));
    }
    toldWaiting_ = 0;
    stopReopenWatch();
    portOpened_ = true;
    shownLines_.reset();
    deviceNote_ = noteOnLink();
    if (lowLatency_)
        static_cast<void>(port_->setLowLatency(true)); // asked again: the answer was given
    emit portOpenChanged(true);
    setSendAscii(true);
    startAutoReceive();
    return {};
}

QString TerminalEngine::noteOnLink() const {
    QStringList notes;
    const bool network = port_->kind() != serial::LinkKind::Device;
    if (network)
        notes << port_->linkNote(); // it says itself whose line settings are in force
    else if (!port_->framingApplied())
        notes << QStringLiteral("pseudo-terminal: no line, framing not applied");
    // A far end that has not answered may run at other settings than those shown.
    QStringList unconfirmed;
    for (serial::LinkSetting s : port_->unconfirmedSettings())
        unconfirmed << QString::fromLatin1(serial::linkSettingName(s));
    if (!unconfirmed.isEmpty() && network)
        notes << QStringLiteral("settings not confirmed by the server: ") +
                     unconfirmed.join(QStringLiteral(", "));
    else if (!unconfirmed.isEmpty())
        notes << unconfirmed.join(QStringLiteral(", ")) + QStringLiteral(" not confirmed");
    notes.removeAll(QString());
    return notes.join(QStringLiteral("; "));
}

void TerminalEngine::setReopen(bool on) {
    reopen_ = on;
    if (!on)
        stopReopenWatch();
}

void TerminalEngine::stopReopenWatch() {
    reopenRetry_.stop();
    if (reopenPath_.isEmpty())
        return;
    const QString path = reopenPath_;
    reopenPath_.clear();
    if (!reopenConnecting_.isEmpty())
        cancelConnecting(); // Reopen switched off while it connects
    devices_.follow(QStringLiteral("reopen"), QString());
    emit reopenWaitingChanged(false, path);
}

void TerminalEngine::watchForReopen() {
    emit reopenWaitingChanged(true, reopenPath_);
    if (serial::looksLikeNetworkPort(reopenPath_.toStdString())) {
        // A server tells nobody when it accepts again: ask once a second, idle in between.
        reopenRetry_.setInterval(kNetworkReopenMs);
        reopenRetry_.start();
        return;
    }
    // The system tells when the folder changes: no polling while the device is away.
    reopenRetry_.setInterval(kDeviceRetryMs);
    devices_.follow(QStringLiteral("reopen"), reopenPath_);
}

void TerminalEngine::tryReopen() {
    if (reopenPath_.isEmpty() || portOpened_ || connecting_)
        return;
    if (!serial::looksLikeNetworkPort(reopenPath_.toStdString())) {
        if (!QFileInfo::exists(reopenPath_)) {
            reopenSeenGone_ = true;
            return;
        }
        // The dead device's node may linger a moment: only a device that went and came back
        // (or a link that now points elsewhere) is a new one.
        if (!reopenSeenGone_ && QFileInfo(reopenPath_).canonicalFilePath() == reopenTarget_)
            return;
    }
    const QString path = reopenPath_;
    if (!tryOpen(openRequest_)) {
        // A device present but not ready yet (permissions are set a moment after it appears),
        // or a server that does not take the connection yet.
        reopenRetry_.start();
        return;
    }
    if (connecting_)
        reopenConnecting_ = path; // ends in onOpenSettled
    else
        finishReopen(path);
}

void TerminalEngine::finishReopen(const QString& path) {
    // The receive and send ways in force when the device vanished.
    setReceiveBinary(reopenBinary_);
    setSendAscii(reopenAscii_);
    if (reopenManual_) {
        manual_ = true;
        emit receiveModeChanged();
    }
    emit reopened(path);
}

void TerminalEngine::close() {
    if (connecting_) {
        cancelConnecting(); // the port was never open
        return;
    }
    // A port the layer closed after its device vanished still leaves the terminal open: it
    // returns to its closed state then too, so that the user can open again.
    if (!port_->portOpen() && !portOpened_)
        return;
    try {
        port_->setPortOpen(false);
    } catch (const Failure& e) {
        report(failureText("Close_Com => ErrCode=%1ErrMsg=%2", e));
        return;
    }
    enterClosed(false);
}

void TerminalEngine::shutdown() {
    autoSend_ = false;
    autoSendTimer_.stop();
    autoStart_.stop();
    displayFrame_.stop();
    stopAutoLoop();
    if (port_->portOpen() || connecting_)
        port_->setPortOpen(false);
    connecting_ = false;
    portOpened_ = false;
}

void TerminalEngine::enterClosed(bool lost) {
    tellDisplay();
    endConsoleExchange(std::nullopt); // no reply comes through a closed port
    setAutoSend(false);
    portOpened_ = false;
    closedByLoss_ = lost;
    deviceNote_.clear();
    if (lost && reopen_) {
        reopenPath_ = port_->devicePath();
        reopenManual_ = manual_;
        reopenBinary_ = binary_;
        reopenAscii_ = sendAscii_;
        reopenTarget_ = QFileInfo(reopenPath_).canonicalFilePath();
        reopenSeenGone_ = reopenTarget_.isEmpty();
        watchForReopen();
    }
    stopAutoLoop(); // nothing left for auto receive to wait for
    shownLines_.reset();
    endLeases();
    emit portOpenChanged(false);
    emit modemLinesChanged(false, {});
}

void TerminalEngine::onDeviceLost() {
    // Auto-send stops at once so that no tick meets the dead port. A running auto receive
    // reports the loss itself at the pass the loss wakes; otherwise it is reported here, once.
    setAutoSend(false);
    if (loop_ != AutoLoop::Off && !manual_)
        return;
    if (port_->portOpen()) {
        try {
            port_->inBufferCount();
        } catch (const Failure& e) {
            fail("ErrCode=%1; ErrMsg=%2", e);
            return;
        }
    }
    if (portOpened_)
        enterClosed();
}

void TerminalEngine::setDtrAsserted(bool asserted) {
    port_->setDTREnable(asserted);
}

void TerminalEngine::pollLink() {
    if (linkMessageOpen_)
        return; // one failure message at a time
    QString text;
    try {
        if (port_->cdHolding())
            text = QStringLiteral("Connecting...");
        else if (portOpened_)
            text = QStringLiteral("Opposite Breaking");
        else
            text = QStringLiteral("Local Breaking");
    } catch (const Failure& e) {
        linkMessageOpen_ = true;
        report(failureText("%1; ErrMsg=%2", e));
        linkMessageOpen_ = false;
        return;
    }
    if (text != linkState_) {
        linkState_ = text;
        emit linkStateChanged(text);
    }
}

// ---------------------------------------------------------------- receive

QByteArray TerminalEngine::read() {
    const QByteArray bytes = port_->inputBytes();
    if (bytes.isEmpty())
        return bytes;
    emit received(bytes, TrafficTime::now());
    // The front of what was read may have been told while it waited.
    const qsizetype told = std::min(toldWaiting_, bytes.size());
    toldWaiting_ -= told;
    if (told < bytes.size())
        emit arrived(told == 0 ? bytes : bytes.mid(told));
    return bytes;
}

void TerminalEngine::tellWaiting() {
    const QByteArray& waiting = port_->waitingInput();
    toldWaiting_ = std::min(toldWaiting_, waiting.size()); // cleared or closed meanwhile
    if (waiting.size() > toldWaiting_) {
        const QByteArray fresh = waiting.mid(toldWaiting_);
        toldWaiting_ = waiting.size();
        emit arrived(fresh);
    }
}

QString TerminalEngine::displayChunk(const QByteArray& bytes) const {
    if (!binary_)
        return latin1(bytes.constData(), bytes.size());
    const std::string hex = codec::hexDisplay(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              static_cast<std::size_t>(bytes.size()));
    return latin1(hex.data(), static_cast<qsizetype>(hex.size()));
}

void TerminalEngine::appendDisplay(const QString& chunk) {
    display_ += chunk;
    tellDisplayLater();
}

void TerminalEngine::tellDisplayLater() {
    // Once a frame under a flood; at the next turn of the event loop when input is sparse.
    const bool text = clearUntold_ || display_.size() > toldLength_;
    const qint64 now = clock_.elapsed();
    const qint64 due =
        std::max(now, text ? toldMs_ + kDisplayFrameMs : countersToldMs_ + kCounterFrameMs);
    // Text does not wait for a later frame that only the counters asked for.
    if (displayFrame_.isActive() && frameDueMs_ <= due)
        return;
    frameDueMs_ = due;
    displayFrame_.start(static_cast<int>(std::min<qint64>(due - now, kCounterFrameMs)));
}

void TerminalEngine::tellDisplay(bool countersNow) {
    displayFrame_.stop();
    const qint64 now = clock_.elapsed();
    if (now - toldMs_ > 2 * kDisplayFrameMs)
        busySinceMs_ = now; // a quiet frame came between
    toldMs_ = now;
    if (clearUntold_) {
        clearUntold_ = false;
        if (!windowEmpty_)
            emit displayCleared();
        windowEmpty_ = true;
    }
    if (display_.size() > toldLength_) {
        // What came since the last frame only, one chunk: the widget inserts once.
        const QString chunk = display_.mid(toldLength_);
        toldLength_ = display_.size();
        windowEmpty_ = false;
        emit displayAppended(chunk);
    }
    if (countersUntold_) {
        const bool flood = now - busySinceMs_ >= kCounterFrameMs;
        if (!countersNow && flood && now - countersToldMs_ < kCounterFrameMs) {
            tellDisplayLater(); // when due, or after the flood's last frame
            return;
        }
        countersUntold_ = false;
        countersToldMs_ = now;
        emit receiveCountersChanged(recvLength_, recvTotal_);
    }
}

void TerminalEngine::appendManual(const QString& chunk, std::int64_t dropFront) {
    tellDisplay(); // what auto receive left untold goes first
    if (dropFront <= 0) {
        display_ += chunk;
        tellDisplay();
        return;
    }
    // Over the cap: the tail is kept.
    if (dropFront >= display_.size()) {
        display_ = chunk.mid(static_cast<qsizetype>(dropFront - display_.size()));
    } else {
        display_.remove(0, static_cast<qsizetype>(dropFront));
        display_ += chunk;
    }
    toldLength_ = display_.size();
    windowEmpty_ = display_.isEmpty();
    emit displayReplaced(display_);
}

void TerminalEngine::setReceiveCounters(std::int32_t length, std::int32_t total) {
    recvLength_ = length;
    recvTotal_ = total;
    countersUntold_ = true;
    tellDisplayLater();
}

void TerminalEngine::showLines(bool known, serial::ModemLines lines) {
    // Told only on a change: a polled device reads the same lines ten times a second.
    if (known && shownLines_ == lines)
        return;
    shownLines_ = lines;
    emit modemLinesChanged(known, lines);
}

void TerminalEngine::setReceiveBinary(bool binary) {
    binary_ = binary;
    emit receiveModeChanged();
}

void TerminalEngine::manualRead() {
    manual_ = true;
    stopAutoLoop();
    emit receiveModeChanged();
    try {
        if (port_->inBufferCount() < 1)
            return;
        const QString chunk = displayChunk(read());
        // What scrolls off past the cap still counts: it folds into the base, also in binary
        // mode, where the counters are not shown but a later text read shows the total.
        codec::ManualAppend r;
        try {
            r = codec::manualReceiveAppend(display_.size(), chunk.size(), totalBase_);
        } catch (const Overflow&) {
            // What was read is shown; only the count failed.
            appendManual(chunk, display_.size() + chunk.size() - codec::kManualDisplayCap);
            throw;
        }
        appendManual(chunk, r.dropFront);
        totalBase_ = r.base;
        if (!binary_) { // the counters are not touched in binary mode
            setReceiveCounters(r.recvLength, r.total);
            tellDisplay(); // a read by hand shows at once
        }
    } catch (const Failure& e) {
        fail("ManualRecv => ErrCode=%1; ErrMsg=%2", e);
    }
}

void TerminalEngine::startAutoReceive() {
    manual_ = false;
    emit receiveModeChanged();
    if (inputLent_ > 0)
        return; // starts when the input comes back
    if (loop_ != AutoLoop::Off)
        return; // one loop: it goes on as before
    loop_ = AutoLoop::Waiting;
    receivePass(); // what waits already, then whenever input arrives
    if (loop_ != AutoLoop::Off)
        readLines();
}

void TerminalEngine::scheduleAutoReceive(int delayMs) {
    autoStart_.start(delayMs);
}

void TerminalEngine::runPass() {
    loop_ = AutoLoop::Passing;
    arrivedInPass_ = false;
    receivePass();
    if (loop_ != AutoLoop::Passing)
        return; // stopped, or started anew, by the pass
    loop_ = AutoLoop::Waiting;
    // Another pass only for what this one left: bytes it did not take, or a loss; queued, so
    // that timers get their turn under a flood.
    if (arrivedInPass_ && port_->hasArrived()) {
        loop_ = AutoLoop::Queued;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (loop_ == AutoLoop::Queued) // not stopped meanwhile
                    runPass();
            },
            Qt::QueuedConnection);
    }
}

void TerminalEngine::stopAutoLoop() {
    loop_ = AutoLoop::Off;
}

void TerminalEngine::readLines() {
    try {
        showLines(true, port_->modemLines());
    } catch (const Failure& e) {
        stopAutoLoop();
        fail("AutoRecv => ErrCode=%1; ErrMsg=%2", e);
    }
}

void TerminalEngine::receivePass() {
    // The loop's run condition, tested at the start of every pass.
    if (!port_->portOpen() || manual_) {
        stopAutoLoop();
        closeIfLost(); // another operation already reported the vanished device
        return;
    }
    try {
        if (port_->inBufferCount() != 0) {
            const QByteArray bytes = read();
            const std::int64_t length =
                display_.size() + codec::displayLength(bytes.size(), binary_);
            codec::AutoPass r;
            try {
                r = codec::autoReceivePass(length, totalBase_, showData_, showLimit_);
            } catch (const Overflow&) {
                // The chunk was read: it stays on display; only the total could not be kept.
                appendDisplay(displayChunk(bytes));
                setReceiveCounters(static_cast<std::int32_t>(length), recvTotal_);
                throw;
            }
            if (r.clearDisplay) {
                // Emptied in this same pass: the chunk need not be shown, nor even made.
                display_.clear();
                toldLength_ = 0;
                clearUntold_ = true;
                totalBase_ = r.base;
            } else {
                appendDisplay(displayChunk(bytes));
            }
            setReceiveCounters(r.recvLength, r.total);
        }
    } catch (const Failure& e) {
        stopAutoLoop();
        fail("AutoRecv => ErrCode=%1; ErrMsg=%2", e);
    }
}

void TerminalEngine::clearReceive() {
    display_.clear();
    toldLength_ = 0;
    clearUntold_ = true;
    totalBase_ = 0;
    setReceiveCounters(0, 0);
    tellDisplay(); // the user pressed Clear: at once
}

void TerminalEngine::clearInput() {
    // A closed port holds no input: nothing to do and nothing to say.
    if (!port_->portOpen())
        return;
    try {
        // Dropped from the display, not from the traffic: what was taken in is still told.
        if (port_->inBufferCount() > 0)
            read();
        port_->setInBufferCount(0);
        toldWaiting_ = 0;
    } catch (const Failure& e) {
        // Only a device that vanished fails here, and this may be the first to learn of it:
        // swallowing the failure would leave the terminal open on a dead port.
        fail("ErrCode=%1; ErrMsg=%2", e);
    }
}

// ---------------------------------------------------------------- the line's users

std::uint64_t TerminalEngine::askForLine(const LineUse& use, QObject* context,
                                         std::function<void(LineLease)> granted) {
    const std::uint64_t ticket = ++nextTicket_;
    asks_.push_back({ticket, use, context, std::move(granted)});
    if (!holder_) {
        grantNext();
    } else if (!holder_->wantedTold) {
        holder_->wantedTold = true;
        if (const auto told = holder_->onWanted)
            told();
    }
    return ticket;
}

void TerminalEngine::withdrawAsk(std::uint64_t ticket) {
    std::erase_if(asks_, [ticket](const Ask& a) { return a.ticket == ticket; });
}

void TerminalEngine::grantNext() {
    while (!holder_ && !asks_.empty()) {
        Ask ask = std::move(asks_.front());
        asks_.pop_front();
        if (!ask.context)
            continue;
        holder_.emplace();
        holder_->id = ask.ticket;
        holder_->use = ask.use;
        takeInput(*holder_);
        if (!holder(ask.ticket))
            continue; // the port failed under the hand-over: every lease has ended
        holder_->wantedTold = !asks_.empty(); // told through onWanted once the holder sets it
        emit lineHolderChanged(ask.use.who);
        ask.granted(LineLease(this, ask.ticket));
        if (Holder* h = holder(ask.ticket); h && h->wantedTold && h->onWanted) {
            const auto told = h->onWanted;
            told();
        }
    }
}

// A closed port has no input to hand over: a user that only writes may still hold the line
// and meet the closed port's refusal there.
void TerminalEngine::takeInput(Holder& h) {
    if (!h.use.input || !portOpened_)
        return;
    h.inputTaken = true;
    // The receive way the input comes back to is the one before the first lease.
    if (inputLent_++ == 0)
        manualBeforeLease_ = manual_;
    if (h.use.showWaiting || !manual_)
        manualRead(); // from now on only the holder reads
}

void TerminalEngine::returnInput() {
    if (inputLent_ > 0 && --inputLent_ == 0 && portOpened_) {
        if (!manual_)
            startAutoReceive(); // asked for while the input was lent
        else if (!manualBeforeLease_)
            scheduleAutoReceive(0);
    }
}

void TerminalEngine::giveBack(std::uint64_t id) {
    if (!holder(id))
        return;
    Holder h = std::move(*holder_);
    holder_.reset();
    if (h.settingsChanged && portOpened_)
        static_cast<void>(changeLineSettings(port_->lineSettings())); // told when changed
    emit lineHolderChanged(QString());
    grantNext(); // the next holder takes the input over before the terminal's receive does
    if (h.inputTaken)
        returnInput();
}

void TerminalEngine::endLeases() {
    asks_.clear();
    if (holder_) {
        holder_.reset();
        emit lineHolderChanged(QString());
    }
    inputLent_ = 0; // a closed port has no receive to give back
    heldSends_.clear();
}

void TerminalEngine::endSendHold() {
    if (sendHolds_ > 0 && --sendHolds_ > 0)
        return;
    while (!heldSends_.isEmpty() && sendHolds_ == 0) {
        try {
            write(heldSends_.takeFirst());
        } catch (const Failure& e) {
            heldSends_.clear();
            if (!port_->portOpen() && portOpened_)
                enterClosed();
            report(failureText("ErrCode=%1; ErrMsg=%2", e));
        }
    }
}

// ---------------------------------------------------------------- console

Outcome TerminalEngine::consoleNotOpen(const QString& what) {
    return Outcome::failed(
        QStringLiteral("%1: the port is not open. Open it in the main window, then try again.")
            .arg(what));
}

Outcome TerminalEngine::consoleExchange(const QString& command, int pauseMs, const QString& what,
                                        QObject* context,
                                        std::function<void(std::optional<QString>)> done) {
    consoleStep_.stop();
    consoleDone_ = nullptr;
    consoleHold_.release();
    consoleLease_.release();
    withdrawAsk(consoleAsk_);
    if (!portOpened_)
        return consoleNotOpen(what);
    if (Outcome refused = checkListenOnly(); !refused)
        return refused;
    consoleReply_.clear();
    consoleContext_ = context;
    consoleDone_ = std::move(done);
    // Granted at once when the line is free: a refusal is then the caller's answer.
    consoleAsking_ = true;
    consoleAsk_ = askForLine(LineUse(QStringLiteral("N500 Net Setting"), true, false), this,
                             [this, command, pauseMs](LineLease lease) {
                                 consoleLease_ = std::move(lease);
                                 consoleHold_ = consoleLease_.holdSends();
                                 if (consoleAsking_)
                                     return;
                                 try {
                                     consoleBegin(command, pauseMs);
                                 } catch (const Failure& e) {
                                     endConsoleExchange(std::nullopt);
                                     fail("ErrCode=%1; ErrMsg=%2", e);
                                 }
                             });
    consoleAsking_ = false;
    if (!consoleLease_)
        return {}; // it begins once the line is free
    try {
        consoleBegin(command, pauseMs);
    } catch (const Failure& e) {
        consoleDone_ = nullptr; // the caller hears of it from the answer
        endConsoleExchange(std::nullopt);
        if (e.number() == serial::kErrPortNotOpen)
            return consoleNotOpen(what);
        return Outcome::failed(QStringLiteral("%1 => ErrCode=%2; ErrMsg=%3")
                                   .arg(what)
                                   .arg(e.number())
                                   .arg(QString::fromStdString(e.description())));
    }
    return {};
}

void TerminalEngine::consoleBegin(const QString& command, int pauseMs) {
    // What waits is no part of this answer: dropped, though told as traffic like all input.
    if (port_->inBufferCount() > 0)
        read();
    port_->setInBufferCount(0);
    consoleLease_.write(command.toLatin1());
    // The device answers meanwhile; the port layer picks up what arrived when next asked.
    consoleStep_.start(std::max(pauseMs, 0));
}

void TerminalEngine::consoleStep() {
    try {
        if (port_->inBufferCount() > 0) {
            const QByteArray bytes = read();
            consoleReply_ += latin1(bytes.constData(), bytes.size()); // text in any receive mode
            // The rest of a reply that is still coming; a device that never stops talking
            // ends the exchange at a size no console answer reaches.
            if (consoleReply_.size() < kConsoleReplyLimit) {
                consoleStep_.start(0);
                return;
            }
        }
    } catch (const Failure& e) {
        endConsoleExchange(std::nullopt);
        fail("ErrCode=%1; ErrMsg=%2", e);
        return;
    }
    endConsoleExchange(consoleReply_);
}

void TerminalEngine::endConsoleExchange(std::optional<QString> reply) {
    consoleStep_.stop();
    withdrawAsk(consoleAsk_);
    consoleHold_.release();
    consoleLease_.release();
    const auto done = std::exchange(consoleDone_, nullptr);
    if (done && consoleContext_)
        done(std::move(reply));
}

// ---------------------------------------------------------------- send

void TerminalEngine::write(const QByteArray& bytes) {
    if (listenOnly_) // the last guard: a sender that did not ask is refused here
        throw serial::PortError(serial::kErrListenOnly, listenOnlyText().toStdString());
    if (sendHolds_ > 0) { // a transaction is on the line: never inside it
        heldSends_.append(bytes);
        return;
    }
    port_->output(bytes);
    emit sent(bytes, TrafficTime::now());
}

Outcome TerminalEngine::changeLineSettings(const serial::LineSettings& line) {
    if (!portOpened_)
        return Outcome::failed(QString::fromStdString(
            serial::PortError(serial::kErrPortNotOpen, "Operation valid only when the port is open")
                .description()));
    if (const std::optional<serial::PortError> refused = port_->changeLineSettings(line))
        return Outcome::failed(QString::fromStdString(refused->description()));
    emit lineSettingsChanged(port_->settingsInForce());
    return {};
}

void TerminalEngine::setSendAscii(bool ascii) {
    sendAscii_ = ascii;
    emit sendModeChanged(ascii);
}

void TerminalEngine::setSendCounters(std::int32_t shown, std::int32_t total) {
    sendShown_ = shown;
    sendTotalText_ = QString::number(total).toStdU16String();
    emit sendCountersChanged(shown, total);
}

void TerminalEngine::clearSendCounters() {
    setSendCounters(0, 0);
}

void TerminalEngine::send(const SendRequest& request, bool autoTick) {
    if (listenOnly_) {
        if (autoTick)
            setAutoSend(false); // every tick would be refused the same way
        sendMessageOpen_ = true;
        report(listenOnlyText());
        sendMessageOpen_ = false;
        return;
    }
    history_.record(request.text);
    QString text;
    try {
        const codec::SendEncoding enc =
            codec::encodeSend(sendAscii_, request.text, request.eos, request.defText);
        qint64 size = 0;
        for (const auto& w : enc.writes)
            size += static_cast<qint64>(w.size());
        if (enc.listError == codec::HexListError::TooManyValues) {
            // Refused before anything counts: the list cannot be sent at all.
            text = QStringLiteral("A list holds at most %1 values; this one has more. Nothing "
                                  "was sent.")
                       .arg(codec::kMaxListValues);
        } else if (!port_->canQueue(size)) {
            // Refused whole and not counted: what is counted is what will arrive.
            if (autoTick) {
                if (blockedTold_)
                    return; // the tick is skipped quietly; the next may fit
                blockedTold_ = true;
                sendMessageOpen_ = true;
                report(QStringLiteral("Auto-send skips its ticks while the output is blocked: ") +
                       QString::fromStdString(port_->blockedReason()));
                sendMessageOpen_ = false;
                return;
            }
            text = QStringLiteral("The output is blocked: ") +
                   QString::fromStdString(port_->blockedReason()) +
                   QStringLiteral(" Nothing was sent.");
        } else {
            blockedTold_ = false;
            const std::int32_t total = codec::addToCounter(sendTotalText_, enc.countedLength);
            setSendCounters(enc.countedLength, total);
            switch (enc.listError) {
            case codec::HexListError::None:
                if (!enc.writes.empty() && !sendAscii_)
                    setSendCounters(enc.shownCount, total);
                for (const auto& w : enc.writes)
                    write(toBytes(w));
                break;
            case codec::HexListError::NotHex:
                text = QStringLiteral("Please send binary data (00~FF) !!");
                break;
            case codec::HexListError::ValueTooBig:
            case codec::HexListError::TooManyValues:
                text = QStringLiteral("Space need to be placed between every binary data  !!");
                break;
            }
        }
    } catch (const Failure& e) {
        text = QString::fromStdString(e.description());
    }
    if (text.isEmpty())
        return;
    // A tick that fails stops auto-send: the same failure would come back every period.
    if (autoTick)
        setAutoSend(false);
    sendMessageOpen_ = true;
    report(text);
    sendMessageOpen_ = false;
}

Outcome TerminalEngine::setAutoSendPeriod(const QString& typed) {
    bool ok = false;
    const uint period = typed.trimmed().toUInt(&ok);
    if (!ok || period > 65535) {
        tellDisplay(); // the user reads the failure with the display as it stands
        return Outcome::failed(
            QStringLiteral("The period must be a whole number of milliseconds from 0 to "
                           "65535; it stays at %1.")
                .arg(autoSendTimer_.isActive() ? autoSendTimer_.interval() : 0));
    }
    if (period == 0) { // 0 stops the ticks
        autoSendTimer_.stop();
    } else {
        autoSendTimer_.setInterval(static_cast<int>(period));
        autoSendTimer_.start();
    }
    return {};
}

void TerminalEngine::setAutoSend(bool on) {
    if (autoSend_ == on)
        return;
    autoSend_ = on;
    emit autoSendChanged(on);
}

// ---------------------------------------------------------------- listen only

QString TerminalEngine::listenOnlyText() {
    return QStringLiteral("Listen only is on in the Monitor: nothing is sent.");
}

Outcome TerminalEngine::checkListenOnly() const {
    return listenOnly_ ? Outcome::failed(listenOnlyText()) : Outcome();
}

void TerminalEngine::setListenOnly(bool on) {
    if (listenOnly_ == on)
        return;
    listenOnly_ = on;
    if (on) {
        setAutoSend(false);
        heldSends_.clear(); // sends held behind a transaction never leave
    }
    emit listenOnlyChanged(on);
}

QString TerminalEngine::setLowLatency(bool on) {
    lowLatency_ = on;
    return port_->portOpen() ? port_->setLowLatency(on) : QString();
}

// ---------------------------------------------------------------- Modbus

Outcome TerminalEngine::sendBytes(const QByteArray& bytes) {
    if (Outcome refused = checkListenOnly(); !refused)
        return refused;
    if (!portOpened_)
        return Outcome::failed(QString::fromStdString(
            serial::PortError(serial::kErrPortNotOpen, "Operation valid only when the port is open")
                .description()));
    const auto size = static_cast<std::int32_t>(bytes.size());
    const std::int32_t total = codec::addToCounter(sendTotalText_, size); // may overflow
    try {
        write(bytes);
    } catch (const Failure& e) {
        return Outcome::failed(QString::fromStdString(e.description()));
    }
    setSendCounters(size, total);
    return {};
}

std::optional<std::vector<std::uint8_t>> TerminalEngine::sendRtuRequest(std::u16string_view list) {
    if (!port_->portOpen())
        return std::nullopt;
    if (listenOnly_) {
        report(listenOnlyText());
        return std::nullopt;
    }
    QString text;
    try {
        modbus::RtuFrame f = modbus::Build_RTU_Frame(list);
        if (port_->kind() == serial::LinkKind::ModbusTcp) {
            const std::span<const std::uint8_t> typed(f.frame.data(), std::size_t(f.count));
            f.frame = modbus::mbap::buildAdu(nextTransactionId(), typed.empty() ? 0 : typed[0],
                                             typed.empty() ? typed : typed.subspan(1));
        }
        write(toBytes(f.frame));
        return std::move(f.frame);
    } catch (const TypeMismatch&) {
        text = QStringLiteral("Please send binary data !!");
    } catch (const Overflow&) {
        text = QStringLiteral("Space need to be placed between every binary data");
    } catch (const Failure& e) {
        text = QString::fromStdString(e.description());
    }
    report(text);
    return std::nullopt;
}

} // namespace varnok::engine
