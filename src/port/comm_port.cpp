#include "port/comm_port.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

#include "logic/serial/port_map.h"
#include "port/line_waiter.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
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

#ifndef _WIN32
// The framing the driver holds now; the speed is the one it accepted.
LineSettings framingOf(int fd, std::int32_t baud) {
    LineSettings s;
    s.baud = baud;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return s;
    const tcflag_t size = t.c_cflag & CSIZE;
    s.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        s.parity = (t.c_cflag & CMSPAR) ? (odd ? Parity::Mark : Parity::Space)
                                        : (odd ? Parity::Odd : Parity::Even);
    }
    s.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    return s;
}
#endif

} // namespace

CommPort::CommPort(QObject* parent) : Link(parent) {
    // Only where QSerialPort reads (not on Unix, see startReading): what it took is taken over.
    connect(&port_, &QSerialPort::readyRead, this, &CommPort::onReadable);
    connect(&port_, &QSerialPort::errorOccurred, this, &CommPort::onError);
    connect(&linesPoll_, &QTimer::timeout, this, &CommPort::tellLines);
}

CommPort::~CommPort() {
    stopLinesWatch();
}

void CommPort::setCommPort(int number) {
    if (port_.isOpen())
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    commPort_ = number;
}

void CommPort::setInBufferSize(int bytes) {
    if (bytes < 1)
        throw PortError(kErrInvalidValue, "Invalid property value: input buffer size");
    inBufferSize_ = bytes;
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

QString CommPort::setLowLatency(bool on) {
#ifdef __linux__
    if (!port_.isOpen())
        return on ? QStringLiteral("low latency not available: the port is not open") : QString();
    const int fd = static_cast<int>(port_.handle());
    serial_struct ss{};
    const auto reason = [this] {
        return QStringLiteral("low latency not available on %1: %2")
            .arg(devicePath(), QString::fromLocal8Bit(std::strerror(errno)));
    };
    if (!on) {
        if (!flagsBeforeLowLatency_)
            return {};
        const int before = *std::exchange(flagsBeforeLowLatency_, std::nullopt);
        if (::ioctl(fd, TIOCGSERIAL, &ss) != 0)
            return reason();
        ss.flags = before;
        return ::ioctl(fd, TIOCSSERIAL, &ss) == 0 ? QString() : reason();
    }
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0)
        return reason();
    if (!flagsBeforeLowLatency_)
        flagsBeforeLowLatency_ = ss.flags;
    ss.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
        flagsBeforeLowLatency_.reset();
        return reason();
    }
    return {};
#else
    return on ? QStringLiteral("low latency not available on this system") : QString();
#endif
}

void CommPort::closeDevice() {
    stopLinesWatch(); // before the descriptor goes: the waiting thread uses it
    static_cast<void>(setLowLatency(false)); // the driver's flags as they were
    if (reader_) {
        reader_->setEnabled(false);
        reader_->deleteLater(); // this may be its own wake-up
        reader_ = nullptr;
    }
    in_.clear();
    port_.close();
    port_.clearError();
}

void CommPort::setPortOpen(bool open) {
    if (!open) {
        lost_.reset();
        if (port_.isOpen())
            closeDevice();
        return;
    }
    if (port_.isOpen())
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    lost_.reset();
    quietErrors_ = 0;
    if (commPort_ < kFirstPort || commPort_ > kLastPort)
        throw PortError(kErrInvalidPortNumber,
                        "Invalid port number " + std::to_string(commPort_) + " (1 to 255)");
    const LineSettings ls = lineSettings_;
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
        closeDevice();
        throw PortError(kErrSettingRefused, name + ": " + path.toStdString() + " refuses " + what);
    };
    // A pseudo-terminal has no line: its driver keeps 8 data bits without parity whatever is
    // asked, which is no fault of the settings. Only a real line's refusal fails the opening.
    framingApplied_ = !isPseudoTerminal();
    if (const auto what = applyLine(ls))
        refused(*what);
    if (!port_.setFlowControl(flow))
        refused(handshaking_ == Handshaking::RtsCts ? "RTS/CTS flow control"
                                                    : "XON/XOFF flow control");
    port_.clearError();
#ifndef _WIN32
    inForce_ = framingOf(static_cast<int>(port_.handle()), ls.baud);
#else
    inForce_ = ls;
#endif
    applyDtr(dtrEnable_);
    startLinesWatch();
    startReading();
}

void CommPort::startReading() {
#ifndef _WIN32
    // QSerialPort's reader stays off: it only turns on again when the port is read through or
    // its buffer size set, which nothing does while open.
    for (QSocketNotifier* n : port_.findChildren<QSocketNotifier*>())
        if (n->type() == QSocketNotifier::Read)
            n->setEnabled(false);
    reader_ = new QSocketNotifier(port_.handle(), QSocketNotifier::Read, this);
    connect(reader_, &QSocketNotifier::activated, this, &CommPort::onReadable);
#endif
}

