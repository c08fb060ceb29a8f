#include "engine/modbus_master.h"

#include <QDateTime>
#include <QScopedValueRollback>
#include <algorithm>

#include "engine/byte_view.h"
#include "engine/terminal_engine.h"

namespace varnok::engine {

ModbusMaster::ModbusMaster(TerminalEngine& engine, QObject* parent)
    : QObject(parent), engine_(engine) {
    idle_.setSingleShot(true);
    idle_.setTimerType(Qt::PreciseTimer);
    connect(&tx_, &ModbusTransaction::ended, this, &ModbusMaster::finish);
    connect(&tx_, &ModbusTransaction::lost, this, &ModbusMaster::abort);
    connect(&idle_, &QTimer::timeout, this, &ModbusMaster::next);
    connect(&engine_, &TerminalEngine::portOpenChanged, this, &ModbusMaster::onPortOpen);
    // Switched on while polling: the running polls stop (one in flight ends first).
    connect(&engine_, &TerminalEngine::listenOnlyChanged, this, [this](bool on) {
        if (on && !inFlight_)
            refuseWhileListening();
    });
}

ModbusMaster::~ModbusMaster() {
    engine_.withdrawAsk(ask_);
}

Outcome ModbusMaster::setReads(const std::vector<PollRead>& reads) {
    std::vector<QByteArray> frames;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        if (!modbus::isReadFunction(reads[i].request.function))
            return Outcome::failed(QStringLiteral("Read %1: polling reads with functions 01-04 "
                                                  "only.")
                                       .arg(i + 1));
        try {
            frames.push_back(toByteArray(modbus::buildRequest(reads[i].request)));
        } catch (const modbus::RequestFailure& e) {
            return Outcome::failed(QStringLiteral("Read %1: ").arg(i + 1) +
                                   QString::fromStdString(e.description()));
        }
    }
    // A read in flight ends as it is, told to nobody: its index means another read now.
    reads_ = reads;
    frames_ = std::move(frames);
    dueUs_.assign(reads_.size(), 0);
    status_.assign(reads_.size(), {});
    lastRead_ = -1;
    if (inFlight_ && job_.read)
        job_.replaced = true;
    next();
    return {};
}

bool ModbusMaster::refuseWhileListening() {
    if (!engine_.listenOnly())
        return false;
    const bool had = wanted_ || !writes_.empty();
    writes_.clear();
    if (wanted_) {
        wanted_ = false;
        idle_.stop();
        emit pollingChanged(false);
    }
    if (!inFlight_)
        giveBack();
    if (had)
        emit refused(TerminalEngine::listenOnlyText());
    return true;
}

void ModbusMaster::start() {
    if (wanted_)
        return;
    if (engine_.listenOnly()) {
        emit refused(TerminalEngine::listenOnlyText());
        return;
    }
    wanted_ = true;
    emit pollingChanged(true);
    std::fill(dueUs_.begin(), dueUs_.end(), 0);
    next();
}

void ModbusMaster::stop() {
    if (!wanted_)
        return;
    wanted_ = false;
    idle_.stop();
    emit pollingChanged(false);
    if (!inFlight_ && writes_.empty())
        giveBack();
}

Outcome ModbusMaster::write(const modbus::PollRequest& request, int timeoutMs, int retries) {
    if (Outcome refused = engine_.checkListenOnly(); !refused)
        return refused;
    QByteArray frame;
    try {
        frame = toByteArray(modbus::buildRequest(request));
    } catch (const Failure& e) {
        return Outcome::failed(QString::fromStdString(e.description()));
    }
    if (!engine_.isOpen())
        return Outcome::failed(QString::fromStdString(
            serial::PortError(serial::kErrPortNotOpen, "Operation valid only when the port is open")
                .description()));
    writes_.push_back(
        Job{std::nullopt, false, request, frame, timeoutMs, std::clamp(retries, 0, kMaxRetries)});
    next();
    return {};
}

