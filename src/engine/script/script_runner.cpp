#include "engine/script/script_runner.h"

#include "engine/quick_send.h"
#include "engine/terminal_engine.h"

namespace varnok::engine {

ScriptRunner::ScriptRunner(TerminalEngine& terminal, QuickSender& quickSend, QObject* parent)
    : QObject(parent), terminal_(terminal), quickSend_(quickSend) {}

ScriptRunner::~ScriptRunner() = default;

Outcome ScriptRunner::run(const QByteArray&, const QString&, const QStringList&) {
    return Outcome::failed(QStringLiteral("Scripts are not ready yet."));
}

Outcome ScriptRunner::runFile(const QString&, const QStringList&) {
    return Outcome::failed(QStringLiteral("Scripts are not ready yet."));
}

void ScriptRunner::stop() {}

int ScriptRunner::lineOfError(const QString&, const QString&) { return 0; }

} // namespace varnok::engine
