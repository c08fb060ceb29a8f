#include "windows/monitor/capture_file.h"

#include <QFileInfo>

namespace varnok {

CaptureFile::CaptureFile(QObject* parent) : QObject(parent) {
    flushTimer_.setInterval(kFlushMs);
    connect(&flushTimer_, &QTimer::timeout, this, &CaptureFile::flush);
}

CaptureFile::~CaptureFile() {
    // The window is going: keep what can be kept, nobody is left to tell.
    if (file_.isOpen())
        file_.close();
}

QString CaptureFile::start(const QString& path, bool replace) {
    if (file_.isOpen())
        stop();
    file_.setFileName(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (replace ? QIODevice::Truncate : QIODevice::Append);
    if (!file_.open(mode))
        return QStringLiteral("Cannot capture to %1: %2").arg(path, file_.errorString());
    flushTimer_.start();
    return {};
}

void CaptureFile::write(const char* data, qint64 size) {
    if (!file_.isOpen() || size <= 0)
        return;
    if (file_.write(data, size) != size)
        fail(file_.errorString());
}

void CaptureFile::stop() {
    if (!file_.isOpen())
        return;
    flushTimer_.stop();
    if (!file_.flush()) {
        fail(file_.errorString());
        return;
    }
    file_.close();
}

void CaptureFile::flush() {
    if (!file_.isOpen())
        return;
    if (!file_.flush()) {
        fail(file_.errorString());
        return;
    }
    // Writes into a removed file succeed and reach nobody: better to say so now.
    if (!QFileInfo::exists(file_.fileName()))
        fail(QStringLiteral("the file was removed or renamed"));
}

void CaptureFile::fail(const QString& reason) {
    flushTimer_.stop();
    const QString path = file_.fileName();
    file_.close();
    emit failed(QStringLiteral("Capture stopped: cannot write %1: %2").arg(path, reason));
}

} // namespace varnok