void ModbusMaster::resetStatus() {
    status_.assign(reads_.size(), {});
}

void ModbusMaster::askForLine() {
    if (lease_ || ask_)
        return;
    const auto ticket =
        engine_.askForLine(LineUse(QStringLiteral("Poll")), this,
                           [this](LineLease lease) { onGranted(std::move(lease)); });
    ask_ = lease_ ? 0 : ticket; // granted at once, or later
    if (!lease_ && !toldWaiting_) {
        toldWaiting_ = true;
        emit waitingForLine(engine_.lineHolder());
    }
}

void ModbusMaster::onGranted(LineLease lease) {
    ask_ = 0;
    lease_ = std::move(lease);
    // Read at once: a reply is awaited, and a queued call would cost the event loop another
    // turn per transaction. A signal from inside the master's own read is that read's bytes.
    lease_.onData([this] {
        if (!reading_)
            onData();
    });
    // Between two transactions the line goes to whoever asked; the master asks again.
    lease_.onWanted([this] {
        if (!inFlight_) {
            giveBack();
            next();
        }
    });
    if (toldWaiting_) {
        toldWaiting_ = false;
        emit waitingForLine(QString());
    }
    next();
}

void ModbusMaster::giveBack() {
    engine_.withdrawAsk(std::exchange(ask_, 0));
    lease_.release();
    if (toldWaiting_ && !wanted_ && writes_.empty()) {
        toldWaiting_ = false; // stopped while waiting: nothing waits any more
        emit waitingForLine(QString());
    }
}

// Starts the next transaction when the line is the master's: a queued write first, then the
// read whose turn it is and that is due; else waits for the earliest due read.
void ModbusMaster::next() {
    if (inFlight_ || !engine_.isOpen() || refuseWhileListening())
        return;
    const bool work = !writes_.empty() || (wanted_ && !reads_.empty());
    if (work && !lease_) {
        askForLine(); // next() again once granted
        return;
    }
    if (!writes_.empty()) {
        job_ = std::move(writes_.front());
        writes_.pop_front();
        send();
        return;
    }
    if (!wanted_ || reads_.empty()) {
        giveBack();
        return;
    }
    const std::int64_t now = nowUs();
    const int n = static_cast<int>(reads_.size());
    std::int64_t earliest = INT64_MAX;
    for (int k = 1; k <= n; ++k) {
        const int i = (lastRead_ + k) % n;
        if (dueUs_[std::size_t(i)] <= now) {
            const PollRead& r = reads_[std::size_t(i)];
            lastRead_ = i;
            dueUs_[std::size_t(i)] = now + std::int64_t(r.periodMs) * 1000;
            job_ = {i,           false,
                    r.request,   frames_[std::size_t(i)],
                    r.timeoutMs, std::clamp(r.retries, 0, kMaxRetries)};
            send();
            return;
        }
        earliest = std::min(earliest, dueUs_[std::size_t(i)]);
    }
    idle_.start(static_cast<int>(std::max<std::int64_t>((earliest - now + 999) / 1000, 1)));
}

void ModbusMaster::send() {
    inFlight_ = true;
    hold_ = lease_.holdSends();
    framing_ = framingOf(engine_.port().kind());
    QByteArray early = std::exchange(early_, {});
    try {
        // Late bytes of an earlier reply would be taken for this one's start.
        early += lease_.read();
    } catch (const Failure&) {
        abort();
        return;
    }
    tx_.start(lease_, job_.request, job_.frame, job_.timeoutMs, job_.retries,
              engine_.lineSettings(), framing_);
    // On Modbus TCP the transaction id tells them apart: they are dropped there and counted,
    // and an ADU begun before goes on where it stopped.
    if (framing_ == modbus::Framing::Mbap && !early.isEmpty())
        tx_.feed(early);
}

