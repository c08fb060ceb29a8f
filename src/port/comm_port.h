#pragma once
// The local serial device as a link: settings written before opening, input told when it
// arrives, output handed to the operating system at once, modem lines watched without
// polling where the driver can wait for a change.
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "port/link.h"

namespace varnok::serial {

// How a change of the modem lines is seen while open: not at all (the device has none),
// by a thread the driver wakes, or by reading them every kLinesPollMs.
enum class LinesWatch { None, Wait, Poll };

class LineWaiter;

class CommPort final : public Link {
    Q_OBJECT
  public:
    explicit CommPort(QObject* parent = nullptr);
    ~CommPort() override;

    static constexpr int kLinesPollMs = 100;
    // Wake-ups (or errors) in a row that bring no byte, on a descriptor that has not hung up,
    // before the device counts as gone all the same.
    static constexpr int kQuietWakeUpLimit = 1000;
    static constexpr qint64 kOutputQueueLimit = 1 << 20;

    void setCommPort(int number) override;
    // The device the present number opens ("" when no device is mapped).
    QString devicePath() const override;
    void setLineSettings(const LineSettings& line) override { lineSettings_ = line; }
    const LineSettings& lineSettings() const override { return lineSettings_; }
    void setHandshaking(Handshaking mode) override { handshaking_ = mode; }
    Handshaking handshaking() const override { return handshaking_; }
    void setInBufferSize(int bytes) override;
    void setDTREnable(bool asserted) override;

    void setPortOpen(bool open) override;
    bool portOpen() const override;
    bool lost() const override { return lost_.has_value(); }
    // ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL; the flags from before come back when
    // switched off and at closing.
    QString setLowLatency(bool on) override;

    // The line settings the driver kept (a pseudo-terminal keeps the speed and stop bits,
    // and always 8 data bits without parity).
    const LineSettings& settingsInForce() const override { return inForce_; }
    bool framingApplied() const override { return framingApplied_; }
    // A pseudo-terminal takes any framing it cannot apply, as at opening.
    std::optional<PortError> changeLineSettings(const LineSettings& line) override;

    int inBufferCount() override;
    void setInBufferCount(int value) override;
    QByteArray inputBytes() override;
    bool hasArrived() const override { return !in_.isEmpty() || lost_.has_value(); }
    const QByteArray& waitingInput() const override { return in_; }
    qint64 totalBytesRead() const override { return totalBytesRead_; }

    // Hands the bytes to the operating system now, or queues what it cannot take yet.
    void output(const QByteArray& bytes) override;
    bool canQueue(qint64 bytes) const override;
    std::string blockedReason() const override;
    qint64 queuedOutput() const override { return port_.bytesToWrite(); }
    QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f) override;

    // A pseudo-terminal has no modem lines: they read as False, break and RTS throw.
    bool hasModemLines() override;
    ModemLines modemLines() override; // all three in one read of the driver
    bool cdHolding() override;
    void setBreak(bool on) override;
    void setRts(bool on) override;

  private:
    ModemLines readModemLines();
    void applyDtr(bool asserted);
    // How the open device's lines are watched: None when reading them fails.
    LinesWatch watchLines();
    // Told by the device number the driver gives it (Unix98 pseudo-terminals), links followed.
    bool isPseudoTerminal();
    void requireOpen();
    void pull();
    void startReading();
    void onReadable();
    bool readDevice();
    void rearm();
    bool hungUp();
    void markLost(const std::string& why);
    void onError(QSerialPort::SerialPortError error);
    void startLinesWatch();
    void stopLinesWatch();
    void tellLines();
    void closeDevice();
    std::optional<std::string> applyLine(const LineSettings& line);

    QSerialPort port_;
    // Input is read from the descriptor here, not by QSerialPort: everything waiting is taken
    // at each wake-up (QSerialPort takes one chunk, and its notifier then wakes the loop again
    // for nothing and reports that empty read as an error).
    QSocketNotifier* reader_ = nullptr;
    QByteArray in_; // read from the device, not taken yet; at most inBufferSize_ bytes
    int commPort_ = 1;
    LineSettings lineSettings_{9600};
    LineSettings inForce_{9600};
    bool framingApplied_ = true;
    Handshaking handshaking_ = Handshaking::None;
    int inBufferSize_ = 1024;
    bool dtrEnable_ = false;
    LinesWatch linesWatch_ = LinesWatch::None;
    std::unique_ptr<LineWaiter> lineWaiter_;
    QTimer linesPoll_;
    std::optional<PortError> lost_; // a vanished device, not yet reported
    qint64 totalBytesRead_ = 0;
    std::optional<int> flagsBeforeLowLatency_; // serial flags to give back, while raised
    int quietErrors_ = 0; // wake-ups that read nothing on a port not hung up, since the last byte
};

} // namespace varnok::serial
