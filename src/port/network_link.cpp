#include "port/network_link.h"

#include <QScopedValueRollback>
#include <utility>

#include "logic/serial/port_map.h"

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace varnok::serial {

namespace {

// Acknowledges what arrives at once: a server that holds its small writes until the last one
// is acknowledged (Nagle) would otherwise wait for the delayed acknowledgement, some 40 ms, on
// every answer after the first (checked with ser2net on loopback: 45 ms to 0.3 ms).
void ackAtOnce(QTcpSocket* socket) {
#ifdef __linux__
    const int on = 1;
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)socket;
#endif
}

// Writes what the socket takes at once straight to its descriptor, behind nothing queued:
// through the socket's buffer every write turns its write notifier on and off, two wake-ups
// of the event loop per request (a third of a Modbus TCP transaction's time on loopback).
qint64 sendAtOnce(QTcpSocket* socket, const std::string& wire) {
#ifdef __linux__
    if (socket->bytesToWrite() > 0)
        return 0;
    const ssize_t n = ::send(int(socket->socketDescriptor()), wire.data(), wire.size(),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    return n > 0 ? qint64(n) : 0; // a failure is the socket's to find and report
#else
    (void)socket;
    (void)wire;
    return 0;
#endif
}

namespace tn = telnet;

constexpr bool framingSetting(LinkSetting s) {
    return s != LinkSetting::Dtr && s != LinkSetting::Rts;
}

const char* kindName(NetworkKind kind) {
    switch (kind) {
    case NetworkKind::Rfc2217:
        return "RFC 2217";
    case NetworkKind::ModbusTcp:
        return "Modbus TCP";
    case NetworkKind::RawTcp:
        break;
    }
    return "raw TCP";
}

std::uint8_t flowCode(Handshaking h) {
    switch (h) {
    case Handshaking::XonXoff:
        return tn::kFlowXonXoff;
    case Handshaking::RtsCts:
        return tn::kFlowHardware;
    case Handshaking::None:
        break;
    }
    return tn::kFlowNone;
}

// A setting as the server's answer names it, for a refusal.
std::string valueText(LinkSetting s, std::uint32_t value) {
    Parity parity{};
    StopBits stop{};
    switch (s) {
    case LinkSetting::Baud:
        return "the baud rate " + std::to_string(value);
    case LinkSetting::DataBits:
        return std::to_string(value) + " data bits";
    case LinkSetting::Parity:
        return tn::parityOfCode(std::uint8_t(value), parity)
                   ? std::string("the parity ") + parityName(parity)
                   : "parity code " + std::to_string(value);
    case LinkSetting::StopBits:
        return tn::stopBitsOfCode(std::uint8_t(value), stop)
                   ? std::string(stopBitsText(stop)) + " stop bits"
                   : "stop size code " + std::to_string(value);
    case LinkSetting::FlowControl:
        return value == tn::kFlowXonXoff    ? "XON/XOFF flow control"
               : value == tn::kFlowHardware ? "RTS/CTS flow control"
               : value == tn::kFlowNone     ? "no flow control"
                                            : "flow control code " + std::to_string(value);
    default:
        return linkSettingName(s);
    }
}

// The value alone, as the server's answer carries it.
std::string answerText(LinkSetting s, std::uint32_t value) {
    if (s == LinkSetting::Baud || s == LinkSetting::DataBits)
        return std::to_string(value);
    return valueText(s, value);
}

} // namespace

NetworkLink::NetworkLink(QObject* parent) : Link(parent) {
    connectTimer_.setSingleShot(true);
    confirmTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, &NetworkLink::onConnectTimeout);
    connect(&confirmTimer_, &QTimer::timeout, this, &NetworkLink::settle);
}

NetworkLink::~NetworkLink() {
    closeSocket();
}

void NetworkLink::setCommPort(int number) {
    if (phase_ != Phase::Closed)
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    commPort_ = number;
}

QString NetworkLink::devicePath() const {
    return QString::fromStdString(devicePathFor(commPort_));
}

void NetworkLink::setInBufferSize(int bytes) {
    if (bytes < 1)
        throw PortError(kErrInvalidValue, "Invalid property value: input buffer size");
    inBufferSize_ = bytes;
}

LinkKind NetworkLink::kind() const {
    // Open, the port it opened (the binding may have changed since); closed, the binding's.
    return phase_ != Phase::Closed ? linkKindOf(target_.kind)
                                   : linkKindOf(devicePath().toStdString());
}

