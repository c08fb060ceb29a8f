#pragma once
// The serial port the engine drives: settings written before opening, input told when it
// arrives, output handed to the operating system at once, modem lines watched without
// polling where the driver can wait for a change.
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

#include "logic/failure.h"
#include "logic/serial/settings_text.h"

namespace varnok::serial {

// A port operation that failed; number and description as shown to the user.
class PortError : public Failure {
  public:
    using Failure::Failure;
};

// Error numbers of the port layer.
enum PortErrorNumber {
    kErrInvalidPortNumber = 8002,
    kErrPortAlreadyOpen = 8005,
    kErrOpenFailed = 8010,
    kErrPortNotOpen = 8018,
    kErrDeviceLost = 8020,
    kErrWriteFailed = 8021,
    kErrOutputBlocked = 8022,
    kErrSettingRefused = 8023,
    kErrInvalidValue = 380,
};

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool operator==(const ModemLines&) const = default;
};

// Flow control while open; the numbers are those of the Handshaking property.
enum class Handshaking { None = 0, XonXoff = 1, RtsCts = 2 };

// What input() returns: one Latin-1 character per byte, or the bytes.
enum class InputMode { Text, Bytes };

// How a change of the modem lines is seen while open: not at all (the device has none),
// by a thread the driver wakes, or by reading them every kLinesPollMs.
enum class LinesWatch { None, Wait, Poll };

class LineWaiter;

class CommPort : public QObject {
    Q_OBJECT
  public:
    explicit CommPort(QObject* parent = nullptr);
    ~CommPort() override;

    static constexpr int kLinesPollMs = 100;
    // Wake-ups (or errors) in a row that bring no byte, on a descriptor that has not hung up,
    // before the device counts as gone all the same.
    static constexpr int kQuietWakeUpLimit = 1000;

    // Settings applied at the next opening.
    void setCommPort(int number);
    // "115200,n,8,1", checked now (SettingsFailure), or the same already read.
    void setSettings(const QString& text);
    void setLineSettings(const LineSettings& line) { lineSettings_ = line; }
    const LineSettings& lineSettings() const { return lineSettings_; }
    void setHandshaking(Handshaking mode);
    Handshaking handshaking() const { return handshaking_; }
    void setInBufferSize(int bytes);
    // Checked and otherwise without effect: the output queue holds kOutputQueueLimit bytes.
    void setOutBufferSize(int bytes);
    void setInputLen(int bytes); // 0: one read takes everything waiting
    // Taken and not used: dataArrived tells every arrival, and output leaves at once.
    void setRThreshold(int) {}
    void setSThreshold(int) {}
    void setInputMode(InputMode mode) { inputMode_ = mode; }

    // DTR: may be set open or closed; an open port changes its line at once.
    void setDTREnable(bool asserted);

    // After an opening: the line settings the driver kept (a pseudo-terminal keeps the speed
    // and stop bits, and always 8 data bits without parity), and whether the device has a
    // line at all for the framing to apply to.
    const LineSettings& settingsInForce() const { return inForce_; }
    bool framingApplied() const { return framingApplied_; }

    // The open port's line settings changed without closing it (the settings of the next
    // opening stay). A setting the driver refuses is returned, and the settings in force
    // before stay; a pseudo-terminal takes any framing it cannot apply, as at opening.
    virtual std::optional<PortError> changeLineSettings(const LineSettings& line);

    // Opening: true opens with the settings above (failures throw PortError), false closes.
    void setPortOpen(bool open);
    // Reading never fails. A device that vanished still reads open until the next operation
    // has reported the loss; the port itself is already closed then.
    bool portOpen() const;

    // Bytes waiting, including those the operating system holds that the event loop has not
    // yet delivered. Writing 0 discards them all.
    int inBufferCount();
    void setInBufferCount(int value);
    // Removes and returns waiting input (QString in text mode, QByteArray in byte mode),
    // at most InputLen bytes when InputLen is not 0.
    QVariant input();
    QByteArray inputBytes();
    // Hands the bytes to the operating system now, or queues what it cannot take yet; the
    // queue is bounded, and a write that does not fit is refused whole (kErrOutputBlocked).
    void output(const QByteArray& bytes);
    // Whether `bytes` more would fit in the output queue now.
    bool canQueue(qint64 bytes) const;
    // Why the queue is full, for a message: what waits and what may hold it.
    std::string blockedReason() const;
    static constexpr qint64 kOutputQueueLimit = 1 << 20;

    bool cdHolding(); // false without failing while closed, or without modem lines
    // All three lines in one read of the driver (fails when the port is not open).
    ModemLines modemLines();

    // Bytes handed to the program by input() since this object was made (a diagnostic).
    qint64 totalBytesRead() const { return totalBytesRead_; }
    // Bytes taken in but not read yet, or a vanished device not told yet; the driver is not
    // asked.
    bool hasArrived() const { return !in_.isEmpty() || lost_.has_value(); }
    // The input taken in and not read yet, oldest first, left where it is.
    const QByteArray& waitingInput() const { return in_; }

    // The device the present CommPort opens ("" when no device is mapped).
    QString devicePath() const;

    // ---- BREAK, RTS and the output queue, for tools that drive the line by hand ----
    // Whether the open device has modem lines (a pseudo-terminal has none).
    bool hasModemLines();
    // Holds the line in break or lets it go; sets RTS. Both throw PortError when the port is
    // closed or the device has no such line, RTS also while RTS/CTS flow control drives it.
    void setBreak(bool on);
    void setRts(bool on);
    // Bytes still waiting to leave; `f` runs each time some have left.
    qint64 queuedOutput() const { return port_.bytesToWrite(); }
    QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f);

  signals:
    // Input is waiting (also raised once when the device vanishes, so that a reader looks).
    void dataArrived();
    // The device vanished while open (raised once); the port is already closed.
    void deviceLost();
    // CTS, DSR or DCD may have changed while open: modemLines() tells how they stand.
    void linesMayHaveChanged();

  protected:
    // Modem-line access; a test port overrides these to play lines a pseudo-terminal lacks.
    virtual ModemLines readModemLines();
    virtual void applyDtr(bool asserted);
    // How the open device's lines are watched: None when reading them fails.
    virtual LinesWatch watchLines();
    // Told by the device number the driver gives it (Unix98 pseudo-terminals), links followed.
    virtual bool isPseudoTerminal();
    QSerialPort& device() { return port_; }

  private:
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
    int inputLen_ = 0;
    InputMode inputMode_ = InputMode::Text;
    bool dtrEnable_ = false;
    LinesWatch linesWatch_ = LinesWatch::None;
    std::unique_ptr<LineWaiter> lineWaiter_;
    QTimer linesPoll_;
    std::optional<PortError> lost_; // a vanished device, not yet reported
    qint64 totalBytesRead_ = 0;
    int quietErrors_ = 0; // wake-ups that read nothing on a port not hung up, since the last byte
};

} // namespace varnok::serial
