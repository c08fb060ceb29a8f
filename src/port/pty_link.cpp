#include "port/pty_link.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace varnok::serial {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PtyLink::PtyLink(QObject* parent) : QObject(parent) {}

PtyLink::~PtyLink() {
    close();
}

QString PtyLink::defaultLinkPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString dir = runtime.isEmpty()
                            ? QStringLiteral("/tmp/varnok-binary-%1").arg(::getuid())
                            : QString::fromLocal8Bit(runtime) + QStringLiteral("/varnok-binary");
    return dir + QStringLiteral("/bridge");
}

QString PtyLink::create(const QString& linkPath) {
    close();
    const auto fail = [this](const QString& what) {
        const QString text = what + QStringLiteral(": ") + systemError();
        close();
        return text;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        return fail(QStringLiteral("No pseudo-terminal could be created"));
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail(QStringLiteral("The pseudo-terminal could not be unlocked"));
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0)
        return fail(QStringLiteral("The pseudo-terminal has no name"));
    device_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0)
        return fail(QStringLiteral("%1 could not be opened").arg(device_));
    // Raw both ways: no echo, no line editing, no CR/LF changes, every byte as it is.
    termios t{};
    if (::tcgetattr(slave_, &t) != 0)
        return fail(QStringLiteral("%1 has no terminal settings").arg(device_));
    ::cfmakeraw(&t);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0)
        return fail(QStringLiteral("%1 refused raw mode").arg(device_));

    const QFileInfo link(linkPath);
    if (!QDir().mkpath(link.absolutePath()))
        return fail(QStringLiteral("The folder %1 could not be made").arg(link.absolutePath()));
    QFile::setPermissions(link.absolutePath(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray where = QFile::encodeName(linkPath);
    ::unlink(where.constData()); // the link of an earlier start (or an earlier run)
    if (::symlink(name, where.constData()) != 0)
        return fail(QStringLiteral("The link %1 could not be made").arg(linkPath));
    linkPath_ = linkPath;

    reader_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(reader_, &QSocketNotifier::activated, this, &PtyLink::dataArrived);
    writer_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writer_->setEnabled(false);
    connect(writer_, &QSocketNotifier::activated, this, [this] {
        const qint64 before = queued_;
        flush();
        if (queued_ < before)
            emit outputLeft();
    });
    return {};
}

void PtyLink::close() {
    delete reader_;
    delete writer_;
    reader_ = writer_ = nullptr;
    if (!linkPath_.isEmpty() && QFileInfo(linkPath_).symLinkTarget() == device_)
        ::unlink(QFile::encodeName(linkPath_).constData());
    linkPath_.clear();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
    out_.clear();
    outFront_ = 0;
    queued_ = 0;
}

QByteArray PtyLink::read() {
    QByteArray bytes;
    if (master_ < 0)
        return bytes;
    // Read into one buffer kept for it: most wake-ups bring a few bytes, or none.
    constexpr std::size_t kChunk = sizeof scratch_;
    for (;;) {
        const ssize_t n = ::read(master_, scratch_, kChunk);
        if (n <= 0)
            break; // nothing more now (EAGAIN; EIO while nobody has the terminal end open)
        bytes.append(scratch_, n);
        if (std::size_t(n) < kChunk || bytes.size() >= qsizetype(4 * kChunk))
            break;
    }
    return bytes;
}

void PtyLink::setReading(bool on) {
    if (reader_)
        reader_->setEnabled(on);
}

void PtyLink::write(const QByteArray& bytes) {
    if (master_ < 0 || bytes.isEmpty())
        return;
    out_.push_back(bytes);
    queued_ += bytes.size();
    if (out_.size() == 1)
        flush();
}

// Never tells outputLeft itself: a writer that hears it may write again from there.
void PtyLink::flush() {
    while (!out_.empty()) {
        const QByteArray& front = out_.front();
        const ssize_t n = ::write(master_, front.constData() + outFront_,
                                  static_cast<std::size_t>(front.size() - outFront_));
        if (n <= 0)
            break; // the terminal end's buffer is full: the write notifier says when it drains
        outFront_ += n;
        queued_ -= n;
        if (outFront_ == front.size()) {
            out_.pop_front();
            outFront_ = 0;
        }
    }
    if (writer_)
        writer_->setEnabled(!out_.empty());
}

} // namespace varnok::serial
