#include "engine/monitor/capture_file.h"

#include <QFileInfo>

namespace varnok {

CaptureFile::CaptureFile(QObject* parent) : QObject(parent) {
    flushTimer_.setInterval(kFlushMs);
    connect(&flushTimer_, &QTimer::timeout, this, &CaptureFile::flush);
}

CaptureFile::~CaptureFile() {
    blockSignals(true);
    if (open_) {
        finish();
        file_.close();
    }
}

QString CaptureFile::start(const QString& path, bool replace) {
    if (open_)
        stop();
    file_.setFileName(path);
    // Unbuffered, with the buffer kept here: QFile's own buffer loses the system's reason for
    // a short write (a full disk reads "Unknown error").
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                     (replace ? QIODevice::Truncate : QIODevice::Append);
    if (!file_.open(mode))
        return QStringLiteral("Cannot capture to %1: %2").arg(path, file_.errorString());
    path_ = path;
    open_ = true;
    buffer_.clear();
    buffer_.reserve(kBufferBytes);
    queue_.clear();
    ending_ = false;
    error_.clear();
    ++generation_;
    writer_ = std::thread([this] { writeOut(); });
    flushTimer_.start();
    return {};
}

void CaptureFile::write(const char* data, qint64 size) {
    if (!open_ || size <= 0)
        return;
    buffer_.append(data, size);
    if (buffer_.size() >= kBufferBytes)
        hand();
}

void CaptureFile::hand() {
    if (buffer_.isEmpty())
        return;
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kQueueBlocks || !error_.isEmpty(); });
    if (error_.isEmpty())
        queue_.push_back(std::move(buffer_));
    buffer_ = QByteArray();
    // A block the writer is done with: fresh memory would cost a page fault every 4 KiB.
    if (!spare_.empty()) {
        buffer_ = std::move(spare_.back());
        spare_.pop_back();
        buffer_.resize(0);
    }
    buffer_.reserve(kBufferBytes);
    work_.notify_one();
}

void CaptureFile::writeOut() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty())
            return; // ending, all written
        QByteArray block = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
        lock.unlock();
        // A full disk takes part of a write without a reason; the next write gives it.
        qsizetype done = 0;
        QString reason;
        while (done < block.size()) {
            const qint64 n = file_.write(block.constData() + done, block.size() - done);
            if (n <= 0) {
                reason = file_.errorString();
                break;
            }
            done += n;
        }
        lock.lock();
        constexpr std::size_t kSpares = 4;
        if (spare_.size() < kSpares)
            spare_.push_back(std::move(block));
        if (!reason.isEmpty()) {
            error_ = reason;
            queue_.clear();
            room_.notify_all();
            // Told from the window's thread; a capture stopped or started meanwhile ignores it.
            QMetaObject::invokeMethod(
                this,
                [this, generation = generation_] {
                    if (generation == generation_ && open_)
                        fail(error_);
                },
                Qt::QueuedConnection);
            return;
        }
    }
}

bool CaptureFile::finish() {
    hand();
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    work_.notify_one();
    if (writer_.joinable())
        writer_.join();
    std::lock_guard lock(mutex_);
    return error_.isEmpty();
}

bool CaptureFile::stop() {
    if (!open_)
        return true;
    flushTimer_.stop();
    if (!finish()) {
        fail(error_);
        return false;
    }
    file_.close();
    open_ = false;
    return true;
}

void CaptureFile::flush() {
    hand();
    // Writes into a removed file succeed and reach nobody: better to say so now.
    if (!QFileInfo::exists(path_))
        fail(QStringLiteral("the file was removed or renamed"));
}

void CaptureFile::fail(const QString& reason) {
    flushTimer_.stop();
    buffer_.clear();
    finish(); // the writer ends; what it had queued is dropped or written
    file_.close();
    open_ = false;
    emit failed(QStringLiteral("Capture stopped: cannot write %1: %2").arg(path_, reason));
}

} // namespace varnok
