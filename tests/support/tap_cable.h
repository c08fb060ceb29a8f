#pragma once
// A tapped Modbus RTU link of pseudo-terminals: a master thread reads holding register 0
// from a device (the simulator's path) through a forwarder that copies the master's bytes to
// port A and the device's to port B, as a tap adapter on each wire hears them; on a bus one
// adapter (port A) hears both. Header only: its user links libmodbus.
#include <QByteArray>
#include <atomic>
#include <fcntl.h>
#include <modbus.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/pty_pair.h"

namespace varnok::test {

class TapCable {
  public:
    enum class Ears { TwoPorts, OneBus };
    TapCable(const QString& devicePath, Ears ears) : ears_(ears) {
        device_ = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (device_ >= 0 && ::tcgetattr(device_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(device_, TCSANOW, &t);
        }
        forwarder_ = std::thread([this] { forward(); });
    }
    ~TapCable() {
        if (master_.joinable())
            master_.join();
        stop_ = true;
        forwarder_.join();
        if (device_ >= 0)
            ::close(device_);
    }
    QString pathA() const { return a_.slavePath(); }
    QString pathB() const { return b_.slavePath(); }

    // Reads each station in turn, `pauseMs` apart, on the master's own thread.
    void read(std::vector<int> stations, int pauseMs = 20) {
        master_ = std::thread([this, stations, pauseMs] {
            modbus_t* ctx =
                modbus_new_rtu(link_.slavePath().toLocal8Bit().constData(), 115200, 'N', 8, 1);
            modbus_set_response_timeout(ctx, 0, 150000);
            if (modbus_connect(ctx) == 0)
                for (const int station : stations) {
                    uint16_t reg = 0;
                    modbus_set_slave(ctx, station);
                    answered_ += modbus_read_registers(ctx, 0, 1, &reg) == 1;
                    ::usleep(useconds_t(pauseMs) * 1000);
                }
            modbus_close(ctx);
            modbus_free(ctx);
            done_ = true;
        });
    }
    bool done() const { return done_; }
    int answered() const { return answered_; }
    // What the forwarder copied to each port, and what came back from them (this program
    // writing where it should only listen).
    QByteArray heardA() const { return copy(heardA_); }
    QByteArray heardB() const { return copy(heardB_); }
    qint64 writtenByUs() const { return written_; }

  private:
    static void put(int fd, const char* data, ssize_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size_t(size));
            if (n > 0) {
                data += n, size -= n;
            } else {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }
    QByteArray copy(const QByteArray& b) const {
        std::lock_guard lock(mutex_);
        return b;
    }
    void forward() {
        const int link = link_.masterFd(), a = a_.masterFd(), b = b_.masterFd();
        pollfd fds[4] = {{link, POLLIN, 0}, {device_, POLLIN, 0}, {a, POLLIN, 0}, {b, POLLIN, 0}};
        char buf[4096];
        while (!stop_) {
            if (::poll(fds, 4, 20) <= 0)
                continue;
            for (int i = 0; i < 4; ++i) {
                if (fds[i].revents & (POLLHUP | POLLERR))
                    fds[i].fd = -1; // the simulator has ended
                const ssize_t n =
                    (fds[i].revents & POLLIN) ? ::read(fds[i].fd, buf, sizeof buf) : 0;
                if (n <= 0)
                    continue;
                if (i >= 2) {
                    written_ += n;
                    continue;
                }
                const bool toB = i == 1 && ears_ == Ears::TwoPorts;
                {
                    std::lock_guard lock(mutex_);
                    (toB ? heardB_ : heardA_).append(buf, n);
                }
                put(toB ? b : a, buf, n); // the copy first: a tap hears it as it goes by
                put(i == 0 ? device_ : link, buf, n);
            }
        }
    }

    Ears ears_;
    PtyPair link_, a_, b_; // the master's line, and the ports this program opens
    int device_ = -1;
    std::thread forwarder_, master_;
    std::atomic<bool> stop_{false}, done_{false};
    std::atomic<int> answered_{0};
    std::atomic<qint64> written_{0};
    mutable std::mutex mutex_;
    QByteArray heardA_, heardB_;
};

} // namespace varnok::test
