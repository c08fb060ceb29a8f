#pragma once
// The file a capture goes to: buffered, flushed every second and on stop. The first failure
// closes it and is told once; whoever called keeps running as if nothing was captured.
#include <QFile>
#include <QObject>
#include <QTimer>

namespace varnok {

class CaptureFile : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFlushMs = 1000;

    explicit CaptureFile(QObject* parent = nullptr);
    ~CaptureFile() override;

    // Opens `path`, emptied first when `replace`, else appended to. The reason on failure.
    QString start(const QString& path, bool replace);
    void write(const char* data, qint64 size);
    // Flushes and closes; a failure of the last flush is told through failed().
    void stop();
    bool active() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }

  signals:
    // The capture has ended on its own; the text says why.
    void failed(const QString& text);

  private:
    void flush();
    void fail(const QString& reason);

    QFile file_;
    QTimer flushTimer_;
};

} // namespace varnok