// Takes what the device holds, up to the input buffer size; true when bytes came.
bool CommPort::readDevice() {
    if (!port_.isOpen())
        return false;
    const qsizetype before = in_.size();
    // What QSerialPort holds came before what the device still has.
    if (port_.bytesAvailable() > 0)
        in_ += port_.read(std::max<qint64>(inBufferSize_ - in_.size(), 0));
#ifndef _WIN32
    // Read until the device has nothing more: a pseudo-terminal gives 4095 bytes of a 4 KiB
    // write, then the last one; a second wake-up for it would cost more than the read.
    const int fd = static_cast<int>(port_.handle());
    while (in_.size() < inBufferSize_) {
        const qsizetype at = in_.size();
        in_.resize(inBufferSize_);
        const ssize_t n = ::read(fd, in_.data() + at, static_cast<std::size_t>(inBufferSize_ - at));
        const int error = errno;
        in_.resize(at + std::max<qsizetype>(n, 0));
        if (n > 0)
            continue;
        // An empty read is only "nothing yet" (the port reads without waiting); a failure
        // other than that is a device gone when the descriptor says it hung up.
        if (n < 0 && error != EAGAIN && error != EINTR && hungUp())
            markLost(std::strerror(error));
        break;
    }
#endif
    if (lost_ || in_.size() == before)
        return false;
    quietErrors_ = 0;
    return true;
}