void ModbusMaster::onData() {
    const QScopedValueRollback reading(reading_, true);
    if (!lease_)
        return;
    QByteArray chunk;
    try {
        chunk = lease_.read();
    } catch (const Failure&) {
        abort();
        return;
    }
    if (inFlight_)
        tx_.feed(chunk);
    else if (framing_ == modbus::Framing::Mbap)
        early_ += chunk; // judged by its id when the next transaction starts
    // else nothing asked for: told to the monitor, and dropped
}

// Every try of the transaction counts, as the status shows tries, not transactions.
void ModbusMaster::count(const modbus::Transaction& t) {
    modbus::PollStatus& s = status_[std::size_t(*job_.read)];
    s.requests += t.attempts();
    s.retries += std::max(t.attempts() - 1, 0);
    s.timeouts += t.tally().timeouts;
    s.crcErrors += t.tally().crcErrors;
    s.otherErrors += t.tally().otherErrors;
    s.staleReplies += std::uint64_t(t.tally().staleReplies);
}

void ModbusMaster::finish() {
    inFlight_ = false;
    const modbus::Transaction& t = tx_.rules();
    const modbus::ReplyCheck& check = t.check();
    PollResult r;
    r.read = job_.read;
    r.request = job_.request;
    r.reply = check;
    r.ok = check.status == modbus::ReplyStatus::Ok;
    r.timedOut = t.timedOut();
    r.text = r.ok ? QStringLiteral("ok") : QString::fromStdString(check.text);
    r.attempts = t.attempts();
    r.wallMs = QDateTime::currentMSecsSinceEpoch();
    r.responseUs = t.responseUs();
    if (r.read && !job_.replaced) {
        count(t);
        modbus::PollStatus& s = status_[std::size_t(*r.read)];
        ++s.polls;
        if (r.responseUs >= 0)
            s.times.add(r.responseUs);
        if (r.ok) {
            ++s.valid;
            s.stale = false;
            s.lastGoodWallMs = r.wallMs;
        } else {
            if (check.status == modbus::ReplyStatus::Exception)
                ++s.exceptions[check.exceptionCode];
            s.stale = true;
            s.lastError = r.text.toStdString();
            s.lastErrorWallMs = r.wallMs;
        }
    }
    hold_.release(); // the terminal's own sends go between transactions
    if (lease_.wanted())
        giveBack(); // and so does anyone waiting for the line
    if (job_.replaced) {
        next();
        return;
    }
    emit done(r);
    if (r.read && *r.read == static_cast<int>(reads_.size()) - 1)
        emit cycleDone();
    next();
}

// The port went away under a transaction: it ends without a result, but its tries still
// count (the last as an error without a reply), so the requests sent add up.
void ModbusMaster::abort() {
    if (tx_.running() && job_.read && !job_.replaced) {
        count(tx_.rules());
        modbus::PollStatus& s = status_[std::size_t(*job_.read)];
        ++s.polls;
        ++s.otherErrors;
        s.stale = true;
        s.lastError = "no reply: the port closed";
        s.lastErrorWallMs = QDateTime::currentMSecsSinceEpoch();
    }
    tx_.cancel();
    early_.clear();
    idle_.stop();
    inFlight_ = false;
    hold_.release();
    writes_.clear();
}

void ModbusMaster::onPortOpen(bool open) {
    if (open) {
        if (wanted_) {
            std::fill(dueUs_.begin(), dueUs_.end(), 0);
            next();
        }
        return;
    }
    abort();
    lease_ = {}; // ended with the port, as every ask was
    ask_ = 0;
    if (toldWaiting_) {
        toldWaiting_ = false;
        emit waitingForLine(QString());
    }
    // A device that vanished with Reopen on comes back and polling goes on; else it ends.
    if (wanted_ && !engine_.watchingForReopen()) {
        wanted_ = false;
        emit pollingChanged(false);
    }
}

} // namespace varnok::engine
