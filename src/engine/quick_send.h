#pragma once
// Quick Send without its window: stored sends on demand or on their own timers, sequences,
// answers to patterns that arrive, a paced file, BREAK and RTS. Everything goes out through
// the engine (counted, seen by the monitor, bounded by its output queue); failures are told
// through `failed`, once each, for the window to show.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/quick_send_book.h"
#include "engine/terminal_engine.h"
#include "logic/quicksend/matcher.h"
#include "logic/quicksend/pacing.h"

class QSocketNotifier;

namespace varnok::engine {

class QuickSender : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBreakMs = 250;         // the break length offered first
    static constexpr qint64 kFileBlock = 4096;   // bytes per write at full speed
    static constexpr qint64 kFileQueued = 65536; // a file waits while this much has not left
    static constexpr int kProgressMs = 100;

    explicit QuickSender(TerminalEngine* engine, QObject* parent = nullptr);
    ~QuickSender() override;

    // A new book stops repeats, the sequence and pending answers and restarts the counts.
    // Every book is taken as it is: an entry that does not parse, a step or rule that names
    // no entry and a pattern that does not compile are not in use until mended, and each
    // use of them sends nothing and is told once.
    void setBook(const QuickSendBook& book);
    const QuickSendBook& book() const { return book_; }

    // ---- entries ----
    Outcome sendEntry(int index); // failed with the text to show
    // What runs a script entry's file: failed with why it does not run (one runs already,
    // the file cannot be read or does not compile). Set by whoever owns the script runner.
    using ScriptStarter = std::function<Outcome(const QString& path)>;
    void setScriptStarter(ScriptStarter start) { startScript_ = std::move(start); }
    // A repeating entry sends at once and then every periodMs until stopped or a send fails;
    // a script entry runs once.
    void setRepeating(int index, bool on);
    bool repeating(int index) const { return repeats_.count(index) > 0; }
    // The entry bound to F1-F12 (1-12), or -1.
    int entryForKey(int key) const;

    // ---- sequences ----
    // Starts once the line is free (a poll's transaction ends first). A step that runs a
    // script gives the line to it and goes on once scriptEnded() is told.
    void runSequence(int index);
    void scriptEnded();
    void stopSequence();
    int runningSequence() const { return sequence_; }

    // ---- auto-answer ----
    // A rule fires at most book().answersPerSecond times in any second; one more and it
    // switches itself off (ruleSwitchedOff, and one `failed` naming it).
    void setRuleEnabled(int index, bool on);
    void setRulesEnabled(bool on); // the switch over all rules
    bool rulesEnabled() const { return rulesOn_; }
    int firedCount(int index) const;

    // ---- a file ----
    // Sends `bytes` in units of `pace` with `delayMs` after each (0 or FullSpeed: as fast as
    // the output takes them). A held output holds the file; nothing is lost or counted twice.
    void startFile(const QByteArray& bytes, quicksend::Pace pace, int delayMs);
    // The same for the file at `path`, read as it is or as hex lists; a file that cannot be
    // read or is no hex list is told through `failed` and nothing is sent.
    void sendFile(const QString& path, bool hexList, quicksend::Pace pace, int delayMs);
    void stopFile();
    bool sendingFile() const { return file_.has_value(); }

    // ---- the line ----
    void sendBreak(int ms); // holds the line in break for `ms`
    bool inBreak() const { return breakTimer_.isActive(); }
    Outcome setRts(bool on); // failed with the text to show

  signals:
    void failed(const QString& text);
    void repeatingChanged(int entry, bool on);
    void sequenceStep(int sequence, int step); // step -1: the sequence ended
    void ruleFired(int rule, int count);
    void ruleSwitchedOff(int rule); // it fired past the limit
    void rulesEnabledChanged(bool on);
    void fileProgress(qint64 sent, qint64 total, double bytesPerSecond, qint64 msLeft);
    void fileFinished(bool complete);
    void breakChanged(bool on);

  private:
    struct FileRun {
        QByteArray bytes;
        quicksend::Pace pace;
        quicksend::PaceSchedule schedule;
        qint64 pos = 0;
        std::uint64_t unit = 0;
        bool held = false;
        QElapsedTimer clock;
        qint64 lastProgressMs = -kProgressMs;
    };
    // Failed with why not, naming the entry (`name` when there is no such entry). An answer
    // refuses a script entry.
    Outcome trySend(int index, std::u16string_view name = {}, bool answering = false);
    void repeatTick(int index);
    void onReceived(const QByteArray& bytes);
    void answer(int rule, int generation);
    void sequenceNext();
    void sequenceResume(); // the line back after a script step
    void takeLine(LineLease& lease, std::uint64_t& ask, void (QuickSender::*then)());
    void pumpFile();
    void wakeAt(std::int64_t dueUs); // pumpFile then (0: not at all)
    bool writeUnit(qint64 length);
    void progress(bool force);
    void finishFile(bool complete);
    void stopAll();

    QPointer<TerminalEngine> engine_;
    QuickSendBook book_;
    ScriptStarter startScript_;
    std::map<int, std::unique_ptr<QTimer>> repeats_;
    int generation_ = 0; // answers scheduled under an older book are dropped

    int sequence_ = -1, step_ = 0, run_ = 0;
    int afterScriptMs_ = -1; // the delay of a script step whose end the sequence waits for
    QTimer sequenceTimer_;
    // A sequence and a file each hold the line from start to end (polling and a sweep wait).
    LineLease sequenceLease_, fileLease_;
    std::uint64_t sequenceAsk_ = 0, fileAsk_ = 0;

    quicksend::Matcher matcher_;
    std::vector<std::size_t> ruleOf_; // the rule of each pattern the matcher holds
    std::vector<int> fired_;
    std::vector<quicksend::RateLimit> limits_;
    QElapsedTimer clock_;
    bool rulesOn_ = true;

    std::optional<FileRun> file_;
    QTimer fileTimer_; // wakes a paced file where there is no timer descriptor
    int tickFd_ = -1;  // a timer descriptor set to the next unit's due time
    QSocketNotifier* tick_ = nullptr;
    QTimer breakTimer_;
};

} // namespace varnok::engine
