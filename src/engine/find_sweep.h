#pragma once
// Finding a device whose settings are unknown: probes every ticked setting and station on the
// engine's open port, one transaction at a time and event-driven, on a lease of the line held
// from start to end (polling waits meanwhile), then puts the port's own settings back. Listening
// instead sends nothing and reports where valid frames pass.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "engine/modbus_transaction.h"
#include "engine/outcome.h"
#include "logic/modbus/find_plan.h"
#include "logic/modbus/poll_request.h"
#include "logic/serial/settings_text.h"
#include "port/link.h"

namespace varnok::engine {

class TerminalEngine;

enum class FindProbe {
    ReadHolding,
    ReadInput,
    ReadCoils,
    ReadDiscrete,
    ReportServerId,
    DeviceIdentification
};

struct FindRequest {
    std::vector<int> bauds;                     // from modbus::kFindBauds
    std::vector<serial::LineSettings> framings; // their baud ignored
    int firstStation = 1, lastStation = 247;
    FindProbe probe = FindProbe::ReadHolding;
    std::uint16_t address = 0; // the register or coil the probe reads
    bool autoTimeout = true;   // from the baud (modbus::autoTimeoutMs) ...
    int allowanceMs = modbus::kDefaultAllowanceMs;
    int fixedTimeoutMs = 100; // ... or this
    bool stopAtFirst = true;
    bool listen = false; // send nothing: listen listenMs at each setting
    int listenMs = 3000;
    // What carries the line and the settings in force there (the sweep reads both off the
    // port). Over raw TCP and Modbus TCP the server fixes the line settings: only stations
    // are tried, at the settings in force; Modbus TCP adds the unit ids 0 and 255.
    serial::LinkKind link = serial::LinkKind::Device;
    serial::LineSettings lineInForce;
};

// One row of the results.
struct FindAnswer {
    enum class Kind { Reply, Exception, Garbled, Heard, Refused };
    Kind kind = Kind::Reply;
    serial::LineSettings line; // the setting it came at (with its baud)
    int station = 0;           // 0 for a garbled, heard or refused row
    QString text;              // "value 1234", "exception 02 illegal data address",
                               // the server ID or identification, the hint, the refusal
    std::int64_t responseUs = -1;
};

struct FindProgress {
    int done = 0, total = 0; // probes (or listening settings)
    serial::LineSettings line;
    int station = 0;
    double msLeft = 0; // estimate, corrected as it goes
};

// What a request sends and how long it waits, as the sweep runs it and as the window shows it
// before starting: the probe (to the first station), the reply timeout at a setting, and the
// time the whole sweep takes when nobody answers. The probe's building may throw
// modbus::RequestFailure.
modbus::PollRequest findProbe(const FindRequest& request);
bool stationsOnly(const FindRequest& request);
std::vector<serial::LineSettings> findOrder(const FindRequest& request);
std::vector<int> findStations(const FindRequest& request);
int findTimeoutMs(const FindRequest& request, const serial::LineSettings& line);
double findPlannedMs(const FindRequest& request);

class FindSweep : public QObject {
    Q_OBJECT
  public:
    explicit FindSweep(TerminalEngine& engine, QObject* parent = nullptr);
    ~FindSweep() override;

    // The port must be open; failed with the text to show when it is not or the request is
    // empty. The planned time is known from here on.
    Outcome start(const FindRequest& request);
    // The request with what carries the port and the settings in force there, as the sweep
    // will run it: what a plan shown before the start is made from.
    FindRequest onThePort(FindRequest request) const;
    // Ends within one timeout; finished(true) follows.
    void stop();
    bool running() const;
    double plannedMs() const;
    // Probes (or listening settings) finished so far of all planned, as last started.
    int done() const { return done_; }
    int total() const { return total_; }

    // After a garbled row: the settings not yet tried, those next to it first.
    void sweepNeighboursFirst(const serial::LineSettings& around);

  signals:
    void progress(const varnok::engine::FindProgress& progress);
    void answer(const varnok::engine::FindAnswer& answer);
    void finished(bool stopped); // the port's own settings are back in force

  private:
    void onGranted(LineLease lease);
    void enterSetting();
    void probe();
    void onData();
    void onTimeout();
    void probeJudged();
    void probeEnded(bool found);
    void listenEnded();
    void nextSetting();
    void finish(bool stopped);
    void abandon();
    void tellProgress();
    void tell(FindAnswer::Kind kind, int station, const QString& text,
              std::int64_t responseUs = -1);
    int timeoutMs(const serial::LineSettings& line) const { return findTimeoutMs(req_, line); }
    double settingMs(const serial::LineSettings& line) const;
    int stations() const { return static_cast<int>(stations_.size()); }

    TerminalEngine& engine_;
    LineLease lease_;
    SendHold hold_;         // the terminal's own sends wait for the port's own settings
    std::uint64_t ask_ = 0; // the ask for the line while it waits
    FindRequest req_;
    modbus::PollRequest probe_;
    std::vector<serial::LineSettings> order_;
    std::size_t index_ = 0;
    std::vector<int> stations_;
    std::size_t stationIndex_ = 0;
    int station_ = 0;
    bool running_ = false, stopping_ = false, inFlight_ = false, listening_ = false;
    bool dataPending_ = false, garbledTold_ = false;
    QByteArray bytes_; // heard while listening
    std::int64_t startUs_ = 0;
    double plannedMs_ = 0, plannedLeftMs_ = 0, plannedDoneMs_ = 0;
    int done_ = 0, total_ = 0;
    QTimer timeout_; // listening's
    ModbusTransaction tx_;
};

} // namespace varnok::engine
