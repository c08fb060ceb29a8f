#pragma once
// A port over the network as a link: a remote serial port (RFC 2217), a raw byte stream or
// Modbus TCP, bound to a port number as "rfc2217://HOST:PORT", "tcp://HOST:PORT" or
// "modbus-tcp://HOST[:PORT]". Opening connects first and tells openSettled; a remote serial
// port then takes the line settings and modem lines through COM-PORT-OPTION, and a setting the
// server never confirms is listed rather than failed.
#include <QTcpSocket>
#include <QTimer>
#include <map>

#include "logic/serial/network_port.h"
#include "logic/serial/telnet_codec.h"
#include "port/link.h"

namespace varnok::serial {

class NetworkLink final : public Link {
    Q_OBJECT
  public:
    explicit NetworkLink(QObject* parent = nullptr);
    ~NetworkLink() override;

    static constexpr int kDefaultConnectTimeoutMs = 3000;
    // How long an opening waits for the server to confirm the line settings.
    static constexpr int kConfirmWaitMs = 500;
    static constexpr qint64 kOutputQueueLimit = 1 << 20;
    // Bytes the socket holds beyond the input buffer; the system holds the rest (TCP windows).
    static constexpr qint64 kSocketReadBuffer = 1 << 16;

    // From the start of an opening to the connection (and, for RFC 2217, to the server's
    // agreement to take port commands).
    void setConnectTimeout(int ms) override { connectTimeoutMs_ = ms; }
    int connectTimeout() const { return connectTimeoutMs_; }

    void setCommPort(int number) override;
    QString devicePath() const override;
    void setLineSettings(const LineSettings& line) override { lineSettings_ = line; }
    const LineSettings& lineSettings() const override { return lineSettings_; }
    void setHandshaking(Handshaking mode) override { handshaking_ = mode; }
    Handshaking handshaking() const override { return handshaking_; }
    void setInBufferSize(int bytes) override;
    void setDTREnable(bool asserted) override;

    void setPortOpen(bool open) override;
    bool portOpen() const override { return phase_ == Phase::Open || lost_.has_value(); }
    bool opening() const override {
        return phase_ == Phase::Connecting || phase_ == Phase::Negotiating;
    }
    LinkKind kind() const override;
    QString linkNote() const override;
    bool lost() const override { return lost_.has_value(); }

    const LineSettings& settingsInForce() const override { return inForce_; }
    // The server applies the framing of a remote serial port; a byte stream has none to apply.
    bool framingApplied() const override;
    std::vector<LinkSetting> unconfirmedSettings() const override;
    // A remote serial port takes the new settings as sent; the server confirms them later.
    std::optional<PortError> changeLineSettings(const LineSettings& line) override;

    int inBufferCount() override;
    // Writing 0 also asks a remote serial port to purge what it has received.
    void setInBufferCount(int value) override;
    QByteArray inputBytes() override;
    bool hasArrived() const override { return !in_.isEmpty() || lost_.has_value(); }
    const QByteArray& waitingInput() const override { return in_; }
    qint64 totalBytesRead() const override { return totalBytesRead_; }

    void output(const QByteArray& bytes) override;
    bool canQueue(qint64 bytes) const override;
    std::string blockedReason() const override;
    qint64 queuedOutput() const override { return socket_ ? socket_->bytesToWrite() : 0; }
    QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f) override;

    // Only a remote serial port has modem lines, break and RTS.
    bool hasModemLines() override;
    ModemLines modemLines() override;
    bool cdHolding() override;
    void setBreak(bool on) override;
    void setRts(bool on) override;

  signals:
    // Some queued output has left (the socket of each opening is a new one).
    void outputLeft();

  private:
    enum class Phase { Closed, Connecting, Negotiating, Open };

    bool comPort() const { return target_.kind == NetworkKind::Rfc2217; }
    bool comPortAgreed() const { return comPort() && negotiator_.comPortAgreed(); }
    QString endpoint() const;
    std::string failureText(const QString& why) const;
    void requireOpen();
    void send(const std::string& wire);
    void onConnected();
    void onReadyRead();
    void onSocketError();
    void onConnectTimeout();
    // Takes what the socket holds into the input, up to the input buffer size.
    void readSocket();
    void takeCommand(const telnet::Command& command);
    void takeReply(const telnet::Reply& reply);
    void confirm(LinkSetting setting, std::uint32_t value, bool unknown);
    // The commands for the wire; each setting is listed as waiting for its answer.
    std::string settingsWire(const LineSettings& line);
    std::string controlWire(LinkSetting setting, std::uint8_t value);
    void checkSettled();
    void settle();
    void fail(const std::string& text);
    void markLost(const QString& why);
    void closeSocket();
    void tellInputLater();

    QTcpSocket* socket_ = nullptr; // one for each opening
    // Counts closings: a handler told of a settled opening may close (and open) the link
    // while a chunk of the old connection is being read.
    int generation_ = 0;
    // outputLeft is being told: a write made by one who hears it tells nobody again (as the
    // socket guards its own bytesWritten), so a sender pumping on it cannot recurse.
    bool tellingOutputLeft_ = false;
    QTimer connectTimer_;
    QTimer confirmTimer_;
    Phase phase_ = Phase::Closed;
    NetworkPort target_;
    telnet::Parser parser_;
    telnet::Negotiator negotiator_;
    bool settingsSent_ = false;
    // Settings sent and not confirmed yet, with the value the server's answer should carry.
    std::map<LinkSetting, std::uint32_t> pending_;
    QString signature_;
    ModemLines lines_;
    QByteArray in_; // serial data taken in, not read yet; at most inBufferSize_ bytes
    bool inputToldLater_ = false;
    int connectTimeoutMs_ = kDefaultConnectTimeoutMs;
    int commPort_ = 1;
    LineSettings lineSettings_{9600};
    LineSettings inForce_{9600};
    Handshaking handshaking_ = Handshaking::None;
    int inBufferSize_ = 1024;
    bool dtrEnable_ = false;
    std::optional<PortError> lost_;
    qint64 totalBytesRead_ = 0;
};

} // namespace varnok::serial
