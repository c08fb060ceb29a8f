#pragma once
// Helpers of the window tests: answering message boxes, process CPU time.
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "support/files.h"

namespace varnok::test {

// A sanitized build runs several times slower: a time limit that guards against a freeze is
// this many times longer there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kTimeScale = 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kTimeScale = 10;
#else
constexpr int kTimeScale = 1;
#endif
#else
constexpr int kTimeScale = 1;
#endif

// Answers every modal message box that opens while it lives, as a user pressing OK would,
// and records what each one said.
class MessageCatcher : public QObject {
    Q_OBJECT
  public:
    MessageCatcher();
    QStringList texts;
    QStringList titles;
    QList<int> buttonCounts; // buttons each box offered
    QStringList answers;     // pressed in turn in boxes without OK (else they are cancelled)
    bool okOnly() const;

  private:
    void look();
    QTimer timer_;
};

// CPU seconds this process has used.
double processCpuSeconds();

// Serves window events for `ms` milliseconds.
void serveEvents(int ms);

// Serves window events until `done` holds or `timeoutMs` pass; it sleeps between events
// (processEvents with a time limit never waits: it would spin).
void serveUntil(const std::function<bool()>& done, int timeoutMs);

// Whether `text` is `pattern`, where each * in the pattern stands for any run of characters.
bool wildcardMatch(const QString& pattern, const QString& text);

// CPU seconds the process uses while it serves events for `ms` milliseconds.
double cpuOver(int ms);

} // namespace varnok::test
