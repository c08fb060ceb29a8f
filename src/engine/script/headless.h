#pragma once
// A script run from the command line, without a window or a display: its output on standard
// output, its error as one line on standard error, its status as the process's.
#include <QString>
#include <QStringList>

namespace varnok::engine {

struct HeadlessRun {
    QString file;     // the script
    QStringList args; // Lua's arg[1..]
    bool allowExec = false;
    bool tap = false; // each check as a test-harness line, the plan at the end
};

// Makes the application object and the session, runs the script to its end and returns its
// status (ScriptResult::status; 2 when it cannot start). SIGINT and SIGTERM stop it.
int runHeadless(int& argc, char** argv, const HeadlessRun& run);

} // namespace varnok::engine
