#pragma once
// The file a capture goes to: buffered here and written by a thread of its own, so that the
// receive side goes on reading while the disk takes a block. A block goes out when it is full,
// every second and on stop. The first failure closes the file and is told once, with the
// system's reason; everything written before it stays in the file.
#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace varnok {

class CaptureFile : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFlushMs = 1000;
    static constexpr qsizetype kBufferBytes = 1 << 16;
    // Blocks waiting for the disk at most; past them a write waits, as a direct write would.
    static constexpr std::size_t kQueueBlocks = 64;

    explicit CaptureFile(QObject* parent = nullptr);
    // Flushes and closes: the program is ending, nobody is left to tell.
    ~CaptureFile() override;

    // Opens `path`, emptied first when `replace`, else appended to. The reason on failure.
    QString start(const QString& path, bool replace);
    void write(const char* data, qint64 size);
    // Flushes and closes; false when the last flush failed, which failed() has told.
    bool stop();
    bool active() const { return open_; }

  signals:
    // The capture has ended on its own; the text says why.
    void failed(const QString& text);

  private:
    void flush();
    void hand();     // the buffer to the writer
    bool finish();   // the writer empties its queue and ends; false when a write failed
    void writeOut(); // the writer thread
    void fail(const QString& reason);

    QFile file_; // the writer's alone while it runs: this thread asks open_ and path_
    QString path_;
    bool open_ = false;
    QByteArray buffer_;
    QTimer flushTimer_;
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable work_; // a block queued, or the end
    std::condition_variable room_; // a block taken, or the writer failed
    std::deque<QByteArray> queue_;
    std::vector<QByteArray> spare_; // written blocks, their memory used again
    bool ending_ = false;
    QString error_;                // the first failed write's reason
    std::uint64_t generation_ = 0; // which capture a failure the writer posts belongs to
};

} // namespace varnok