QString NetworkLink::endpoint() const {
    const QString host = QString::fromStdString(target_.host);
    return (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(target_.port);
}

QString NetworkLink::linkNote() const {
    if (phase_ == Phase::Closed)
        return {};
    QString note = (phase_ == Phase::Open ? "connected to " : "connecting to ") + endpoint() +
                   ", " + kindName(target_.kind);
    if (target_.kind == NetworkKind::RawTcp || (comPort() && negotiator_.comPortRefused()))
        note += ": line settings are the server's";
    if (!signature_.isEmpty())
        note += ", server '" + signature_ + "'";
    return note;
}

bool NetworkLink::framingApplied() const {
    return comPort() && !negotiator_.comPortRefused();
}

std::vector<LinkSetting> NetworkLink::unconfirmedSettings() const {
    std::vector<LinkSetting> out;
    for (const auto& [setting, value] : pending_)
        out.push_back(setting);
    return out;
}

// ---- Opening and closing

void NetworkLink::setPortOpen(bool open) {
    if (!open) {
        lost_.reset();
        closeSocket(); // an opening under way ends without a word
        return;
    }
    if (phase_ != Phase::Closed)
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    lost_.reset();
    if (commPort_ < kFirstPort || commPort_ > kLastPort)
        throw PortError(kErrInvalidPortNumber,
                        "Invalid port number " + std::to_string(commPort_) + " (1 to 255)");
    const std::string name = "Com" + std::to_string(commPort_);
    const std::string path = devicePath().toStdString();
    if (path.empty())
        throw PortError(kErrOpenFailed, name +
                                            ": no device is mapped to this number (bind one "
                                            "with --port " +
                                            name + "=PATH)");
    std::string why;
    const auto port = parseNetworkPort(path, &why);
    if (!port)
        throw PortError(kErrOpenFailed, name + ": " + path + " is not a network port: " + why);

    target_ = *port;
    parser_ = {};
    negotiator_ = {};
    settingsSent_ = false;
    pending_.clear();
    signature_.clear();
    lines_ = {};
    in_.clear();
    inForce_ = lineSettings_;
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kSocketReadBuffer);
    connect(socket_, &QTcpSocket::connected, this, &NetworkLink::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &NetworkLink::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &NetworkLink::onSocketError);
    connect(socket_, &QTcpSocket::disconnected, this, &NetworkLink::onSocketError);
    connect(socket_, &QTcpSocket::bytesWritten, this, &NetworkLink::outputLeft);
    phase_ = Phase::Connecting;
    connectTimer_.start(connectTimeoutMs_);
    // Answers (a refusal, an unknown host) come from the event loop, never from this call.
    socket_->connectToHost(QString::fromStdString(target_.host), target_.port);
}

void NetworkLink::onConnected() {
    // Small writes (a Modbus request, a typed line) leave at once, not after the peer's ACK.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ackAtOnce(socket_);
    if (!comPort()) {
        settle();
        return;
    }
    phase_ = Phase::Negotiating; // the timeout runs on until the server agrees
    send(negotiator_.start());
}

void NetworkLink::onConnectTimeout() {
    if (phase_ == Phase::Connecting)
        fail(failureText(QString("no connection within %1 ms").arg(connectTimeoutMs_)));
    else if (phase_ == Phase::Negotiating)
        fail(failureText(QString("the server took the connection but did not answer as an "
                                 "RFC 2217 server within %1 ms")
                             .arg(connectTimeoutMs_)));
}

std::string NetworkLink::failureText(const QString& why) const {
    return ("Com" + QString::number(commPort_) + ": cannot connect to " + endpoint() + " (" +
            kindName(target_.kind) + "): " + why)
        .toStdString();
}

std::string NetworkLink::settingsWire(const LineSettings& line) {
    std::string wire = tn::setBaudRate(std::uint32_t(line.baud)) + tn::setDataSize(line.dataBits) +
                       tn::setParity(line.parity) + tn::setStopSize(line.stopBits);
    pending_[LinkSetting::Baud] = std::uint32_t(line.baud);
    pending_[LinkSetting::DataBits] = std::uint32_t(line.dataBits);
    pending_[LinkSetting::Parity] = tn::parityCode(line.parity);
    pending_[LinkSetting::StopBits] = tn::stopSizeCode(line.stopBits);
    return wire;
}

std::string NetworkLink::controlWire(LinkSetting setting, std::uint8_t value) {
    pending_[setting] = value;
    return tn::setControl(value);
}

