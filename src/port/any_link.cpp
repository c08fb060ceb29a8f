#include "port/any_link.h"

#include "logic/serial/network_port.h"
#include "logic/serial/port_map.h"

namespace varnok::serial {

AnyLink::AnyLink(std::unique_ptr<Link> device, std::unique_ptr<Link> network, QObject* parent)
    : Link(parent), device_(std::move(device)), network_(std::move(network)),
      active_(device_.get()) {
    follow(*device_);
    if (network_)
        follow(*network_);
}

AnyLink::~AnyLink() {
    // The inner links go first: nothing they tell on the way out reaches a half-gone object.
    if (network_)
        network_->disconnect(this);
    device_->disconnect(this);
}

void AnyLink::follow(Link& link) {
    // Only the link in use speaks for the port; the other one is closed anyway.
    for (auto signal : {&Link::dataArrived, &Link::deviceLost, &Link::linesMayHaveChanged})
        connect(&link, signal, this, [this, &link, signal] {
            if (&link == active_)
                emit(this->*signal)();
        });
    connect(&link, &Link::openSettled, this, [this, &link](const QString& failure) {
        if (&link == active_)
            emit openSettled(failure);
    });
}

void AnyLink::setCommPort(int number) {
    device_->setCommPort(number);
    if (network_)
        network_->setCommPort(number);
    number_ = number;
}

void AnyLink::setConnectTimeout(int ms) {
    if (network_)
        network_->setConnectTimeout(ms);
}

void AnyLink::setLineSettings(const LineSettings& line) {
    device_->setLineSettings(line);
    if (network_)
        network_->setLineSettings(line);
}

void AnyLink::setHandshaking(Handshaking mode) {
    device_->setHandshaking(mode);
    if (network_)
        network_->setHandshaking(mode);
}

void AnyLink::setInBufferSize(int bytes) {
    device_->setInBufferSize(bytes);
    if (network_)
        network_->setInBufferSize(bytes);
}

void AnyLink::setDTREnable(bool asserted) {
    // Only the link in use has a line to change now; the other takes it at its opening.
    device_->setDTREnable(asserted);
    if (network_)
        network_->setDTREnable(asserted);
}

LinkKind AnyLink::kind() const {
    if (active_->portOpen() || active_->opening())
        return active_->kind();
    return linkKindOf(devicePathFor(number_));
}

void AnyLink::setPortOpen(bool open) {
    if (!open) {
        active_->setPortOpen(false);
        return;
    }
    if (active_->portOpen() || active_->opening())
        throw PortError(kErrPortAlreadyOpen, "Port already open");
    const std::string path = devicePathFor(number_);
    if (!looksLikeNetworkPort(path)) {
        active_ = device_.get();
    } else {
        std::string why;
        if (!parseNetworkPort(path, &why))
            throw PortError(kErrOpenFailed,
                            "Com" + std::to_string(number_) + ": " + path + ": " + why);
        if (!network_)
            throw PortError(kErrOpenFailed, "Com" + std::to_string(number_) + ": " + path +
                                                ": ports over the network are not available");
        active_ = network_.get();
    }
    active_->setPortOpen(true);
}

QMetaObject::Connection AnyLink::onOutputLeft(QObject* context, std::function<void()> f) {
    // Told by whichever link is in use; one connection stands for both.
    const QMetaObject::Connection c = device_->onOutputLeft(context, f);
    if (network_)
        network_->onOutputLeft(context, std::move(f));
    return c;
}

} // namespace varnok::serial
