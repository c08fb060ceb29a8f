#pragma once
// The file a capture goes to: buffered here, written out every second, when the buffer is full
// and on stop. The first failure closes it and is told once, with the system's reason;
// everything written before it stays in the file.
#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

namespace varnok {

class CaptureFile : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFlushMs = 1000;
    static constexpr qsizetype kBufferBytes = 1 << 16;

    explicit CaptureFile(QObject* parent = nullptr);
    // Flushes and closes: the program is ending, nobody is left to tell.
    ~CaptureFile() override;

    // Opens `path`, emptied first when `replace`, else appended to. The reason on failure.
    QString start(const QString& path, bool replace);
    void write(const char* data, qint64 size);
    // Flushes and closes; false when the last flush failed, which failed() has told.
    bool stop();
    bool active() const { return file_.isOpen(); }

  signals:
    // The capture has ended on its own; the text says why.
    void failed(const QString& text);

  private:
    void flush();
    bool drain();
    void fail(const QString& reason);

    QFile file_;
    QByteArray buffer_;
    QTimer flushTimer_;
};

} // namespace varnok
