#pragma once
// Signals that end the program (SIGTERM, SIGINT, ...) turned into a call on the event loop:
// the handler only writes a byte to a socket pair, and `then` runs at the next turn, where
// it may close windows, flush captures and stop scripts.
#include <QObject>
#include <functional>
#include <initializer_list>

namespace varnok::engine {

// Once for the program; `then` runs as long as `context` lives, at each signal.
void onQuitSignals(QObject* context, std::initializer_list<int> which, std::function<void()> then);

} // namespace varnok::engine
