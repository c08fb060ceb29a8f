#include "engine/quick_send.h"

#include <QFile>
#include <QSocketNotifier>
#include <algorithm>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

#include "engine/byte_view.h"

namespace varnok::engine {

using quicksend::Pace;

QuickSender::QuickSender(TerminalEngine* engine, QObject* parent)
    : QObject(parent), engine_(engine) {
    clock_.start();
    sequenceTimer_.setSingleShot(true);
    sequenceTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sequenceTimer_, &QTimer::timeout, this, &QuickSender::sequenceNext);
    // A paced file wakes at each unit's due time. The event loop rounds its timers up to whole
    // milliseconds (1 ms paces came out 1.12 ms apart); a timer descriptor set to the absolute
    // time wakes it to the microsecond, without any busy waiting.
    fileTimer_.setSingleShot(true);
    fileTimer_.setTimerType(Qt::PreciseTimer);
    connect(&fileTimer_, &QTimer::timeout, this, &QuickSender::pumpFile);
#ifdef __linux__
    tickFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (tickFd_ >= 0) {
        tick_ = new QSocketNotifier(tickFd_, QSocketNotifier::Read, this);
        connect(tick_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(tickFd_, &expirations, sizeof expirations) > 0)
                pumpFile();
        });
    }
#endif
    breakTimer_.setSingleShot(true);
    breakTimer_.setTimerType(Qt::PreciseTimer);
    connect(&breakTimer_, &QTimer::timeout, this, [this] {
        try {
            engine_->port().setBreak(false);
        } catch (const Failure&) {
            // The port closed meanwhile: there is no break left to end.
        }
        emit breakChanged(false);
    });
    // Every byte as it arrives, in manual receive too, where it still waits for the read.
    connect(engine, &TerminalEngine::arrived, this, &QuickSender::onReceived);
    // Everything timed stops with the port, quietly: the closing (or the lost device) is told
    // once where it happens, and a tick meeting the closed port would tell it again. The file's
    // progress shows where it stopped.
    connect(engine, &TerminalEngine::portOpenChanged, this, [this](bool open) {
        if (open)
            return;
        matcher_.reset();
        stopAll();
        if (file_)
            finishFile(false);
    });
    engine->port().onOutputLeft(this, [this] {
        if (file_ && file_->held)
            pumpFile();
    });
}

QuickSender::~QuickSender() {
#ifdef __linux__
    if (tickFd_ >= 0)
        ::close(tickFd_);
#endif
}

void QuickSender::wakeAt(std::int64_t dueUs) {
#ifdef __linux__
    if (tickFd_ >= 0) {
        itimerspec at{};
        if (dueUs > 0) { // the steady clock is CLOCK_MONOTONIC here
            at.it_value.tv_sec = static_cast<time_t>(dueUs / 1'000'000);
            at.it_value.tv_nsec = static_cast<long>(dueUs % 1'000'000) * 1000;
        }
        ::timerfd_settime(tickFd_, TFD_TIMER_ABSTIME, &at, nullptr);
        return;
    }
#endif
    if (dueUs <= 0)
        fileTimer_.stop();
    else
        fileTimer_.start(
            static_cast<int>(std::max<std::int64_t>(0, (dueUs - nowUs() + 999) / 1000)));
}

void QuickSender::setBook(const QuickSendBook& book) {
    stopAll();
    book_ = book;
    // The matcher holds the patterns that compile; a rule under repair never fires.
    std::vector<quicksend::Pattern> patterns;
    ruleOf_.clear();
    quicksend::Matcher one;
    for (std::size_t i = 0; i < book_.rules.size(); ++i)
        if (one.setPatterns({book_.rules[i].pattern}).empty()) {
            patterns.push_back(book_.rules[i].pattern);
            ruleOf_.push_back(i);
        }
    matcher_.setPatterns(patterns);
    fired_.assign(book_.rules.size(), 0);
    limits_.assign(book_.rules.size(), quicksend::RateLimit(book_.answersPerSecond));
}

void QuickSender::stopAll() {
    ++generation_;
    while (!repeats_.empty())
        setRepeating(repeats_.begin()->first, false);
    stopSequence();
}

int QuickSender::entryForKey(int key) const {
    for (std::size_t i = 0; i < book_.entries.size(); ++i)
        if (book_.entries[i].key == key)
            return static_cast<int>(i);
    return -1;
}