void NetworkLink::checkSettled() {
    // DTR and RTS are not waited for: many servers never confirm them (a pseudo-terminal behind
    // the server has no such lines); they stay listed until an answer comes.
    if (phase_ != Phase::Negotiating || !settingsSent_)
        return;
    for (const auto& [setting, value] : pending_)
        if (framingSetting(setting))
            return;
    settle();
}

void NetworkLink::settle() {
    if (phase_ != Phase::Connecting && phase_ != Phase::Negotiating)
        return;
    connectTimer_.stop();
    confirmTimer_.stop();
    phase_ = Phase::Open;
    emit openSettled({});
    if (phase_ == Phase::Open && !in_.isEmpty())
        emit dataArrived(); // data the server sent while the settings were confirmed
}

void NetworkLink::fail(const std::string& text) {
    closeSocket();
    emit openSettled(QString::fromStdString(text));
}

void NetworkLink::closeSocket() {
    connectTimer_.stop();
    confirmTimer_.stop();
    phase_ = Phase::Closed;
    in_.clear();
    ++generation_;
    QTcpSocket* s = std::exchange(socket_, nullptr);
    if (!s)
        return;
    s->disconnect(this);
    if (s->state() != QAbstractSocket::ConnectedState) {
        s->abort();
        s->deleteLater();
        return;
    }
    // What was written still leaves; a peer that takes nothing more is cut off after a second.
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    QTimer::singleShot(1000, s, [s] {
        s->abort();
        s->deleteLater();
    });
    s->disconnectFromHost();
}

void NetworkLink::onSocketError() {
    if (!socket_)
        return;
    const QString why = socket_->error() == QAbstractSocket::UnknownSocketError
                            ? QStringLiteral("the connection ended")
                            : socket_->errorString();
    if (phase_ == Phase::Open)
        markLost(why);
    else if (phase_ != Phase::Closed)
        fail(failureText(why));
}

void NetworkLink::markLost(const QString& why) {
    // Reported once; the socket is gone, so nothing wakes the loop for it again.
    lost_.emplace(kErrDeviceLost,
                  ("The connection to " + endpoint() + " is lost (" + why + ")").toStdString());
    closeSocket();
    emit deviceLost();
    tellInputLater();
}

void NetworkLink::tellInputLater() {
    // Told from the event loop, like every arrival: this may be inside a port call.
    if (std::exchange(inputToldLater_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            inputToldLater_ = false;
            if (phase_ == Phase::Open)
                readSocket();
            if (hasArrived())
                emit dataArrived();
        },
        Qt::QueuedConnection);
}

// ---- Input

void NetworkLink::onReadyRead() {
    ackAtOnce(socket_); // the mode lapses on its own: set again on every arrival
    // More than the input buffer may be waiting: a reader that empties it on dataArrived gets
    // the rest in the same wake-up, a few rounds at most.
    const int generation = generation_;
    for (int round = 0; round < 8 && generation == generation_; ++round) {
        const qsizetype before = in_.size();
        readSocket();
        if (phase_ != Phase::Open || in_.size() == before)
            break;
        emit dataArrived();
    }
}

void NetworkLink::readSocket() {
    const int generation = generation_;
    std::string data;
    std::vector<tn::Command> commands;
    while (socket_ && in_.size() < inBufferSize_ && socket_->bytesAvailable() > 0) {
        const QByteArray chunk = socket_->read(inBufferSize_ - in_.size());
        if (!comPort()) {
            in_ += chunk;
            continue;
        }
        data.clear();
        commands.clear();
        parser_.feed(std::string_view(chunk.constData(), std::size_t(chunk.size())), data,
                     commands);
        in_.append(data.data(), qsizetype(data.size()));
        for (const tn::Command& c : commands) {
            takeCommand(c);
            if (generation != generation_)
                return; // closed (the opening failed), or closed and opened again
        }
    }
}

