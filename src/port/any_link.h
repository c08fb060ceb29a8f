#pragma once
// The line a port number leads to: the local device, or a port over the network when the
// number is bound to one ("rfc2217://...", "tcp://...", "modbus-tcp://..."). Which one is
// decided at each opening; users of the port hold this one link throughout.
#include <memory>

#include "port/link.h"

namespace varnok::serial {

class AnyLink final : public Link {
    Q_OBJECT
  public:
    // `network` may be null: a number bound to a network port then fails to open.
    AnyLink(std::unique_ptr<Link> device, std::unique_ptr<Link> network, QObject* parent = nullptr);
    ~AnyLink() override;

    Link& device() { return *device_; }
    Link* network() { return network_.get(); }

    void setCommPort(int number) override;
    QString devicePath() const override { return device_->devicePath(); }
    void setLineSettings(const LineSettings& line) override;
    const LineSettings& lineSettings() const override { return active_->lineSettings(); }
    void setHandshaking(Handshaking mode) override;
    Handshaking handshaking() const override { return active_->handshaking(); }
    void setInBufferSize(int bytes) override;
    void setDTREnable(bool asserted) override;

    void setPortOpen(bool open) override;
    bool portOpen() const override { return active_->portOpen(); }
    bool opening() const override { return active_->opening(); }
    void setConnectTimeout(int ms) override;
    LinkKind kind() const override;
    QString linkNote() const override { return active_->linkNote(); }
    bool lost() const override { return active_->lost(); }
    QString setLowLatency(bool on) override { return active_->setLowLatency(on); }

    const LineSettings& settingsInForce() const override { return active_->settingsInForce(); }
    bool framingApplied() const override { return active_->framingApplied(); }
    std::vector<LinkSetting> unconfirmedSettings() const override {
        return active_->unconfirmedSettings();
    }
    std::optional<PortError> changeLineSettings(const LineSettings& line) override {
        return active_->changeLineSettings(line);
    }

    int inBufferCount() override { return active_->inBufferCount(); }
    void setInBufferCount(int value) override { active_->setInBufferCount(value); }
    QByteArray inputBytes() override { return active_->inputBytes(); }
    bool hasArrived() const override { return active_->hasArrived(); }
    const QByteArray& waitingInput() const override { return active_->waitingInput(); }
    qint64 totalBytesRead() const override {
        return device_->totalBytesRead() + (network_ ? network_->totalBytesRead() : 0);
    }

    void output(const QByteArray& bytes) override { active_->output(bytes); }
    bool canQueue(qint64 bytes) const override { return active_->canQueue(bytes); }
    std::string blockedReason() const override { return active_->blockedReason(); }
    qint64 queuedOutput() const override { return active_->queuedOutput(); }
    QMetaObject::Connection onOutputLeft(QObject* context, std::function<void()> f) override;

    bool hasModemLines() override { return active_->hasModemLines(); }
    ModemLines modemLines() override { return active_->modemLines(); }
    bool cdHolding() override { return active_->cdHolding(); }
    void setBreak(bool on) override { active_->setBreak(on); }
    void setRts(bool on) override { active_->setRts(on); }

  private:
    void follow(Link& link);

    std::unique_ptr<Link> device_;
    std::unique_ptr<Link> network_;
    Link* active_ = nullptr;
    int number_ = 1;
};

} // namespace varnok::serial
