#include "engine/bus_ports.h"

#include <algorithm>
#include <utility>

#include "logic/serial/network_port.h"
#include "port/any_link.h"
#include "port/comm_port.h"
#include "port/device_watcher.h"
#include "port/network_link.h"
#include "port/pty_link.h"

namespace varnok::engine {

namespace {

constexpr int kNetworkReopenMs = 1000; // a server asked again at most this often
constexpr int kDeviceRetryMs = 500;    // a device present but not ready yet

QString portAText(TerminalEngine& engine) {
    return QStringLiteral("Com%1").arg(engine.lastOpenRequest().portNumber);
}

} // namespace

BusPorts::BusPorts(TerminalEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {
    reopenB_.setSingleShot(true);
    connect(&reopenB_, &QTimer::timeout, this, &BusPorts::tryReopenB);
    connect(&engine_.devices(), &serial::DeviceWatcher::changed, this, &BusPorts::tryReopenB);
    // Port A closed or gone: the terminal tells it; a bridge has nothing left to carry.
    connect(&engine_, &TerminalEngine::portOpenChanged, this, [this](bool open) {
        if (!open && mode_ == Mode::Bridge)
            endBridge();
        if (mode_ != Mode::Tap)
            return;
        // The terminal tells A's loss itself; here the tap says which side still records.
        note_ = open ? QStringLiteral("Port A is back.")
                     : QStringLiteral("Port A (%1) is gone; port B goes on recording.")
                           .arg(engine_.port().devicePath());
        emit noteChanged();
    });
}

BusPorts::~BusPorts() {
    engine_.devices().follow(QStringLiteral("bus B"), QString());
    lease_.release();
    engine_.withdrawAsk(ask_);
}

QString BusPorts::ptyPath() const {
    return pty_ ? pty_->linkPath() : QString();
}

QString BusPorts::ptyDevice() const {
    return pty_ ? pty_->devicePath() : QString();
}

QString BusPorts::stateText() const {
    const QString a = engine_.port().devicePath();
    QString text;
    if (mode_ == Mode::Tap)
        text = QStringLiteral("Tap: %2 and port A (%1) hear one side each; nothing is sent.")
                   .arg(a, labelB());
    else if (mode_ == Mode::Bridge && pty_)
        text = QStringLiteral("Bridge: port A (%1) to %2; the other program opens %3")
                   .arg(a, ptyDevice(), ptyPath());
    else if (mode_ == Mode::Bridge)
        text = QStringLiteral("Bridge: port A (%1) to %2").arg(a, labelB());
    if (!note_.isEmpty())
        text += QStringLiteral(" ") + note_;
    return text.trimmed();
}

void BusPorts::tellLost(const QString& text) {
    note_ = text;
    emit sideLost(text);
}

void BusPorts::tellBack() {
    note_ = labelB() + QStringLiteral(" is back");
    emit sideBack(note_);
}

QString BusPorts::labelB() const {
    if (pty_)
        return QStringLiteral("Port B (the bridge's pseudo-terminal %1)").arg(pty_->devicePath());
    return QStringLiteral("Port B (Com%1, %2)").arg(numberB_).arg(pathB_);
}

void BusPorts::setMode(Mode mode) {
    if (mode_ == mode)
        return;
    mode_ = mode;
    emit modeChanged(mode);
}

// ---------------------------------------------------------------- port B

Outcome BusPorts::openB(int portNumber) {
    if (!engine_.isOpen())
        return Outcome::failed(QStringLiteral("Port A is not open: open it with \"Open COM\" in "
                                              "the main window first."));
    if (portNumber == engine_.lastOpenRequest().portNumber)
        return Outcome::failed(QStringLiteral("Port B must be another port than port A (%1).")
                                   .arg(portAText(engine_)));
    link_ = std::make_unique<serial::AnyLink>(std::make_unique<serial::CommPort>(),
                                              std::make_unique<serial::NetworkLink>());
    numberB_ = portNumber;
    bLost_ = false;
    try {
        serial::Link& a = engine_.port();
        link_->setCommPort(portNumber);
        pathB_ = link_->devicePath();
        link_->setLineSettings(a.lineSettings());         // as asked of A: B is the same line
        link_->setHandshaking(serial::Handshaking::None); // B only listens or forwards
        link_->setInBufferSize(8192);
        link_->setDTREnable(engine_.lastOpenRequest().dtrAsserted);
        link_->setPortOpen(true);
    } catch (const Failure& e) {
        link_.reset();
        return Outcome::failed(QStringLiteral("Port B (Com%1) could not be opened: %2")
                                   .arg(portNumber)
                                   .arg(QString::fromStdString(e.description())));
    }
    connect(link_.get(), &serial::Link::dataArrived, this, &BusPorts::onBData);
    connect(link_.get(), &serial::Link::deviceLost, this, &BusPorts::onBLost, Qt::QueuedConnection);
    connect(link_.get(), &serial::Link::openSettled, this, [this](const QString& failure) {
        if (failure.isEmpty()) {
            if (std::exchange(bLost_, false))
                tellBack();
            pump(); // what A brought while B connected
        } else if (!failure.isEmpty() && !bLost_) {
            bLost_ = true;
            tellLost(labelB() + QStringLiteral(": ") + failure);
            if (mode_ == Mode::Bridge)
                endBridge();
            else
                watchB();
        } else if (!failure.isEmpty())
            reopenB_.start(kNetworkReopenMs);
    });
    link_->onOutputLeft(this, [this] {
        if (mode_ == Mode::Bridge)
            pump();
    });
    return {};
}

void BusPorts::closeB() {
    reopenB_.stop();
    engine_.devices().follow(QStringLiteral("bus B"), QString());
    if (link_) {
        link_->disconnect(this);
        if (link_->portOpen() || link_->opening())
            link_->setPortOpen(false);
        link_.reset();
    }
    if (pty_) {
        pty_->close();
        pty_.reset();
    }
    bLost_ = false;
}

void BusPorts::onBData() {
    if (mode_ == Mode::Bridge) {
        pump();
        return;
    }
    if (!link_ || !link_->portOpen())
        return;
    const QByteArray bytes = link_->inputBytes();
    if (!bytes.isEmpty())
        emit received(bytes, TrafficTime::now());
}

void BusPorts::onBLost() {
    if (!link_ || bLost_)
        return;
    bLost_ = true;
    if (link_->portOpen())
        link_->setPortOpen(false);
    tellLost(labelB() + QStringLiteral(" is gone"));
    if (mode_ == Mode::Bridge)
        endBridge();
    else
        watchB();
}

void BusPorts::watchB() {
    if (!engine_.reopen())
        return;
    if (serial::looksLikeNetworkPort(pathB_.toStdString()))
        reopenB_.start(kNetworkReopenMs);
    else
        engine_.devices().follow(QStringLiteral("bus B"), pathB_);
}

void BusPorts::tryReopenB() {
    if (mode_ != Mode::Tap || !bLost_ || !link_ || link_->portOpen() || link_->opening())
        return;
    const bool network = serial::looksLikeNetworkPort(pathB_.toStdString());
    if (!network && !serial::DeviceWatcher::present(pathB_))
        return; // told again when it comes
    try {
        link_->setPortOpen(true);
    } catch (const Failure&) {
        reopenB_.start(network ? kNetworkReopenMs : kDeviceRetryMs); // not ready yet
        return;
    }
    if (link_->opening())
        return; // ends in openSettled
    bLost_ = false;
    engine_.devices().follow(QStringLiteral("bus B"), QString());
    tellBack();
}

// ---------------------------------------------------------------- tap

Outcome BusPorts::startTap(int portNumber) {
    stop();
    note_.clear();
    if (Outcome opened = openB(portNumber); !opened)
        return opened;
    listenOnlyBefore_ = engine_.listenOnly();
    engine_.setListenOnly(true);
    setMode(Mode::Tap);
    return {};
}

void BusPorts::stop() {
    if (mode_ == Mode::Bridge) {
        endBridge();
        return;
    }
    closeB();
    if (mode_ == Mode::Tap && !listenOnlyBefore_)
        engine_.setListenOnly(false);
    setMode(Mode::Single);
}

// ---------------------------------------------------------------- bridge

Outcome BusPorts::startBridge(std::optional<int> portNumber) {
    stop();
    note_.clear();
    if (portNumber) {
        if (Outcome opened = openB(*portNumber); !opened)
            return opened;
    } else {
        if (!engine_.isOpen())
            return Outcome::failed(QStringLiteral("Port A is not open: open it with \"Open "
                                                  "COM\" in the main window first."));
        pty_ = std::make_unique<serial::PtyLink>();
        if (const QString failure = pty_->create(); !failure.isEmpty()) {
            pty_.reset();
            return Outcome::failed(failure);
        }
        connect(pty_.get(), &serial::PtyLink::dataArrived, this, &BusPorts::pump);
        connect(pty_.get(), &serial::PtyLink::outputLeft, this, &BusPorts::pump);
    }
    toA_ = toB_ = peak_ = 0;
    fromB_.clear();
    listenOnlyBefore_ = engine_.listenOnly();
    engine_.setListenOnly(true); // only what B brings goes to A
    setMode(Mode::Bridge);
    aLeft_ = engine_.port().onOutputLeft(this, [this] {
        if (mode_ == Mode::Bridge)
            pump();
    });
    // The terminal's receive, Poll, Find and Quick Send wait while the bridge holds A.
    ask_ = engine_.askForLine(LineUse(QStringLiteral("Bridge"), true, false, true), this,
                              [this](LineLease lease) { onGranted(std::move(lease)); });
    return {};
}

void BusPorts::onGranted(LineLease lease) {
    if (mode_ != Mode::Bridge)
        return; // stopped meanwhile: the lease goes back as it leaves
    lease_ = std::move(lease);
    lease_.onData([this] { pump(); });
    pump();
}

qint64 BusPorts::queuedToB() const {
    return pty_ ? pty_->queuedOutput() : link_ ? link_->queuedOutput() : 0;
}

qint64 BusPorts::queuedToA() const {
    return engine_.port().queuedOutput();
}

void BusPorts::setBReading(bool on) {
    // A port number's link stops reading itself once its input buffer is full.
    if (pty_)
        pty_->setReading(on);
}

void BusPorts::pump() {
    if (mode_ != Mode::Bridge)
        return;
    if (pumping_) { // a queue drained inside a write: once more when this pass ends
        pumpAgain_ = true;
        return;
    }
    pumping_ = true;
    try {
        do {
            pumpAgain_ = false;
            // B to A, while A's queue takes it.
            if (fromB_.size() < kQueueBound) {
                QByteArray bytes;
                if (pty_)
                    bytes = pty_->read();
                else if (link_ && link_->portOpen())
                    bytes = link_->inputBytes();
                if (!bytes.isEmpty()) {
                    emit received(bytes, TrafficTime::now());
                    fromB_ += bytes;
                }
            }
            if (!fromB_.isEmpty() && lease_ && queuedToA() < kQueueBound) {
                const QByteArray bytes = std::exchange(fromB_, {});
                lease_.write(bytes);
                toA_ += bytes.size();
            }
            // A to B, while B's queue takes it; A's device holds the rest meanwhile.
            const bool bTakes = pty_ || (link_ && link_->portOpen()); // a server may connect
            if (lease_ && bTakes && queuedToB() < kQueueBound) {
                const QByteArray bytes = lease_.read();
                if (!bytes.isEmpty()) {
                    if (pty_)
                        pty_->write(bytes);
                    else
                        link_->output(bytes);
                    toB_ += bytes.size();
                    pumpAgain_ = true; // more may wait past the input buffer's size
                }
            }
            if (mode_ != Mode::Bridge)
                break;
            peak_ = std::max({peak_, queuedToA(), queuedToB()});
            setBReading(fromB_.isEmpty() && queuedToA() < kQueueBound);
        } while (pumpAgain_);
    } catch (const Failure&) {
        // A side failed under the write: its loss is told by its own signal.
        pumping_ = false;
        if (link_ && !link_->portOpen())
            onBLost();
        return;
    }
    pumping_ = false;
}

void BusPorts::endBridge() {
    engine_.withdrawAsk(std::exchange(ask_, 0));
    lease_.release();
    disconnect(aLeft_);
    fromB_.clear();
    closeB();
    if (!listenOnlyBefore_)
        engine_.setListenOnly(false);
    setMode(Mode::Single);
}

} // namespace varnok::engine
