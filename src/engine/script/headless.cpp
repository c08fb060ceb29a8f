#include "engine/script/headless.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "engine/quit_signals.h"
#include "engine/session.h"
#include "logic/script/tap_text.h"

namespace varnok::engine {

namespace {

// One line on standard error, whatever line breaks the text has.
void tellError(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' ');
    std::fprintf(stderr, "varnok-binary: %s\n", text.trimmed().toUtf8().constData());
    std::fflush(stderr);
}

void write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

} // namespace

int runHeadless(int& argc, char** argv, const HeadlessRun& run) {
    QCoreApplication app(argc, argv);
    Session session;
    ScriptRunner& runner = session.script();
    runner.setAllowExec(run.allowExec);
    int status = ScriptRunner::kStatusError;
    QObject::connect(&runner, &ScriptRunner::output, &app,
                     [](const QString& text) { write(text.toStdString()); });
    if (run.tap) {
        QObject::connect(&runner, &ScriptRunner::checked, &app,
                         [](bool passed, const QString& text, int number) {
                             write(script::tapLine(passed, number, text.toStdString()));
                         });
    }
    QObject::connect(&runner, &ScriptRunner::finished, &app,
                     [&status, &run](const ScriptResult& result) {
                         if (run.tap)
                             write(script::tapPlan(result.checks));
                         if (!result.error.isEmpty())
                             tellError(result.error);
                         status = result.status;
                         QCoreApplication::exit(0);
                     });
    // SIGINT and SIGTERM stop the script as Stop does, so the port is closed and the status told.
    onQuitSignals(&runner, {SIGTERM, SIGINT}, [&runner] {
        if (runner.running())
            runner.stop();
    });
    const Outcome started = runner.runFile(run.file, run.args);
    if (!started) {
        tellError(started.failure());
        return ScriptRunner::kStatusError;
    }
    QCoreApplication::exec();
    session.shutdown();
    return status;
}

} // namespace varnok::engine
