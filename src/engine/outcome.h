#pragma once
// How an engine command answers its caller. A command returns an Outcome: done, or failed
// with the one text the user is shown (the caller shows it). The engine's `message` signal is
// only for what happens on its own later (a device that vanished, a tick that failed), never
// the answer to a call. Exceptions do not leave the engine.
#include <QString>
#include <utility>

namespace varnok::engine {

class [[nodiscard]] Outcome {
  public:
    Outcome() = default; // done
    // Failed; an empty text means the user has nothing to read (told otherwise or not at all).
    static Outcome failed(QString text) {
        Outcome o;
        o.failed_ = true;
        o.text_ = std::move(text);
        return o;
    }
    bool ok() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    const QString& failure() const { return text_; }

  private:
    bool failed_ = false;
    QString text_;
};

} // namespace varnok::engine