Outcome QuickSender::trySend(int index, std::u16string_view name, bool answering) {
    if (Outcome refused = engine_->checkListenOnly(); !refused)
        return refused;
    if (index < 0 || index >= static_cast<int>(book_.entries.size()))
        return Outcome::failed(QStringLiteral("there is no entry \"%1\"")
                                   .arg(QString::fromStdU16String(std::u16string(name))));
    const quicksend::Entry& e = book_.entries[static_cast<std::size_t>(index)];
    const QString entry = QString::fromStdU16String(e.name);
    if (e.form == quicksend::DataForm::Script) {
        if (answering)
            return Outcome::failed(scriptAnswerRefused(e.name));
        if (e.data.empty())
            return Outcome::failed(
                QStringLiteral("\"%1\" is not in use until mended: it names no script file")
                    .arg(entry));
        const Outcome ran = startScript_
                                ? startScript_(QString::fromStdU16String(e.data))
                                : Outcome::failed(QStringLiteral("scripts do not run here"));
        if (!ran)
            return Outcome::failed(
                QStringLiteral("\"%1\" did not run: %2").arg(entry, ran.failure()));
        return {};
    }
    const quicksend::EntryBytes b = quicksend::entryBytes(e);
    // What does not parse sends nothing at all: never a part, never an older form.
    if (!b.ok() || b.bytes.empty())
        return Outcome::failed(QStringLiteral("\"%1\" is not in use until mended: %2")
                                   .arg(entry, b.ok() ? QStringLiteral("it sends no bytes")
                                                      : QString::fromStdString(b.error)));
    if (const Outcome sent = engine_->sendBytes(toByteArray(b.bytes)); !sent)
        return Outcome::failed(
            QStringLiteral("\"%1\" was not sent: %2").arg(entry, sent.failure()));
    return {};
}

Outcome QuickSender::sendEntry(int index) {
    if (index < 0 || index >= static_cast<int>(book_.entries.size()))
        return Outcome::failed({});
    return trySend(index);
}

void QuickSender::setRepeating(int index, bool on) {
    if (on == repeating(index) || index < 0 || index >= static_cast<int>(book_.entries.size()))
        return;
    if (!on) {
        repeats_.erase(index);
        emit repeatingChanged(index, false);
        return;
    }
    const quicksend::Entry& entry = book_.entries[static_cast<std::size_t>(index)];
    const int period = entry.periodMs;
    if (!quicksend::repeats(entry)) {
        if (const Outcome sent = sendEntry(index); !sent)
            emit failed(sent.failure());
        return;
    }
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(period);
    connect(timer.get(), &QTimer::timeout, this, [this, index] { repeatTick(index); });
    repeats_.emplace(index, std::move(timer));
    emit repeatingChanged(index, true);
    repeatTick(index);
    if (repeating(index))
        repeats_.at(index)->start();
}

void QuickSender::repeatTick(int index) {
    const Outcome sent = trySend(index);
    if (sent)
        return;
    // Stopped before the message, so that no tick runs while it is open.
    setRepeating(index, false);
    emit failed(QStringLiteral("Repeating stopped: ") + sent.failure());
}

// ---------------------------------------------------------------- sequences

void QuickSender::runSequence(int index) {
    stopSequence();
    if (index < 0 || index >= static_cast<int>(book_.sequences.size()) ||
        book_.sequences[static_cast<std::size_t>(index)].steps.empty())
        return;
    if (Outcome refused = engine_->checkListenOnly(); !refused) {
        emit failed(refused.failure());
        return;
    }
    sequence_ = index;
    step_ = 0;
    run_ = 0;
    takeLine(sequenceLease_, sequenceAsk_, &QuickSender::sequenceNext);
}

// A sequence or a file holds the line from its start to its end; the input stays the
// terminal's. `then` runs once the line is granted (at once when it is free).
void QuickSender::takeLine(LineLease& lease, std::uint64_t& ask, void (QuickSender::*then)()) {
    const auto ticket = engine_->askForLine(LineUse(QStringLiteral("Quick Send"), false), this,
                                            [this, &lease, &ask, then](LineLease granted) {
                                                ask = 0;
                                                lease = std::move(granted);
                                                (this->*then)();
                                            });
    ask = lease ? 0 : ticket;
}

void QuickSender::stopSequence() {
    sequenceTimer_.stop();
    afterScriptMs_ = -1;
    if (engine_)
        engine_->withdrawAsk(std::exchange(sequenceAsk_, 0));
    sequenceLease_.release();
    if (sequence_ < 0)
        return;
    const int s = sequence_;
    sequence_ = -1;
    emit sequenceStep(s, -1);
}

