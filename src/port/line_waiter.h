#pragma once
// Waits for a change of CTS, DSR or DCD in a thread of its own, so that an idle port costs no
// wake-ups: the driver wakes the thread (TIOCMIWAIT) and `changed` is told on the owner's
// thread. A driver that cannot wait says so once through `unsupported`.
#include <QObject>
#include <atomic>
#include <thread>

namespace varnok::serial {

class LineWaiter : public QObject {
    Q_OBJECT
  public:
    LineWaiter(int fd, QObject* parent = nullptr);
    // Returns once the thread has left the driver: the descriptor may be closed after it.
    ~LineWaiter() override;

  signals:
    void changed();
    void unsupported();

  private:
    void run(int fd);

    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace varnok::serial