void NetworkLink::takeCommand(const tn::Command& command) {
    if (command.verb != tn::kSb) {
        send(negotiator_.answer(command.verb, command.option));
        if (command.option != tn::kOptComPort || phase_ != Phase::Negotiating || settingsSent_)
            return;
        if (negotiator_.comPortAgreed()) {
            connectTimer_.stop();
            settingsSent_ = true;
            // All in one write: the server answers them in one go.
            std::string wire = tn::comPort(tn::kSignature, {}) + tn::setLineStateMask(0) +
                               tn::setModemStateMask(0xFF) + settingsWire(lineSettings_) +
                               controlWire(LinkSetting::FlowControl, flowCode(handshaking_)) +
                               controlWire(LinkSetting::Dtr, dtrEnable_ ? tn::kDtrOn : tn::kDtrOff);
            if (handshaking_ != Handshaking::RtsCts)
                wire += controlWire(LinkSetting::Rts, tn::kRtsOn);
            send(wire);
            confirmTimer_.start(kConfirmWaitMs);
        } else if (negotiator_.comPortRefused()) {
            // A Telnet server without port control: the data flows, no setting is confirmed.
            for (LinkSetting s : {LinkSetting::Baud, LinkSetting::DataBits, LinkSetting::Parity,
                                  LinkSetting::StopBits, LinkSetting::FlowControl, LinkSetting::Dtr,
                                  LinkSetting::Rts})
                pending_[s] = 0;
            settle();
        }
        return;
    }
    if (command.option != tn::kOptComPort)
        return;
    const int generation = generation_;
    for (const tn::Reply& r : tn::readReplies(command.body)) {
        takeReply(r);
        if (generation != generation_)
            return;
    }
}

void NetworkLink::takeReply(const tn::Reply& r) {
    switch (r.command) {
    case tn::kSignature:
        if (!r.text.empty())
            signature_ =
                QString::fromLatin1(r.text.data(), qsizetype(r.text.size())).left(64).simplified();
        break;
    case tn::kSetBaudRate:
        confirm(LinkSetting::Baud, r.value, r.valueUnknown);
        break;
    case tn::kSetDataSize:
        confirm(LinkSetting::DataBits, r.value, r.valueUnknown);
        break;
    case tn::kSetParity:
        confirm(LinkSetting::Parity, r.value, r.valueUnknown);
        break;
    case tn::kSetStopSize:
        confirm(LinkSetting::StopBits, r.value, r.valueUnknown);
        break;
    case tn::kSetControl:
        // The value tells which request it answers: flow control, DTR or RTS.
        if (r.value >= tn::kFlowNone && r.value <= tn::kFlowHardware)
            confirm(LinkSetting::FlowControl, r.value, false);
        else if (r.value == tn::kDtrOn || r.value == tn::kDtrOff)
            confirm(LinkSetting::Dtr, r.value, false);
        else if (r.value == tn::kRtsOn || r.value == tn::kRtsOff)
            confirm(LinkSetting::Rts, r.value, false);
        break;
    case tn::kNotifyModemState: {
        const ModemLines lines{(r.value & tn::kModemCts) != 0, (r.value & tn::kModemDsr) != 0,
                               (r.value & tn::kModemDcd) != 0};
        const bool changed = lines != lines_;
        lines_ = lines;
        if (changed && phase_ == Phase::Open)
            emit linesMayHaveChanged();
        break;
    }
    default:
        break; // masks, purge, line state, flow control suspension: nothing to keep
    }
}

void NetworkLink::confirm(LinkSetting setting, std::uint32_t value, bool unknown) {
    const auto it = pending_.find(setting);
    if (it == pending_.end())
        return; // not asked, or answered before
    if (!unknown && value != it->second) {
        if (!framingSetting(setting))
            return; // DTR or RTS not as asked: it stays listed
        if (phase_ == Phase::Negotiating) {
            // Like an adapter refusing a setting: the opening fails and names it.
            const std::string text = "Com" + std::to_string(commPort_) + ": " +
                                     endpoint().toStdString() + " refuses " +
                                     valueText(setting, it->second) + " (the server answers " +
                                     answerText(setting, value) + ")";
            fail(text);
            return;
        }
        // A change while open: the server's answer is what holds.
        Parity parity{};
        StopBits stop{};
        if (setting == LinkSetting::Baud)
            inForce_.baud = std::int32_t(value);
        else if (setting == LinkSetting::DataBits)
            inForce_.dataBits = int(value);
        else if (setting == LinkSetting::Parity && tn::parityOfCode(std::uint8_t(value), parity))
            inForce_.parity = parity;
        else if (setting == LinkSetting::StopBits && tn::stopBitsOfCode(std::uint8_t(value), stop))
            inForce_.stopBits = stop;
    }
    pending_.erase(it);
    checkSettled();
}

void NetworkLink::requireOpen() {
    if (lost_) {
        const PortError e = *lost_;
        lost_.reset();
        throw e;
    }
    if (phase_ != Phase::Open)
        throw PortError(kErrPortNotOpen, "Operation valid only when the port is open");
}

