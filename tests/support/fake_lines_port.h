#pragma once
// A link whose modem lines the test plays: data still flows over the bound device through a
// real serial link (a pseudo-terminal has no CTS, DSR, DCD or DTR), while the lines are what
// the test sets, read every kLinesPollMs while open, and every DTR state handed to the line
// is recorded, open or closed.
#include <QList>
#include <QTimer>
#include <memory>

#include "port/comm_port.h"

namespace varnok::test {

class FakeLinesPort : public serial::Link {
  public:
    serial::ModemLines lines;   // what the far end asserts
    bool failLineReads = false; // reading the lines throws, as a refusing driver would
    bool realLine = false;      // a real line: it refuses framing other than 8 bits, no parity
    int lineReads = 0;          // how often the lines were read
    QList<bool> dtrApplied;     // every DTR state handed to the line, in order
    std::vector<serial::LinkSetting> unconfirmed; // as a far end that has not answered tells
    serial::LinkKind linkKind = serial::LinkKind::Device; // what the link says carries it

    static constexpr int kLineReadError = 8099;

    FakeLinesPort() {
        for (auto signal : {&Link::dataArrived, &Link::deviceLost})
            connect(&inner_, signal, this, signal);
        connect(&inner_, &Link::deviceLost, this, [this] { poll_.stop(); });
        connect(&poll_, &QTimer::timeout, this, [this] {
            if (inner_.portOpen() && !inner_.lost())
                emit linesMayHaveChanged();
        });
    }

    void setCommPort(int number) override {
        inner_.setCommPort(number);
        number_ = number;
    }
    QString devicePath() const override { return inner_.devicePath(); }
    void setLineSettings(const serial::LineSettings& l) override { inner_.setLineSettings(l); }
    const serial::LineSettings& lineSettings() const override { return inner_.lineSettings(); }
    void setHandshaking(serial::Handshaking mode) override { inner_.setHandshaking(mode); }
    serial::Handshaking handshaking() const override { return inner_.handshaking(); }
    void setInBufferSize(int bytes) override { inner_.setInBufferSize(bytes); }
    void setDTREnable(bool asserted) override {
        dtr_ = asserted;
        dtrApplied << asserted;
        inner_.setDTREnable(asserted);
    }

    void setPortOpen(bool open) override {
        poll_.stop();
        inner_.setPortOpen(open);
        if (!open)
            return;
        if (const auto what = refused(inner_.lineSettings())) {
            inner_.setPortOpen(false);
            throw serial::PortError(serial::kErrSettingRefused,
                                    "Com" + std::to_string(number_) + ": " +
                                        devicePath().toStdString() + " refuses " + *what);
        }
        dtrApplied << dtr_;
        poll_.start(serial::CommPort::kLinesPollMs);
    }
    bool portOpen() const override { return inner_.portOpen(); }
    serial::LinkKind kind() const override { return linkKind; }
    bool lost() const override { return inner_.lost(); }

    const serial::LineSettings& settingsInForce() const override {
        return inner_.settingsInForce();
    }
    bool framingApplied() const override { return realLine || inner_.framingApplied(); }
    std::vector<serial::LinkSetting> unconfirmedSettings() const override { return unconfirmed; }
    std::optional<serial::PortError> changeLineSettings(const serial::LineSettings& l) override {
        if (const auto what = refused(l); what && inner_.portOpen() && !inner_.lost())
            return serial::PortError(serial::kErrSettingRefused,
                                     devicePath().toStdString() + " refuses " + *what);
        return inner_.changeLineSettings(l);
    }

    int inBufferCount() override { return inner_.inBufferCount(); }
    void setInBufferCount(int value) override { inner_.setInBufferCount(value); }
    QByteArray inputBytes() override { return inner_.inputBytes(); }
    bool hasArrived() const override { return inner_.hasArrived(); }
    const QByteArray& waitingInput() const override { return inner_.waitingInput(); }
    qint64 totalBytesRead() const override { return inner_.totalBytesRead(); }

    void output(const QByteArray& bytes) override { inner_.output(bytes); }
    bool canQueue(qint64 bytes) const override { return inner_.canQueue(bytes); }
    std::string blockedReason() const override { return inner_.blockedReason(); }
    qint64 queuedOutput() const override { return inner_.queuedOutput(); }
    QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f) override {
        return inner_.onOutputLeft(context, std::move(f));
    }

    bool hasModemLines() override { return inner_.hasModemLines(); }
    serial::ModemLines modemLines() override {
        inner_.modemLines(); // throws as the real link does when not open
        return readLines();
    }
    bool cdHolding() override { return inner_.portOpen() && !inner_.lost() && readLines().dcd; }
    void setBreak(bool on) override { inner_.setBreak(on); }
    void setRts(bool on) override { inner_.setRts(on); }

  private:
    serial::ModemLines readLines() {
        ++lineReads;
        if (failLineReads)
            throw serial::PortError(kLineReadError, "Modem status unreadable");
        return lines;
    }
    // What a real line refuses of `l`; a pseudo-terminal refuses nothing.
    std::optional<std::string> refused(const serial::LineSettings& l) const {
        if (!realLine)
            return std::nullopt;
        if (l.dataBits != 8)
            return std::to_string(l.dataBits) + " data bits";
        if (l.parity != serial::Parity::None)
            return std::string("the parity ") + serial::parityName(l.parity);
        return std::nullopt;
    }

    serial::CommPort inner_;
    QTimer poll_;
    int number_ = 1;
    bool dtr_ = false;
};

// A fake link that says `kind` carries it (data still over the bound pseudo-terminal).
inline std::unique_ptr<FakeLinesPort> fakeLink(serial::LinkKind kind) {
    auto port = std::make_unique<FakeLinesPort>();
    port->linkKind = kind;
    return port;
}

} // namespace varnok::test
