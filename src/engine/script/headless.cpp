#include "engine/script/headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

#include "engine/session.h"
#include "logic/script/tap_text.h"

namespace varnok::engine {

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

// SIGINT and SIGTERM stop the script as Stop does; the handler only writes a byte and the
// event loop does the rest, so the port is closed and the status told.
void stopOnSignals(ScriptRunner& runner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &runner);
    QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner, notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(stopPipe[0], &byte, 1);
        if (runner.running())
            runner.stop();
        else
            notifier->setEnabled(false);
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT})
        ::sigaction(sig, &action, nullptr);
}

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
    stopOnSignals(runner);
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
