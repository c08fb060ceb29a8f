#include "port/line_waiter.h"

#include <cerrno>
#include <chrono>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#endif

namespace varnok::serial {

#ifndef _WIN32

namespace {

// A signal with an empty handler and no SA_RESTART takes the thread out of the driver's wait
// (EINTR): closing the descriptor alone would leave it waiting for the next line change.
int wakeSignal() {
    static const int sig = [] {
        const int s = SIGRTMIN + 4;
        struct sigaction a {};
        a.sa_handler = [](int) {};
        sigemptyset(&a.sa_mask);
        ::sigaction(s, &a, nullptr);
        return s;
    }();
    return sig;
}

} // namespace

LineWaiter::LineWaiter(int fd, QObject* parent) : QObject(parent) {
    wakeSignal();
    thread_ = std::thread([this, fd] { run(fd); });
}

LineWaiter::~LineWaiter() {
    stop_ = true;
    // The signal may land just before the thread enters the wait: send it until it is out.
    while (!done_) {
        ::pthread_kill(thread_.native_handle(), wakeSignal());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
}

void LineWaiter::run(int fd) {
    while (!stop_) {
        if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD) == 0) {
            emit changed(); // queued: the receiver lives on the owner's thread
            continue;
        }
        if (errno == EINTR)
            continue;
        // A hung-up device (EIO) is reported by the port itself; anything else is a driver
        // that cannot wait.
        if (errno != EIO && !stop_)
            emit unsupported();
        break;
    }
    done_ = true;
}

#else
// No such wait here: the port reads the lines every kLinesPollMs instead.
LineWaiter::LineWaiter(int, QObject* parent) : QObject(parent) {}
LineWaiter::~LineWaiter() = default;
void LineWaiter::run(int) {}
#endif

} // namespace varnok::serial
