#include "support/pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace varnok::test {

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    termios t{};
    for (int fd : {master_, slave_}) {
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

void PtyPair::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPair::write(const QByteArray& bytes) {
    qsizetype done = 0;
    QElapsedTimer t;
    t.start();
    while (done < bytes.size() && master_ >= 0 && t.elapsed() < 60000) {
        const ssize_t n =
            ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 2);
    }
}

QByteArray PtyPair::readAvailable() {
    QByteArray out;
    char buf[65536];
    while (master_ >= 0) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

QByteArray PtyPair::readExactly(qsizetype count, int timeoutMs) {
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (out.size() < count && t.elapsed() < timeoutMs) {
        out += readAvailable();
        if (out.size() >= count)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 2);
    }
    return out;
}

QByteArray PtyPair::readFor(int ms) {
    const QByteArray out = readExactly(std::numeric_limits<qsizetype>::max(), ms);
    return out + readAvailable();
}

} // namespace varnok::test