int NetworkLink::inBufferCount() {
    requireOpen();
    readSocket();
    return int(in_.size());
}

void NetworkLink::setInBufferCount(int value) {
    requireOpen();
    if (value != 0)
        throw PortError(kErrInvalidValue, "Invalid property value: only 0 can be written");
    // What the socket holds goes too (its commands still count), then what the server holds.
    do {
        in_.clear();
        readSocket();
    } while (!in_.isEmpty());
    if (comPortAgreed())
        send(tn::purgeData(tn::kPurgeReceive));
}

QByteArray NetworkLink::inputBytes() {
    requireOpen();
    readSocket();
    QByteArray bytes = std::exchange(in_, QByteArray());
    totalBytesRead_ += bytes.size();
    // The socket may hold more than the buffer took: it is told as a new arrival.
    if (socket_ && socket_->bytesAvailable() > 0)
        tellInputLater();
    return bytes;
}

// ---- Output

void NetworkLink::send(const std::string& wire) {
    if (!socket_ || wire.empty())
        return;
    socket_->write(wire.data(), qint64(wire.size()));
    socket_->flush(); // leave now, not when the event loop next runs
}

bool NetworkLink::canQueue(qint64 bytes) const {
    return queuedOutput() + bytes <= kOutputQueueLimit;
}

std::string NetworkLink::blockedReason() const {
    return std::to_string(queuedOutput()) +
           " bytes are still waiting to leave. The server may not be reading, or flow control "
           "holds its line.";
}

void NetworkLink::output(const QByteArray& bytes) {
    requireOpen();
    if (!canQueue(bytes.size()))
        throw PortError(kErrOutputBlocked, "The output is blocked: " + blockedReason());
    const std::string_view data(bytes.constData(), std::size_t(bytes.size()));
    const std::string wire = comPort() ? tn::escape(data) : std::string(data);
    if (wire.empty())
        return;
    const qint64 sent = sendAtOnce(socket_, wire);
    const qint64 rest = qint64(wire.size()) - sent;
    if (rest > 0 && socket_->write(wire.data() + sent, rest) != rest)
        throw PortError(kErrWriteFailed, "Write error: " + socket_->errorString().toStdString());
    if (rest > 0) {
        socket_->flush();
    } else if (!tellingOutputLeft_) {
        // As the socket tells of its own writes.
        const QScopedValueRollback<bool> telling(tellingOutputLeft_, true);
        emit outputLeft();
    }
}

QMetaObject::Connection NetworkLink::onOutputLeft(QObject* context, std::function<void()> f) {
    return connect(this, &NetworkLink::outputLeft, context, [f = std::move(f)] { f(); });
}

// ---- Modem lines, break, RTS and DTR

bool NetworkLink::hasModemLines() {
    requireOpen();
    return comPortAgreed();
}

ModemLines NetworkLink::modemLines() {
    requireOpen();
    return lines_;
}

bool NetworkLink::cdHolding() {
    return phase_ == Phase::Open && !lost_ && lines_.dcd;
}

void NetworkLink::setBreak(bool on) {
    requireOpen();
    if (!comPortAgreed())
        throw PortError(kErrSettingRefused, std::string("Break is not available on this port (") +
                                                kindName(target_.kind) +
                                                ": the line is the server's)");
    send(tn::setControl(on ? tn::kBreakOn : tn::kBreakOff));
}

void NetworkLink::setRts(bool on) {
    requireOpen();
    if (!comPortAgreed())
        throw PortError(kErrSettingRefused, std::string("RTS is not available on this port (") +
                                                kindName(target_.kind) +
                                                ": the line is the server's)");
    if (handshaking_ == Handshaking::RtsCts)
        throw PortError(kErrSettingRefused, "RTS is driven by RTS/CTS flow control");
    send(controlWire(LinkSetting::Rts, on ? tn::kRtsOn : tn::kRtsOff));
}

void NetworkLink::setDTREnable(bool asserted) {
    dtrEnable_ = asserted;
    if (phase_ == Phase::Open && comPortAgreed())
        send(controlWire(LinkSetting::Dtr, asserted ? tn::kDtrOn : tn::kDtrOff));
}

std::optional<PortError> NetworkLink::changeLineSettings(const LineSettings& line) {
    if (phase_ != Phase::Open || lost_)
        return PortError(kErrPortNotOpen, "Operation valid only when the port is open");
    if (comPortAgreed())
        send(settingsWire(line));
    inForce_ = line;
    return std::nullopt;
}

} // namespace varnok::serial
