#include "engine/monitor/capture_file.h"

#include <QFileInfo>

namespace varnok {

CaptureFile::CaptureFile(QObject* parent) : QObject(parent) {
    flushTimer_.setInterval(kFlushMs);
    connect(&flushTimer_, &QTimer::timeout, this, &CaptureFile::flush);
}

CaptureFile::~CaptureFile() {
    blockSignals(true);
    if (file_.isOpen() && drain())
        file_.close();
}

QString CaptureFile::start(const QString& path, bool replace) {
    if (file_.isOpen())
        stop();
    file_.setFileName(path);
    // Unbuffered, with the buffer kept here: QFile's own buffer loses the system's reason for
    // a short write (a full disk reads "Unknown error").
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                     (replace ? QIODevice::Truncate : QIODevice::Append);
    if (!file_.open(mode))
        return QStringLiteral("Cannot capture to %1: %2").arg(path, file_.errorString());
    buffer_.clear();
    buffer_.reserve(kBufferBytes);
    flushTimer_.start();
    return {};
}

void CaptureFile::write(const char* data, qint64 size) {
    if (!file_.isOpen() || size <= 0)
        return;
    buffer_.append(data, size);
    if (buffer_.size() >= kBufferBytes)
        drain();
}

bool CaptureFile::stop() {
    if (!file_.isOpen())
        return true;
    flushTimer_.stop();
    if (!drain())
        return false;
    file_.close();
    return true;
}

void CaptureFile::flush() {
    if (!drain())
        return;
    // Writes into a removed file succeed and reach nobody: better to say so now.
    if (!QFileInfo::exists(file_.fileName()))
        fail(QStringLiteral("the file was removed or renamed"));
}

bool CaptureFile::drain() {
    // A full disk takes part of a write without a reason; the next write gives it.
    qsizetype done = 0;
    while (done < buffer_.size()) {
        const qint64 n = file_.write(buffer_.constData() + done, buffer_.size() - done);
        if (n <= 0) {
            fail(file_.errorString());
            return false;
        }
        done += n;
    }
    buffer_.clear();
    return true;
}

void CaptureFile::fail(const QString& reason) {
    flushTimer_.stop();
    buffer_.clear();
    const QString path = file_.fileName();
    file_.close();
    emit failed(QStringLiteral("Capture stopped: cannot write %1: %2").arg(path, reason));
}

} // namespace varnok
