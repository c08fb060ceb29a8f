#pragma once
// A line the engine drives, whatever carries it: settings given before opening, input told
// when it arrives, output through a bounded queue, and the modem lines where the link has
// them. The local serial device is one link; a link may lack modem lines or a line to apply
// framing to, and may hold settings the far end has not confirmed.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "logic/failure.h"
#include "logic/serial/network_port.h"
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
    kErrListenOnly = 8024,
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

// What carries the line: a device of this computer, or a port over the network (a remote
// serial port with RFC 2217, a raw byte stream, Modbus TCP).
enum class LinkKind { Device, Rfc2217, RawTcp, ModbusTcp };

// A setting a far end confirms (or not) on its own.
enum class LinkSetting { Baud, DataBits, Parity, StopBits, FlowControl, Dtr, Rts };

class Link : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // ---- Settings applied at the next opening
    virtual void setCommPort(int number) = 0; // throws while open
    // Where the present number leads ("" when nowhere).
    virtual QString devicePath() const = 0;
    virtual void setLineSettings(const LineSettings& line) = 0;
    virtual const LineSettings& lineSettings() const = 0;
    virtual void setHandshaking(Handshaking mode) = 0;
    virtual Handshaking handshaking() const = 0;
    virtual void setInBufferSize(int bytes) = 0; // throws below 1
    // DTR: may be set open or closed; an open link changes its line at once.
    virtual void setDTREnable(bool asserted) = 0;

    // ---- Opening: true opens with the settings above (failures throw PortError), false
    // closes. Reading never fails; a vanished device reads open until reported.
    // A link that connects first (over the network) returns from setPortOpen(true) with
    // opening() true and portOpen() false, and tells openSettled once it is open or has
    // failed; setPortOpen(false) meanwhile cancels it without a signal.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual bool opening() const { return false; }
    // How long a link that connects first waits for its far end, from the next opening on.
    virtual void setConnectTimeout(int ms) { (void)ms; }
    // What carries the present number's line (decided by its binding; read at opening).
    virtual LinkKind kind() const { return LinkKind::Device; }
    // What the device line says of the open link beyond its settings ("connected to
    // 127.0.0.1:7001, RFC 2217, server 'ser2net'"); "" for a local device.
    virtual QString linkNote() const { return {}; }
    // The device vanished and no operation has reported it yet.
    virtual bool lost() const = 0;
    // Asks the open line's driver to hand input over at once instead of gathering it; off
    // gives back the flags from before. "" when granted, else why not. A link without a
    // serial driver (over the network) has nothing to ask and answers "".
    virtual QString setLowLatency(bool on) {
        (void)on;
        return {};
    }

    // ---- Settings in force after an opening, and changes of them while open
    virtual const LineSettings& settingsInForce() const = 0;
    // Whether there is a line the framing applies to (a pseudo-terminal has none).
    virtual bool framingApplied() const = 0;
    // Settings asked for that the far end has not confirmed (none on a local device).
    virtual std::vector<LinkSetting> unconfirmedSettings() const { return {}; }
    // A refused setting is returned and the settings in force before stay.
    virtual std::optional<PortError> changeLineSettings(const LineSettings& line) = 0;

    // ---- Input
    // Bytes waiting, including those not delivered by the event loop yet; writing 0 purges.
    virtual int inBufferCount() = 0;
    virtual void setInBufferCount(int value) = 0;
    // Removes and returns everything waiting.
    virtual QByteArray inputBytes() = 0;
    // Input taken in and not read yet, or a vanished device not told yet; nothing is asked.
    virtual bool hasArrived() const = 0;
    // The input taken in and not read yet, oldest first, left where it is.
    virtual const QByteArray& waitingInput() const = 0;
    // Bytes handed out by inputBytes() since this object was made (a diagnostic).
    virtual qint64 totalBytesRead() const = 0;

    // ---- Output: sent now, or queued; a write that does not fit is refused whole
    // (kErrOutputBlocked).
    virtual void output(const QByteArray& bytes) = 0;
    virtual bool canQueue(qint64 bytes) const = 0;
    // Why the queue is full, for a message.
    virtual std::string blockedReason() const = 0;
    virtual qint64 queuedOutput() const = 0;
    // `f` runs each time some queued bytes have left.
    virtual QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f) = 0;

    // ---- Modem lines, break and RTS
    virtual bool hasModemLines() = 0;    // throws when not open
    virtual ModemLines modemLines() = 0; // throws when not open
    virtual bool cdHolding() = 0;        // false while closed or without lines
    virtual void setBreak(bool on) = 0;  // throws without the line
    virtual void setRts(bool on) = 0;    // throws without the line or under RTS/CTS

  signals:
    // An opening that connects first has ended: open when `failure` is empty, else closed
    // with the text naming the host, the port and the system's reason.
    void openSettled(const QString& failure);
    // Input is waiting (also raised once when the device vanishes, so that a reader looks).
    void dataArrived();
    // The device vanished while open (raised once); the link is already closed.
    void deviceLost();
    // CTS, DSR or DCD may have changed while open: modemLines() tells how they stand.
    void linesMayHaveChanged();
};

// What a bound path leads to: a network port by its scheme, else a device.
LinkKind linkKindOf(const std::string& path);
LinkKind linkKindOf(NetworkKind kind);

// The name the device line shows for a setting not confirmed.
const char* linkSettingName(LinkSetting s);

} // namespace varnok::serial
