#include "engine/find_sweep.h"

#include <QStringList>
#include <algorithm>

#include "engine/byte_view.h"
#include "engine/terminal_engine.h"
#include "logic/modbus/function_code.h"

namespace varnok::engine {

namespace {

int functionOf(FindProbe p) {
    using modbus::Function;
    switch (p) {
    case FindProbe::ReadHolding:
        return modbus::code(Function::ReadHoldingRegisters);
    case FindProbe::ReadInput:
        return modbus::code(Function::ReadInputRegisters);
    case FindProbe::ReadCoils:
        return modbus::code(Function::ReadCoils);
    case FindProbe::ReadDiscrete:
        return modbus::code(Function::ReadDiscreteInputs);
    case FindProbe::ReportServerId:
        return modbus::kReportServerId;
    case FindProbe::DeviceIdentification:
        return modbus::kDeviceIdentification;
    }
    return modbus::code(Function::ReadHoldingRegisters);
}

QString answerText(const modbus::ReplyCheck& c) {
    if (c.status != modbus::ReplyStatus::Ok)
        return QString::fromStdString(c.text);
    if (!c.identity.empty())
        return QString::fromStdString(c.identity);
    if (!c.registers.empty())
        return QStringLiteral("value %1").arg(c.registers.front());
    return QStringLiteral("value %1").arg(c.bits.empty() ? 0 : int(c.bits.front()));
}

int stationsOf(const FindRequest& r) {
    return static_cast<int>(findStations(r).size());
}

double settingMsOf(const FindRequest& r, const serial::LineSettings& line) {
    return r.listen ? modbus::kChangeMs + std::max(r.listenMs, 1)
                    : modbus::sweepMs({findTimeoutMs(r, line)}, stationsOf(r));
}

} // namespace

modbus::PollRequest findProbe(const FindRequest& request) {
    return {
        std::max(request.firstStation, 1), functionOf(request.probe), request.address, 1, {}, {}};
}

bool stationsOnly(const FindRequest& request) {
    return request.link == serial::LinkKind::RawTcp || request.link == serial::LinkKind::ModbusTcp;
}

std::vector<serial::LineSettings> findOrder(const FindRequest& request) {
    if (stationsOnly(request))
        return {request.lineInForce};
    return modbus::sweepOrder(request.bauds, request.framings);
}

std::vector<int> findStations(const FindRequest& request) {
    const int first = std::max(request.firstStation, 1);
    const int last = std::min(request.lastStation, 247);
    return modbus::sweepStations(first, last, request.link == serial::LinkKind::ModbusTcp);
}

int findTimeoutMs(const FindRequest& request, const serial::LineSettings& line) {
    const int network = request.link == serial::LinkKind::Device ? 0 : modbus::kNetworkAllowanceMs;
    return request.autoTimeout
               ? modbus::autoTimeoutMs(line, findProbe(request), request.allowanceMs) + network
               : std::max(request.fixedTimeoutMs, 1);
}

double findPlannedMs(const FindRequest& request) {
    double ms = 0;
    for (const auto& line : findOrder(request))
        ms += settingMsOf(request, line);
    return ms;
}

FindSweep::FindSweep(TerminalEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &FindSweep::onTimeout);
    connect(&tx_, &ModbusTransaction::ended, this, &FindSweep::probeJudged);
    connect(&tx_, &ModbusTransaction::lost, this, &FindSweep::abandon);
    connect(&engine_, &TerminalEngine::portOpenChanged, this, [this](bool open) {
        if (!open && running_)
            abandon();
    });
}

FindSweep::~FindSweep() {
    engine_.withdrawAsk(ask_); // the lease puts the port's own settings back as it ends
}

bool FindSweep::running() const {
    return running_;
}

double FindSweep::plannedMs() const {
    return plannedMs_;
}

double FindSweep::settingMs(const serial::LineSettings& line) const {
    return settingMsOf(req_, line);
}

FindRequest FindSweep::onThePort(FindRequest request) const {
    request.link = engine_.port().kind();
    request.lineInForce = engine_.lineSettings();
    return request;
}

