#pragma once
// The serial port as the windows use it: settings written before opening, input polled,
// output handed to the operating system at once, modem lines read on demand.
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

#include "logic/failure.h"

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

class CommPort : public QObject {
    Q_OBJECT
  public:
    explicit CommPort(QObject* parent = nullptr);
    ~CommPort() override;

    // Settings applied at the next opening.
    void setCommPort(int number);
    int commPort() const { return commPort_; }
    void setSettings(const QString& text);
    QString settings() const { return settings_; }
    void setHandshaking(Handshaking mode);
    Handshaking handshaking() const { return handshaking_; }
    void setInBufferSize(int bytes);
    int inBufferSize() const { return inBufferSize_; }
    // The output queue holds at least kOutputQueueLimit bytes, more when this is larger.
    void setOutBufferSize(int bytes);
    int outBufferSize() const { return outBufferSize_; }
    void setInputLen(int bytes); // 0: one read takes everything waiting
    int inputLen() const { return inputLen_; }
    // Kept for compatibility: input is announced by dataArrived whatever the thresholds say.
    void setRThreshold(int value) { rThreshold_ = value; }
    int rThreshold() const { return rThreshold_; }
    void setSThreshold(int value) { sThreshold_ = value; }
    int sThreshold() const { return sThreshold_; }
    void setInputMode(int mode); // 0 text (one Latin-1 character per byte), 1 bytes
    int inputMode() const { return inputMode_; }

    // DTR: may be set open or closed; an open port changes its line at once.
    void setDTREnable(bool asserted);
    bool dtrEnable() const { return dtrEnable_; }

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

    bool ctsHolding();
    bool dsrHolding();
    bool cdHolding(); // false without failing while closed
    // All three lines in one read of the driver (fails when the port is not open).
    ModemLines modemLines();

    // Bytes handed to the program by input() since this object was made (a diagnostic).
    qint64 totalBytesRead() const { return totalBytesRead_; }

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

  protected:
    // Modem-line access; a test port overrides these to play lines a pseudo-terminal lacks.
    virtual ModemLines readModemLines();
    virtual void applyDtr(bool asserted);
    QSerialPort& device() { return port_; }

  private:
    void requireOpen();
    void pull();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    Handshaking handshaking_ = Handshaking::None;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;
    int inputMode_ = 0;
    bool dtrEnable_ = false;
    std::optional<PortError> lost_; // a vanished device, not yet reported
    qint64 totalBytesRead_ = 0;
    int quietErrors_ = 0; // read errors of a port that has not hung up, since the last byte
};

} // namespace varnok::serial