bool CommPort::hungUp() {
#ifndef _WIN32
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

void CommPort::onReadable() {
    if (!port_.isOpen() || lost_)
        return;
    if (!readDevice()) {
        if (lost_)
            return; // told by the read
        // Woken for bytes a pass had already taken; only a storm of that is a device gone.
        if (!hungUp() && ++quietErrors_ < kQuietWakeUpLimit)
            return;
        markLost("it hung up");
        return;
    }
    rearm();
    emit dataArrived();
}

void CommPort::rearm() {
    // A full buffer waits for its reader; the device holds what comes meanwhile.
    if (reader_)
        reader_->setEnabled(in_.size() < inBufferSize_);
}

// What the driver refuses of `line`, each setter's answer checked; nothing when all is taken.
std::optional<std::string> CommPort::applyLine(const LineSettings& ls) {
    if (!port_.setBaudRate(ls.baud))
        return "the baud rate " + std::to_string(ls.baud);
    if (!port_.setDataBits(static_cast<QSerialPort::DataBits>(ls.dataBits)) && framingApplied_)
        return std::to_string(ls.dataBits) + " data bits";
    if (!port_.setParity(toQt(ls.parity)) && framingApplied_)
        return std::string("the parity ") + parityName(ls.parity);
#ifndef _WIN32
    // The driver takes 1.5 without a word and sends 1: this system has no 1.5 stop bits.
    if (ls.stopBits == StopBits::OneAndHalf)
        return std::string("1.5 stop bits (this system has 1 or 2 only)");
#endif
    if (!port_.setStopBits(toQt(ls.stopBits)))
        return std::string(stopBitsText(ls.stopBits)) + " stop bits";
    return std::nullopt;
}

std::optional<PortError> CommPort::changeLineSettings(const LineSettings& line) {
    if (!port_.isOpen() || lost_)
        return PortError(kErrPortNotOpen, "Operation valid only when the port is open");
    const std::optional<std::string> what = applyLine(line);
    port_.clearError();
    if (what) {
        // Half a change would leave a setting nobody asked for: back to the one in force.
        applyLine(inForce_);
        port_.clearError();
        return PortError(kErrSettingRefused, port_.portName().toStdString() + " refuses " + *what);
    }
#ifndef _WIN32
    inForce_ = framingOf(static_cast<int>(port_.handle()), line.baud);
#else
    inForce_ = line;
#endif
    return std::nullopt;
}

bool CommPort::isPseudoTerminal() {
#ifndef _WIN32
    struct stat st {};
    if (::fstat(static_cast<int>(port_.handle()), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143; // Unix98 pseudo-terminal slaves
#else
    return false;
#endif
}

LinesWatch CommPort::watchLines() {
#ifndef _WIN32
    int bits = 0;
    return ::ioctl(static_cast<int>(port_.handle()), TIOCMGET, &bits) == 0 ? LinesWatch::Wait
                                                                           : LinesWatch::None;
#else
    return LinesWatch::Poll;
#endif
}

void CommPort::startLinesWatch() {
    linesWatch_ = watchLines();
    if (linesWatch_ == LinesWatch::Wait) {
        lineWaiter_ = std::make_unique<LineWaiter>(static_cast<int>(port_.handle()));
        connect(lineWaiter_.get(), &LineWaiter::changed, this, &CommPort::tellLines);
        // This driver cannot wait for a change: read the lines every kLinesPollMs instead.
        connect(lineWaiter_.get(), &LineWaiter::unsupported, this, [this] {
            if (linesWatch_ != LinesWatch::Wait)
                return; // closed meanwhile
            linesWatch_ = LinesWatch::Poll;
            linesPoll_.start(kLinesPollMs);
        });
    } else if (linesWatch_ == LinesWatch::Poll) {
        linesPoll_.start(kLinesPollMs);
    }
}

void CommPort::tellLines() {
    // A change told by the thread just before the port closed arrives afterwards: dropped.
    if (port_.isOpen() && !lost_)
        emit linesMayHaveChanged();
}

void CommPort::stopLinesWatch() {
    linesPoll_.stop();
    lineWaiter_.reset();
    linesWatch_ = LinesWatch::None;
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
#ifdef _WIN32
    port_.waitForReadyRead(0);
    if (port_.error() == QSerialPort::TimeoutError)
        port_.clearError();
#endif
    readDevice();
    rearm();
}

int CommPort::inBufferCount() {
    requireOpen();
    pull();
    if (lost_)
        requireOpen();
    return static_cast<int>(in_.size());
}

void CommPort::setInBufferCount(int value) {
    requireOpen();
    if (value != 0)
        throw PortError(kErrInvalidValue, "Invalid property value: only 0 can be written");
    pull();
    in_.clear();
    port_.clear(QSerialPort::Input);
    rearm();
}

QByteArray CommPort::inputBytes() {
    requireOpen();
    pull();
    if (lost_)
        requireOpen();
    QByteArray bytes = std::exchange(in_, QByteArray());
    rearm();
    totalBytesRead_ += bytes.size();
    return bytes;
}

bool CommPort::canQueue(qint64 bytes) const {
    return port_.bytesToWrite() + bytes <= kOutputQueueLimit;
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
    qint64 done = 0;
#ifndef _WIN32
    // With nothing queued the bytes go straight to the device: through the port's queue each
    // write would cost the event loop two more turns (its write notifier on, then off).
    if (port_.bytesToWrite() == 0) {
        const ssize_t n = ::write(static_cast<int>(port_.handle()), bytes.constData(),
                                  static_cast<std::size_t>(bytes.size()));
        done = n > 0 ? n : 0; // a failure shows again below, where the port reports it
    }
#endif
    if (done == bytes.size())
        return;
    const QByteArray rest = done ? bytes.mid(done) : bytes;
    if (port_.write(rest) != rest.size())
        throw PortError(kErrWriteFailed, "Write error: " + port_.errorString().toStdString());
    port_.flush(); // leave now, not when the event loop next runs
    if (lost_)
        requireOpen();
}

ModemLines CommPort::readModemLines() {
    ModemLines lines;
    // A device without modem lines (a pseudo-terminal) is not asked: they read as False.
    if (!port_.isOpen() || linesWatch_ == LinesWatch::None)
        return lines;
    const QSerialPort::PinoutSignals s = port_.pinoutSignals();
    port_.clearError();
    lines.cts = s.testFlag(QSerialPort::ClearToSendSignal);
    lines.dsr = s.testFlag(QSerialPort::DataSetReadySignal);
    lines.dcd = s.testFlag(QSerialPort::DataCarrierDetectSignal);
    return lines;
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
    // A write the system cannot take now (EAGAIN: the far end is not reading) is reported as a
    // write or resource error; that is back-pressure, and the queue drains later. Only a
    // hung-up descriptor means the device is gone, or a storm of errors with no byte between.
    if (!hungUp()) {
        const bool backPressure = error != QSerialPort::ReadError && port_.bytesToWrite() > 0;
        if (backPressure || ++quietErrors_ < kQuietWakeUpLimit) {
            port_.clearError();
            return;
        }
    }
#endif
    markLost(port_.errorString().toStdString());
}

void CommPort::markLost(const std::string& why) {
    // The device is gone: close now, before the notifier storms, and report it once.
    lost_.emplace(kErrDeviceLost, "The device " + port_.portName().toStdString() +
                                      " is no longer available (" + why + ")");
    closeDevice();
    emit deviceLost();
    // Told from the event loop, like every arrival: this may be inside a port call.
    QMetaObject::invokeMethod(this, &CommPort::dataArrived, Qt::QueuedConnection);
}

} // namespace varnok::serial