Outcome FindSweep::start(const FindRequest& request) {
    const auto fail = [](const QString& why) { return Outcome::failed(why); };
    if (running_)
        return fail(QStringLiteral("A search is already running."));
    if (Outcome refused = engine_.checkListenOnly(); !refused)
        return refused;
    if (!engine_.isOpen())
        return fail(QStringLiteral("The port is not open: open it with \"Open COM\" in the main "
                                   "window, then start the search."));
    const int first = std::max(request.firstStation, 1);
    const int last = std::min(request.lastStation, 247);
    if (!request.listen && first > last)
        return fail(QStringLiteral("The stations must be a range within 1 to 247."));
    const FindRequest onLink = onThePort(request);
    std::vector<serial::LineSettings> order = findOrder(onLink);
    if (order.empty())
        return fail(QStringLiteral("Tick at least one baud rate and one framing."));
    req_ = onLink;
    req_.firstStation = first;
    req_.lastStation = std::max(first, last);
    req_.listenMs = std::max(req_.listenMs, 1);
    probe_ = findProbe(req_);
    stations_ = findStations(req_);
    order_ = std::move(order);
    index_ = 0;
    done_ = 0;
    total_ = static_cast<int>(order_.size()) * (req_.listen ? 1 : stations());
    plannedMs_ = 0;
    for (const auto& line : order_)
        plannedMs_ += settingMs(line);
    plannedLeftMs_ = plannedMs_;
    plannedDoneMs_ = 0;
    startUs_ = nowUs();
    running_ = true;
    stopping_ = false;
    // A transaction of the master on the line ends first; polling then waits for the sweep.
    const auto ticket =
        engine_.askForLine(LineUse(QStringLiteral("Find Device")), this,
                           [this](LineLease lease) { onGranted(std::move(lease)); });
    ask_ = lease_ ? 0 : ticket; // granted at once, or later
    return {};
}