void QuickSender::sequenceNext() {
    if (sequence_ < 0 || !sequenceLease_)
        return;
    const Sequence& seq = book_.sequences[static_cast<std::size_t>(sequence_)];
    if (step_ >= static_cast<int>(seq.steps.size())) {
        step_ = 0;
        if (seq.runs > 0 && ++run_ >= seq.runs) {
            stopSequence();
            return;
        }
    }
    const SequenceStep& st = seq.steps[static_cast<std::size_t>(step_)];
    emit sequenceStep(sequence_, step_);
    const int s = sequence_;
    sequenceTimer_.stop();
    if (const Outcome sent = trySend(book_.entryIndex(st.entry), st.entry); !sent) {
        const QString name = QString::fromStdU16String(seq.name);
        stopSequence();
        emit failed(QStringLiteral("The sequence \"%1\" stopped: ").arg(name) + sent.failure());
        return;
    }
    if (sequence_ != s)
        return; // stopped while sending
    ++step_;
    const int entry = book_.entryIndex(st.entry);
    if (book_.entries[std::size_t(entry)].form == quicksend::DataForm::Script) {
        // The script takes the line; holding it, the sequence would keep it waiting.
        afterScriptMs_ = st.delayMs;
        sequenceLease_.release();
        return;
    }
    sequenceTimer_.start(st.delayMs);
}

void QuickSender::scriptEnded() {
    if (sequence_ < 0 || afterScriptMs_ < 0)
        return;
    takeLine(sequenceLease_, sequenceAsk_, &QuickSender::sequenceResume);
}

void QuickSender::sequenceResume() {
    if (sequence_ < 0 || !sequenceLease_)
        return;
    sequenceTimer_.start(std::exchange(afterScriptMs_, -1));
}

// ---------------------------------------------------------------- auto-answer

void QuickSender::setRuleEnabled(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(book_.rules.size()))
        return;
    book_.rules[static_cast<std::size_t>(index)].enabled = on;
    limits_[static_cast<std::size_t>(index)].reset(); // switched on again: a fresh second
}

void QuickSender::setRulesEnabled(bool on) {
    if (on == rulesOn_)
        return;
    rulesOn_ = on;
    if (!on)
        ++generation_; // answers already waiting are not sent
    emit rulesEnabledChanged(on);
}

int QuickSender::firedCount(int index) const {
    return index >= 0 && index < static_cast<int>(fired_.size())
               ? fired_[static_cast<std::size_t>(index)]
               : 0;
}

void QuickSender::onReceived(const QByteArray& bytes) {
    // The matcher sees the stream even while rules are off: switched on again, a pattern
    // already half arrived still matches.
    const std::vector<std::size_t> hits = matcher_.feed(byteSpan(bytes));
    if (!rulesOn_)
        return;
    for (std::size_t hit : hits) {
        const std::size_t rule = ruleOf_[hit];
        AnswerRule& r = book_.rules[rule];
        if (!r.enabled)
            continue;
        if (!limits_[rule].allow(clock_.elapsed())) {
            // Off before the message, so that what arrives while it is open finds it off.
            r.enabled = false;
            emit ruleSwitchedOff(static_cast<int>(rule));
            emit failed(QStringLiteral("The auto-answer rule %1 (\"%2\") fired more than %3 "
                                       "times in a second and is now off.")
                            .arg(rule + 1)
                            .arg(QString::fromStdU16String(r.pattern.text))
                            .arg(book_.answersPerSecond));
            continue;
        }
        emit ruleFired(static_cast<int>(rule), ++fired_[rule]);
        if (r.delayMs <= 0) {
            answer(static_cast<int>(rule), generation_);
        } else {
            const int g = generation_;
            QTimer::singleShot(r.delayMs, Qt::PreciseTimer, this,
                               [this, rule, g] { answer(static_cast<int>(rule), g); });
        }
        if (!rulesOn_)
            return; // an answer failed and switched the rules off
    }
}

void QuickSender::answer(int rule, int generation) {
    if (generation != generation_ || !rulesOn_)
        return;
    const AnswerRule& r = book_.rules[static_cast<std::size_t>(rule)];
    const int entry = book_.entryIndex(r.entry);
    // One failure switches all rules off: a flood of patterns would bring a flood of messages.
    if (const Outcome sent = trySend(entry, r.entry, true); !sent) {
        setRulesEnabled(false);
        emit failed(QStringLiteral("Auto-answer is off (rule %1): ").arg(rule + 1) +
                    sent.failure());
    }
}

// ---------------------------------------------------------------- a file

void QuickSender::startFile(const QByteArray& bytes, Pace pace, int delayMs) {
    stopFile();
    if (Outcome refused = engine_->checkListenOnly(); !refused) {
        emit failed(refused.failure());
        return;
    }
    if (!engine_->isOpen()) {
        emit failed(QStringLiteral("The file was not sent: the port is not open."));
        return;
    }
    if (delayMs <= 0)
        pace = Pace::FullSpeed;
    file_.emplace(FileRun{
        bytes, pace, {nowUs(), std::int64_t(delayMs) * 1000}, 0, 0, false, {}, -kProgressMs});
    file_->clock.start();
    progress(true);
    takeLine(fileLease_, fileAsk_, &QuickSender::pumpFile);
}

