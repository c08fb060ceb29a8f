#pragma once
// One ser2net process for a test, serving a device (a pseudo-terminal's path) on free ports of
// 127.0.0.1: raw TCP and RFC 2217, serial data passed on without its character delay.
#include <QProcess>
#include <QTemporaryDir>

namespace varnok::test {

class Ser2netProcess {
  public:
    static constexpr const char* kProgram = "/usr/sbin/ser2net";
    static bool installed();

    ~Ser2netProcess() { stop(); }
    // False when it did not start or a port does not accept within a few seconds.
    bool start(const QString& device, const QString& settings = "115200n81");
    quint16 rawPort() const { return rawPort_; }
    quint16 rfc2217Port() const { return rfc2217Port_; }
    // Ends the process by its id: its ports stop accepting and its connections close.
    void stop();

  private:
    QProcess proc_;
    QTemporaryDir dir_;
    quint16 rawPort_ = 0;
    quint16 rfc2217Port_ = 0;
};

// A port of 127.0.0.1 nobody listens on now.
quint16 freeLocalPort();

} // namespace varnok::test
