#pragma once
// A tapped Modbus RTU link of pseudo-terminals: a libmodbus master reads holding register 0
// from a device (the simulator's path) through a forwarder that copies the master's bytes to
// port A and the device's to port B, as a tap adapter on each wire hears them (or both to A,
// as one adapter on a bus). Header only: its user links libmodbus.
#include <atomic>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "support/pty_pair.h"

namespace varnok::test {

class TapCable {
  public:
    // Read by the test after finish(): what each port was given, and what came back from
    // them (this program writing where it only listens).
    QByteArray heardA, heardB;
    qint64 writtenByUs = 0;
    std::atomic<int> answered{0};
    std::atomic<bool> done{false};

    TapCable(const QString& devicePath, bool tap) : tap_(tap) {
        device_ = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(device_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(device_, TCSANOW, &t);
        forwarder_ = std::thread([this] { forward(); });
    }
    ~TapCable() { finish(), ::close(device_); }
    QString pathA() const { return a_.slavePath(); }
    QString pathB() const { return b_.slavePath(); }

    // Reads each station in turn, 20 ms apart, on a thread of its own (a silent one costs
    // the master's 150 ms response timeout).
    void read(const QList<int>& stations) {
        master_ = std::thread([this, stations] {
            const QByteArray path = link_.slavePath().toLocal8Bit();
            modbus_t* ctx = modbus_new_rtu(path.constData(), 115200, 'N', 8, 1);
            modbus_set_response_timeout(ctx, 0, 150000);
            if (modbus_connect(ctx) == 0)
                for (const int station : stations) {
                    uint16_t reg = 0;
                    modbus_set_slave(ctx, station);
                    answered += modbus_read_registers(ctx, 0, 1, &reg) == 1;
                    ::usleep(20000);
                }
            modbus_close(ctx);
            modbus_free(ctx);
            done = true;
        });
    }
    void finish() {
        if (master_.joinable())
            master_.join();
        stop_ = true;
        if (forwarder_.joinable())
            forwarder_.join();
    }

  private:
    void forward() {
        const int link = link_.masterFd(), a = a_.masterFd(), b = b_.masterFd();
        for (const int fd : {link, a, b})
            ::fcntl(fd, F_SETFL, 0); // writes wait for their reader; reads follow poll()
        pollfd fds[4] = {{link, POLLIN, 0}, {device_, POLLIN, 0}, {a, POLLIN, 0}, {b, POLLIN, 0}};
        char buf[4096];
        while (!stop_) {
            ::poll(fds, 4, 20);
            for (int i = 0; i < 4; ++i) {
                if (fds[i].revents & (POLLHUP | POLLERR))
                    fds[i].fd = -1; // the simulator has ended
                const ssize_t n =
                    (fds[i].revents & POLLIN) ? ::read(fds[i].fd, buf, sizeof buf) : 0;
                writtenByUs += i >= 2 ? std::max<ssize_t>(n, 0) : 0;
                if (n <= 0 || i >= 2)
                    continue;
                const bool toB = i == 1 && tap_;
                (toB ? heardB : heardA).append(buf, n);
                // The copy first: a tap hears it as it goes by.
                ::write(toB ? b : a, buf, std::size_t(n));
                ::write(i == 0 ? device_ : link, buf, std::size_t(n));
            }
        }
    }

    bool tap_;             // else a bus: A hears both ways
    PtyPair link_, a_, b_; // the master's line, and the ports this program opens
    int device_ = -1;
    std::thread forwarder_, master_;
    std::atomic<bool> stop_{false};
};

} // namespace varnok::test