void QuickSender::sendFile(const QString& path, bool hexList, Pace pace, int delayMs) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        emit failed(QStringLiteral("The file %1 cannot be read: %2").arg(path, f.errorString()));
        return;
    }
    QByteArray bytes = f.readAll();
    if (hexList) {
        const quicksend::EntryBytes b = quicksend::hexLines(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        if (!b.ok()) {
            emit failed(QStringLiteral("The file %1 is not a hex list: %2")
                            .arg(path, QString::fromStdString(b.error)));
            return;
        }
        bytes = toByteArray(b.bytes);
    }
    startFile(bytes, pace, delayMs);
}

void QuickSender::stopFile() {
    if (file_)
        finishFile(false);
}

void QuickSender::finishFile(bool complete) {
    wakeAt(0);
    if (engine_)
        engine_->withdrawAsk(std::exchange(fileAsk_, 0));
    fileLease_.release();
    progress(true);
    file_.reset();
    emit fileFinished(complete);
}

bool QuickSender::writeUnit(qint64 length) {
    const QByteArray unit = file_->bytes.mid(file_->pos, length);
    if (const Outcome sent = engine_->sendBytes(unit); !sent) {
        const qint64 at = file_->pos, total = file_->bytes.size();
        finishFile(false);
        emit failed(QStringLiteral("The file stopped after %1 of %2 bytes: %3")
                        .arg(at)
                        .arg(total)
                        .arg(sent.failure()));
        return false;
    }
    file_->pos += length;
    ++file_->unit;
    return true;
}

void QuickSender::pumpFile() {
    if (!file_ || !fileLease_)
        return; // or not yet: it waits for the line
    serial::Link& port = engine_->port();
    const bool paced = file_->pace != Pace::FullSpeed;
    // A queue that has not drained holds the file: the far end is not reading (or flow
    // control holds the line). The port says when bytes leave, and the file goes on then.
    const qint64 limit = paced ? 1 : kFileQueued;
    const auto blocked = [&](qint64 n) {
        return port.queuedOutput() >= limit || !port.canQueue(n);
    };
    qint64 written = 0;
    while (file_->pos < file_->bytes.size()) {
        const qint64 n = static_cast<qint64>(quicksend::unitLength(
            byteSpan(file_->bytes), static_cast<std::size_t>(file_->pos), file_->pace, kFileBlock));
        if (blocked(n)) {
            file_->held = true;
            wakeAt(0);
            break;
        }
        const std::int64_t now = paced ? nowUs() : 0;
        if (file_->held && paced) {
            // Held time is not caught up in a burst: the schedule starts again from now.
            file_->schedule.restart(now, file_->unit);
        }
        file_->held = false;
        // Never before its time, not even by a timer's rounding: the gap is the promise.
        if (paced && file_->schedule.dueUs(file_->unit) > now) {
            wakeAt(file_->schedule.dueUs(file_->unit));
            break;
        }
        if (!writeUnit(n))
            return;
        // Timed once the unit is handed on: a pause inside the write does not shorten the gap.
        if (paced)
            file_->schedule.left(file_->unit - 1, nowUs());
        written += n;
        if (!paced && written >= kFileQueued) {
            // Back to the event loop between blocks, so that the rest of the program runs.
            QTimer::singleShot(0, this, &QuickSender::pumpFile);
            break;
        }
    }
    if (file_->pos >= file_->bytes.size()) {
        finishFile(true);
        return;
    }
    progress(false);
}

void QuickSender::progress(bool force) {
    if (!file_)
        return;
    const qint64 ms = file_->clock.elapsed();
    if (!force && ms - file_->lastProgressMs < kProgressMs)
        return;
    file_->lastProgressMs = ms;
    const qint64 sent = file_->pos, total = file_->bytes.size();
    const double rate = ms > 0 ? sent * 1000.0 / double(ms) : 0.0;
    const qint64 left = rate > 0 ? qint64(double(total - sent) * 1000.0 / rate) : -1;
    emit fileProgress(sent, total, rate, left);
}

// ---------------------------------------------------------------- the line

void QuickSender::sendBreak(int ms) {
    if (Outcome refused = engine_->checkListenOnly(); !refused) {
        emit failed(refused.failure());
        return;
    }
    try {
        engine_->port().setBreak(true);
    } catch (const Failure& f) {
        emit failed(QStringLiteral("No break was sent: ") +
                    QString::fromStdString(f.description()));
        return;
    }
    emit breakChanged(true);
    breakTimer_.start(std::max(1, ms));
}

Outcome QuickSender::setRts(bool on) {
    if (Outcome refused = engine_->checkListenOnly(); !refused)
        return refused;
    try {
        engine_->port().setRts(on);
        return {};
    } catch (const Failure& f) {
        return Outcome::failed(QStringLiteral("RTS was not set: ") +
                               QString::fromStdString(f.description()));
    }
}

} // namespace varnok::engine
