#include "port/comm_port.h"

#include <QFileInfo>
#include <limits>

#include "logic/serial/port_map.h"
#include "logic/serial/settings_text.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/ioctl.h>
#endif

namespace varnok::serial {

namespace {

QSerialPort::Parity toQt(Parity p) {
    switch (p) {
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(StopBits s) {
    switch (s) {
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    case StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

const char* parityName(Parity p) {
    switch (p) {
    case Parity::Even:
        return "even";
    case Parity::Odd:
        return "odd";
    case Parity::Mark:
        return "mark";
    case Parity::Space:
        return "space";
    case Parity::None:
        break;
    }
    return "none";
}

} // namespace

CommPort::CommPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &CommPort::dataArrived);
    connect(&port_, &QSerialPort::errorOccurred, this, &CommPort::onError);
}

CommPort::~CommPort() = default;

void CommPort::setCommPort(int number) {
    if (port_.isOpen())
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    commPort_ = number;
}

void CommPort::setSettings(const QString& text) {
    settings_ = text; // checked when the port opens
}

void CommPort::setHandshaking(Handshaking mode) {
    handshaking_ = mode;
}

void CommPort::setInBufferSize(int bytes) {
    if (bytes < 1)
        throw PortError(kErrInvalidValue, "Invalid property value: input buffer size");
    inBufferSize_ = bytes;
}

void CommPort::setOutBufferSize(int bytes) {
    if (bytes < 1)
        throw PortError(kErrInvalidValue, "Invalid property value: output buffer size");
    outBufferSize_ = bytes;
}

void CommPort::setInputLen(int bytes) {
    if (bytes < 0)
        throw PortError(kErrInvalidValue, "Invalid property value: input length");
    inputLen_ = bytes;
}

void CommPort::setInputMode(int mode) {
    if (mode != 0 && mode != 1)
        throw PortError(kErrInvalidValue, "Invalid property value: input mode");
    inputMode_ = mode;
}

void CommPort::setDTREnable(bool asserted) {
    dtrEnable_ = asserted;
    applyDtr(asserted);
}

void CommPort::applyDtr(bool asserted) {
    // A pseudo-terminal has no DTR line and refuses; that is not a failure of the port.
    if (port_.isOpen()) {
        port_.setDataTerminalReady(asserted);
        port_.clearError();
    }
}

QString CommPort::devicePath() const {
    return QString::fromStdString(devicePathFor(commPort_));
}

// ---- BREAK, RTS and the output queue

bool CommPort::hasModemLines() {
    requireOpen();
#ifndef _WIN32
    int bits = 0;
    return ::ioctl(static_cast<int>(port_.handle()), TIOCMGET, &bits) == 0;
#else
    return true;
#endif
}

void CommPort::setBreak(bool on) {
    // A pseudo-terminal takes a break without a word and sends nothing: say so instead.
    if (!hasModemLines())
        throw PortError(kErrSettingRefused, port_.portName().toStdString() +
                                                " has no serial line (a pseudo-terminal): it "
                                                "cannot send a break");
    const bool done = port_.setBreakEnabled(on);
    port_.clearError();
    if (!done)
        throw PortError(kErrSettingRefused, port_.portName().toStdString() + " refuses a break");
}

void CommPort::setRts(bool on) {
    if (!hasModemLines())
        throw PortError(kErrSettingRefused, port_.portName().toStdString() +
                                                " has no modem lines (a pseudo-terminal): RTS "
                                                "cannot be set");
    if (handshaking_ == Handshaking::RtsCts)
        throw PortError(kErrSettingRefused, "RTS is driven by RTS/CTS flow control");
    const bool done = port_.setRequestToSend(on);
    port_.clearError();
    if (!done)
        throw PortError(kErrSettingRefused, port_.portName().toStdString() + " refuses RTS");
}

QMetaObject::Connection CommPort::onOutputLeft(QObject* context, std::function<void()> f) {
    return connect(&port_, &QSerialPort::bytesWritten, context, [f = std::move(f)] { f(); });
}

void CommPort::setPortOpen(bool open) {
    if (!open) {
        lost_.reset();
        if (port_.isOpen())
            port_.close();
        return;
    }
    if (port_.isOpen())
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    lost_.reset();
    quietErrors_ = 0;
    if (commPort_ < kFirstPort || commPort_ > kLastPort)
        throw PortError(kErrInvalidPortNumber,
                        "Invalid port number " + std::to_string(commPort_) + " (1 to 255)");
    const LineSettings ls = parseSettings(settings_.toStdString());
    const QString path = devicePath();
    const std::string name = "Com" + std::to_string(commPort_);
    if (path.isEmpty())
        throw PortError(kErrOpenFailed, name +
                                            ": no device is mapped to this number (bind one "
                                            "with --port " +
                                            name + "=PATH)");

    // Settings go in before opening: a device that ignores some of them (a pseudo-terminal
    // has no parity or data bits) then opens without failing.
    port_.setPortName(path);
    port_.setBaudRate(ls.baud);
    port_.setDataBits(static_cast<QSerialPort::DataBits>(ls.dataBits));
    port_.setParity(toQt(ls.parity));
    port_.setStopBits(toQt(ls.stopBits));
    const QSerialPort::FlowControl flow =
        handshaking_ == Handshaking::RtsCts    ? QSerialPort::HardwareControl
        : handshaking_ == Handshaking::XonXoff ? QSerialPort::SoftwareControl
                                               : QSerialPort::NoFlowControl;
    port_.setFlowControl(flow);
    port_.setReadBufferSize(inBufferSize_);
    port_.clearError();
    if (!port_.open(QIODevice::ReadWrite)) {
        const bool missing = !QFileInfo::exists(path);
        std::string why = port_.errorString().toStdString();
        if (port_.error() == QSerialPort::PermissionError && why.find("lock") != std::string::npos)
            why = "the device is in use by another program (" + why + ")";
        port_.clearError();
        throw PortError(kErrOpenFailed, name + ": cannot open " + path.toStdString() + ": " +
                                            (missing ? std::string("no such device") : why));
    }
    port_.clearError();
    // Settings given before opening are applied by the open without a word when the driver
    // refuses them (Linux has no 1.5 stop bits): set them again, now that each answer counts.
    const auto refused = [&](const std::string& what) {
        port_.close();
        port_.clearError();
        throw PortError(kErrSettingRefused, name + ": " + path.toStdString() + " refuses " + what);
    };
    if (!port_.setBaudRate(ls.baud))
        refused("the baud rate " + std::to_string(ls.baud));
    if (!port_.setDataBits(static_cast<QSerialPort::DataBits>(ls.dataBits)))
        refused(std::to_string(ls.dataBits) + " data bits");
    if (!port_.setParity(toQt(ls.parity)))
        refused(std::string("the parity ") + parityName(ls.parity));
#ifndef _WIN32
    // The driver takes 1.5 without a word and sends 1: this system has no 1.5 stop bits.
    if (ls.stopBits == StopBits::OneAndHalf)
        refused("1.5 stop bits (this system has 1 or 2 only)");
#endif
    if (!port_.setStopBits(toQt(ls.stopBits)))
        refused(std::string(ls.stopBits == StopBits::OneAndHalf ? "1.5"
                            : ls.stopBits == StopBits::Two      ? "2"
                                                                : "1") +
                " stop bits");
    if (!port_.setFlowControl(flow))
        refused(handshaking_ == Handshaking::RtsCts ? "RTS/CTS flow control"
                                                    : "XON/XOFF flow control");
    port_.clearError();
    applyDtr(dtrEnable_);
}

bool CommPort::portOpen() const {
    return port_.isOpen() || lost_.has_value();
}

void CommPort::requireOpen() {
    if (lost_) {
        const PortError e = *lost_;
        lost_.reset();
        throw e;
    }
    if (!port_.isOpen())
        throw PortError(kErrPortNotOpen, "Operation valid only when the port is open");
}

void CommPort::pull() {
    // Bytes the kernel holds reach the buffer even when the event loop has not run, as after
    // a blocking pause; the buffer stays bounded by the input buffer size.
#ifndef _WIN32
    int pending = 0;
    while (port_.isOpen() && port_.bytesAvailable() < inBufferSize_ &&
           ::ioctl(static_cast<int>(port_.handle()), FIONREAD, &pending) == 0 && pending > 0) {
        const qint64 before = port_.bytesAvailable();
        port_.waitForReadyRead(0);
        if (port_.bytesAvailable() == before)
            break;
    }
#else
    port_.waitForReadyRead(0);
#endif
    if (port_.error() == QSerialPort::TimeoutError)
        port_.clearError();
}

int CommPort::inBufferCount() {
    requireOpen();
    pull();
    if (lost_)
        requireOpen();
    const qint64 n = port_.bytesAvailable();
    return static_cast<int>(std::min<qint64>(n, std::numeric_limits<int>::max()));
}

void CommPort::setInBufferCount(int value) {
    requireOpen();
    if (value != 0)
        throw PortError(kErrInvalidValue, "Invalid property value: only 0 can be written");
    pull();
    port_.readAll();
    port_.clear(QSerialPort::Input);
}

QByteArray CommPort::inputBytes() {
    requireOpen();
    pull();
    if (lost_)
        requireOpen();
    const QByteArray bytes = inputLen_ > 0 ? port_.read(inputLen_) : port_.readAll();
    totalBytesRead_ += bytes.size();
    if (!bytes.isEmpty())
        quietErrors_ = 0;
    return bytes;
}

QVariant CommPort::input() {
    const QByteArray bytes = inputBytes();
    if (inputMode_ == 1)
        return bytes;
    return QString::fromLatin1(bytes);
}

bool CommPort::canQueue(qint64 bytes) const {
    return port_.bytesToWrite() + bytes <= std::max<qint64>(kOutputQueueLimit, outBufferSize_);
}

std::string CommPort::blockedReason() const {
    return std::to_string(port_.bytesToWrite()) +
           " bytes are still waiting to leave. The far end may not be reading, or flow control "
           "holds the line.";
}

void CommPort::output(const QByteArray& bytes) {
    requireOpen();
    // A far end that does not read (or flow control that holds the line) fills the queue;
    // that is not a lost device, and nothing half-written is left behind.
    if (!canQueue(bytes.size()))
        throw PortError(kErrOutputBlocked, "The output is blocked: " + blockedReason());
    if (port_.write(bytes) != bytes.size())
        throw PortError(kErrWriteFailed, "Write error: " + port_.errorString().toStdString());
    port_.flush(); // leave now, not when the event loop next runs
    if (lost_)
        requireOpen();
}

ModemLines CommPort::readModemLines() {
    ModemLines lines;
    if (!port_.isOpen())
        return lines;
    const QSerialPort::PinoutSignals s = port_.pinoutSignals();
    port_.clearError(); // a pseudo-terminal has no modem lines: they read as False
    lines.cts = s.testFlag(QSerialPort::ClearToSendSignal);
    lines.dsr = s.testFlag(QSerialPort::DataSetReadySignal);
    lines.dcd = s.testFlag(QSerialPort::DataCarrierDetectSignal);
    return lines;
}

bool CommPort::ctsHolding() {
    requireOpen();
    return readModemLines().cts;
}

bool CommPort::dsrHolding() {
    requireOpen();
    return readModemLines().dsr;
}

ModemLines CommPort::modemLines() {
    requireOpen();
    return readModemLines();
}

bool CommPort::cdHolding() {
    if (!portOpen() || lost_)
        return false;
    return readModemLines().dcd;
}

void CommPort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
        break;
    default:
        return; // NoError on every open, timeouts of polling, refusals of a pseudo-terminal
    }
    if (!port_.isOpen() || lost_)
        return;
#ifndef _WIN32
    // A read that found nothing (a pass took the bytes between the poll and the notifier) is
    // reported as a read or resource error too; only a hung-up descriptor means the device is
    // gone. Qt stops watching the port after such an error: setting the buffer size re-arms it.
    // A storm of them with no byte read in between is a device gone all the same.
    // A write the system cannot take now (EAGAIN: the far end is not reading) is reported as a
    // write or resource error too; that is back-pressure, and the queue drains later.
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        const bool backPressure = error != QSerialPort::ReadError && port_.bytesToWrite() > 0;
        if (backPressure || ++quietErrors_ < 1000) {
            port_.clearError();
            port_.setReadBufferSize(inBufferSize_);
            return;
        }
    }
#endif
    // The device is gone: close now, before the notifier storms, and report it once.
    lost_.emplace(kErrDeviceLost, "The device " + port_.portName().toStdString() +
                                      " is no longer available (" +
                                      port_.errorString().toStdString() + ")");
    port_.close();
    port_.clearError();
    emit deviceLost();
    emit dataArrived();
}

} // namespace varnok::serial