void FindSweep::onGranted(LineLease lease) {
    ask_ = 0;
    lease_ = std::move(lease);
    // Only the sweep reads from here on; the terminal's own sends wait for the port's own
    // settings, so that none goes out at a setting being tried.
    hold_ = lease_.holdSends();
    // Queued, one call for a burst of signals: the read never runs inside a port call.
    lease_.onData([this] {
        if (dataPending_ || !running_)
            return;
        dataPending_ = true;
        QMetaObject::invokeMethod(this, &FindSweep::onData, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(this, &FindSweep::enterSetting, Qt::QueuedConnection);
}

void FindSweep::stop() {
    if (!running_ || stopping_)
        return;
    stopping_ = true;
    // A probe on the line ends first (within its timeout), so that its reply is not left
    // for the terminal; listening, or waiting for the line, has nothing on it and ends now.
    if (!inFlight_)
        finish(true);
}

void FindSweep::sweepNeighboursFirst(const serial::LineSettings& around) {
    if (!running_ || index_ + 1 >= order_.size())
        return;
    const auto from = order_.begin() + static_cast<std::ptrdiff_t>(index_ + 1);
    std::vector<serial::LineSettings> rest =
        modbus::neighboursFirst(std::vector<serial::LineSettings>(from, order_.end()), around);
    std::copy(rest.begin(), rest.end(), from);
}

void FindSweep::tell(FindAnswer::Kind kind, int station, const QString& text,
                     std::int64_t responseUs) {
    FindAnswer a;
    a.kind = kind;
    a.line = order_[index_];
    a.station = station;
    a.text = text;
    a.responseUs = responseUs;
    emit answer(a);
}

void FindSweep::tellProgress() {
    FindProgress p;
    p.done = done_;
    p.total = total_;
    p.line = order_[index_];
    p.station = req_.listen ? 0 : station_;
    p.msLeft = modbus::timeLeftMs(plannedLeftMs_, plannedDoneMs_,
                                  static_cast<double>(nowUs() - startUs_) / 1000.0);
    emit progress(p);
}

void FindSweep::enterSetting() {
    if (!running_)
        return;
    if (stopping_) {
        finish(true);
        return;
    }
    const serial::LineSettings& line = order_[index_];
    // Where the server fixes the settings, the one setting is those in force.
    if (const Outcome changed = stationsOnly(req_) ? Outcome() : lease_.changeLineSettings(line);
        !changed) {
        // Skipped, and out of the plan: it costs nothing.
        tell(FindAnswer::Kind::Refused, 0, changed.failure());
        plannedLeftMs_ -= settingMs(line);
        total_ -= req_.listen ? 1 : stations();
        nextSetting();
        return;
    }
    garbledTold_ = false;
    stationIndex_ = 0;
    station_ = stations_.front();
    try {
        lease_.read(); // what came at the setting before is not this one's
    } catch (const Failure&) {
        abandon();
        return;
    }
    if (req_.listen) {
        bytes_.clear();
        tellProgress();
        if (!running_)
            return; // stopped by a receiver of the progress
        listening_ = true;
        timeout_.start(req_.listenMs);
        return;
    }
    probe();
}

void FindSweep::probe() {
    // Built for a station of a line; the unit ids 0 and 255 of Modbus TCP go in afterwards
    // (the ADU carries no CRC).
    probe_.station = std::clamp(station_, 1, 247);
    QByteArray frame = toByteArray(modbus::buildRequest(probe_));
    probe_.station = station_;
    frame[0] = char(station_);
    tellProgress();
    if (!running_)
        return;
    QByteArray late;
    try {
        late = lease_.read(); // a late reply to the probe before
    } catch (const Failure&) {
        abandon();
        return;
    }
    inFlight_ = true;
    const modbus::Framing framing = framingOf(req_.link);
    tx_.start(lease_, probe_, frame, timeoutMs(order_[index_]), 0, order_[index_], framing);
    if (framing == modbus::Framing::Mbap && !late.isEmpty())
        tx_.feed(late); // dropped by its transaction id, and an ADU begun goes on
}

void FindSweep::onData() {
    dataPending_ = false;
    if (!running_ || !lease_)
        return;
    QByteArray chunk;
    try {
        chunk = lease_.read();
    } catch (const Failure&) {
        abandon();
        return;
    }
    if (listening_)
        bytes_ += chunk;
    else if (inFlight_)
        tx_.feed(chunk);
}

void FindSweep::onTimeout() {
    if (listening_)
        listenEnded();
}

void FindSweep::probeJudged() {
    const modbus::Transaction& t = tx_.rules();
    if (t.timedOut()) {
        probeEnded(false);
        return;
    }
    const modbus::ReplyCheck& check = t.check();
    // A frame of some other shape is still a device at this setting; bytes in no frame
    // are a device at another.
    if (t.answered() || modbus::heard(t.reply()) == modbus::Heard::Frame) {
        tell(check.status == modbus::ReplyStatus::Exception ? FindAnswer::Kind::Exception
                                                            : FindAnswer::Kind::Reply,
             station_, answerText(check), t.responseUs());
        probeEnded(true);
        return;
    }
    if (!garbledTold_) {
        garbledTold_ = true;
        tell(FindAnswer::Kind::Garbled, 0,
             QString::fromStdString(modbus::garbledHint(order_[index_])));
    }
    probeEnded(false);
}

void FindSweep::probeEnded(bool found) {
    inFlight_ = false;
    ++done_;
    const double perProbe = timeoutMs(order_[index_]);
    plannedDoneMs_ += perProbe;
    plannedLeftMs_ -= perProbe;
    if (stopping_ || (found && req_.stopAtFirst)) {
        finish(stopping_);
        return;
    }
    if (stationIndex_ + 1 < stations_.size()) {
        station_ = stations_[++stationIndex_];
        probe();
        return;
    }
    plannedDoneMs_ += modbus::kChangeMs;
    plannedLeftMs_ -= modbus::kChangeMs;
    nextSetting();
}

void FindSweep::listenEnded() {
    listening_ = false;
    ++done_;
    plannedDoneMs_ += settingMs(order_[index_]);
    plannedLeftMs_ -= settingMs(order_[index_]);
    const auto frames = modbus::framesIn(byteSpan(bytes_));
    if (!frames.empty()) {
        QStringList stations;
        for (const modbus::FrameSpan& f : frames) {
            const QString st = QString::number(std::uint8_t(bytes_[qsizetype(f.start)]));
            if (!stations.contains(st))
                stations << st;
        }
        tell(FindAnswer::Kind::Heard, 0,
             QStringLiteral("%1 valid frame%2 pass (station%3 %4)")
                 .arg(frames.size())
                 .arg(frames.size() == 1 ? "" : "s", stations.size() == 1 ? "" : "s",
                      stations.join(QStringLiteral(", "))));
        if (req_.stopAtFirst) {
            finish(false);
            return;
        }
    } else if (!bytes_.isEmpty()) {
        tell(FindAnswer::Kind::Garbled, 0,
             QString::fromStdString(modbus::garbledHint(order_[index_])));
    }
    nextSetting();
}

void FindSweep::nextSetting() {
    if (index_ + 1 >= order_.size()) {
        finish(false);
        return;
    }
    ++index_;
    enterSetting();
}

void FindSweep::finish(bool stopped) {
    timeout_.stop();
    tx_.cancel();
    inFlight_ = listening_ = false;
    running_ = false;
    engine_.withdrawAsk(std::exchange(ask_, 0));
    if (lease_ && !stationsOnly(req_)) {
        if (const Outcome restored = lease_.restoreLineSettings(); !restored)
            tell(FindAnswer::Kind::Refused, 0,
                 QStringLiteral("The port's own settings could not be restored: %1")
                     .arg(restored.failure()));
    }
    hold_.release();  // the terminal's own sends go out at the port's own settings
    lease_.release(); // then the input goes back
    emit finished(stopped);
}

// The port closed (or the engine went) under the sweep: nothing to restore.
void FindSweep::abandon() {
    timeout_.stop();
    tx_.cancel();
    inFlight_ = listening_ = false;
    running_ = false;
    engine_.withdrawAsk(std::exchange(ask_, 0));
    hold_.release();
    lease_ = {};
    emit finished(true);
}

} // namespace varnok::engine
