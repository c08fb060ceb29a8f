#pragma once
// A Lua script driving the line: bytes, modem lines, Modbus, time and output. The script
// runs as a coroutine on the program's own event loop: a call that waits (expect, read,
// sleep, a Modbus transaction, a full output queue) suspends it and the loop goes on, and a
// script that computes for long is suspended every few milliseconds so the window stays
// responsive and Stop is heard. The script holds the line through a lease while the port is
// open (other users of the line wait); the terminal keeps receiving and showing what arrives,
// and the script sees the same bytes.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/line_lease.h"
#include "engine/modbus_transaction.h"
#include "engine/outcome.h"
#include "logic/modbus/poll_request.h"

struct lua_State;

namespace varnok::engine {

class TerminalEngine;
class QuickSender;

// How a script ended.
struct ScriptResult {
    // 0: it ended normally with no failed check; 1: a check failed or exit(1) (or exit's code);
    // 2: a script error or Stop; 3: the port could not be opened.
    int status = 0;
    bool stopped = false; // Stop, closing the port under it does not count
    QString error;        // "file:line: message" for status 2 and 3, else ""
    int errorLine = 0;    // the line of the script the error names; 0 when none
    int checks = 0;       // check() calls
    int failedChecks = 0;
};

class ScriptRunner : public QObject {
    Q_OBJECT
  public:
    static constexpr int kStatusOk = 0, kStatusFailed = 1, kStatusError = 2, kStatusNoPort = 3;
    static constexpr int kSliceMs = 10;            // a computing script yields this often
    static constexpr int kDefaultTimeoutMs = 1000; // expect, read, readline without a timeout
    static constexpr qint64 kOutputQueued = 65536; // send waits while this much has not left

    ScriptRunner(TerminalEngine& terminal, QuickSender& quickSend, QObject* parent = nullptr);
    ~ScriptRunner() override;

    // Runs `source` as the script called `name` (its path, shown in errors) with `args` as
    // Lua's `arg`. Failed at once, with nothing run or sent, when a script runs already or
    // the text does not compile ("name:line: message"; lineOfError reads the line back).
    // Otherwise `started` is told before it returns, the first line runs on the next turn of
    // the event loop, and `finished` tells the end.
    Outcome run(const QByteArray& source, const QString& name, const QStringList& args = {});
    // The same for the file at `path`; a file that cannot be read fails naming it.
    Outcome runFile(const QString& path, const QStringList& args = {});
    // Ends the running script at once (finished with status 2, stopped); nothing without one.
    void stop();
    bool running() const { return state_ != nullptr; }
    QString scriptName() const { return name_; }
    int currentLine() const { return line_; }

    // os.execute and io.popen exist only when allowed (a script from someone else must not
    // run programs unasked); read at each run.
    void setAllowExec(bool allow) { allowExec_ = allow; }
    bool allowExec() const { return allowExec_; }

    // The line number in an error text of the script `name` ("name:12: ..."), or 0.
    static int lineOfError(const QString& error, const QString& name);

  signals:
    void started(const QString& name);
    void output(const QString& text);                           // print's line, with "\n"
    void lineChanged(int line);                                 // the running line, as it waits
    void checked(bool passed, const QString& text, int number); // each check(), numbered from 1
    void marked(const QString& text); // mark(): a marker row in the Monitor
    void finished(const varnok::engine::ScriptResult& result);

  private:
    friend struct ScriptApi;
    enum class Wait { None, Start, Slice, Sleep, Input, Output, Line, Open, Modbus, Exit };
    double nowMs() const; // since the script started
    void resume();
    void wakeSoon(); // resumes on the next turn of the event loop
    void tellLine();
    int exitStatus() const;
    void finishStopped(const QString& why = QStringLiteral("stopped"));
    void end(ScriptResult result);
    void teardown();
    void endBreak();
    void askLine();
    void onArrived(const QByteArray& bytes);
    void onPortOpen(bool open);

    TerminalEngine& terminal_;
    QuickSender& quickSend_;
    lua_State* state_ = nullptr;  // the whole interpreter; null while no script runs
    lua_State* thread_ = nullptr; // the script's coroutine
    QString name_;
    QByteArray chunkName_; // "@name", as Lua names the chunk
    bool allowExec_ = false;
    int line_ = 0;
    int sliceLine_ = 0; // the line a computing script was suspended at
    Wait wait_ = Wait::None;
    bool wakePosted_ = false;
    bool resuming_ = false;
    bool stopWanted_ = false;
    bool innerWait_ = false; // a coroutine of the script's own waits: its resumers wait too
    bool closing_ = false;   // the script itself closes the port
    QTimer timer_;           // sleep, the timeout of a wait, the next slice
    QElapsedTimer clock_;    // now(), deadlines and the slice of a computing script
    double sliceStartMs_ = 0;
    double deadlineMs_ = 0; // of the wait under way
    int exitCode_ = -1;     // exit(code) asked for
    ScriptResult result_;
    QString openFailure_; // the text of the last open() that failed
    QString lastMessage_; // what the terminal told while a port opened
    bool watchMessages_ = false;

    QByteArray input_; // what arrived and the script has not taken
    LineLease lease_;
    std::uint64_t ask_ = 0;
    bool asking_ = false;
    SendHold hold_; // the terminal's own sends wait while a transaction is on the line
    bool breakOn_ = false;
    QByteArray pendingOut_; // what send() still has to queue
    qsizetype sentCount_ = 0;
    bool sendStarted_ = false;
    QMetaObject::Connection outputLeft_;
    ModbusTransaction tx_;
    modbus::PollRequest pollRequest_;
    QByteArray frame_; // built for it before any wait
    int modbusTimeoutMs_ = 1000;
    bool modbusStarted_ = false, modbusLost_ = false;
};

} // namespace varnok::engine
