#pragma once
// The rows of the poll table: one register or coil of one station, read with one function.
// What a row shows beside its value: its label, when its value last changed and the samples
// its chart line is drawn from.
#include <compare>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "logic/modbus/function_code.h"

namespace varnok::modbus {

struct PollRequest;
struct ValueFormat;

// A row everywhere it is named: table, definitions, register map, CSV header, chart.
struct RowKey {
    int station = 1;
    int function = code(Function::ReadHoldingRegisters); // 01-04
    int address = 0;                                     // 0-based, as on the wire
    auto operator<=>(const RowKey&) const = default;
};

// "CO", "DI", "HR", "IR" for functions 01-04.
std::string tableTag(int function);

// "st1 HR 40001 flow": station, table, address (1-based with its prefix, or 0-based) and the
// name when there is one.
std::string rowLabel(const RowKey& key, const std::string& name, bool oneBased);

// The write of `text` typed into a row: 05 (15 with `always16`) for a coil, given as 0, 1, on
// or off; 06 for a register value and 16 for a longer one (or with `always16`), its registers
// in the row's format. Throws ValueFailure naming the text and what the row takes.
PollRequest writeRequest(const RowKey& key, const ValueFormat& format, std::string_view text,
                         bool always16);

// When each register or coil last changed. Keyed by row, it outlives a new list of reads, a
// format or a numbering: only a different value read moves a time.
class ChangeClock {
  public:
    // A value read at `wallMs`; the first value of a row counts as its change.
    void note(const RowKey& key, std::uint16_t value, std::int64_t wallMs);
    // The latest change of `count` rows from `key` on (a value of several registers); 0: none.
    std::int64_t changedAt(const RowKey& key, int count = 1) const;

  private:
    struct Seen {
        std::uint16_t value = 0;
        std::int64_t changedMs = 0;
    };
    std::map<RowKey, Seen> seen_;
};

// A chart line's samples, kept whether or not the chart is paused: values, and gaps where
// a poll failed. Bounded by count; at most one sample per `minGapMs`.
class Trace {
  public:
    struct Sample {
        std::int64_t wallMs = 0;
        std::optional<double> value; // none: a gap, the line breaks here
    };
    static constexpr std::size_t kMaxSamples = 9000; // 30 minutes at five a second
    static constexpr std::int64_t kMinGapMs = 200;

    void add(std::int64_t wallMs, double value);
    void addGap(std::int64_t wallMs);
    // The unbroken runs of samples at or after `fromMs`, oldest first; past `maxRuns` the
    // oldest are joined into one, so that a chart's series stay bounded.
    std::vector<std::vector<std::pair<std::int64_t, double>>>
    runs(std::int64_t fromMs, std::size_t maxRuns = SIZE_MAX) const;
    std::size_t size() const { return samples_.size(); }

  private:
    std::deque<Sample> samples_;
};

// An axis from `lo` to `hi` widened to round numbers (1, 2 or 5 times a power of ten) in
// about `ticks` steps, with `ticks + 1` labels on round values.
struct Scale {
    double lo = 0;
    double hi = 1;
    int ticks = 1;
};
Scale roundScale(double lo, double hi, int ticks = 5);

} // namespace varnok::modbus
