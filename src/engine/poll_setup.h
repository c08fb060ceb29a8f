#pragma once
// What the poll workbench polls and how its rows read, apart from any window: the reads, the
// rows' names, formats and plot ticks keyed by station, function and address, and the one
// rule that judges them whether typed, loaded from definitions or named by a register map.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

#include "engine/modbus_master.h"
#include "logic/modbus/poll_rows.h"
#include "logic/modbus/register_map.h"
#include "logic/modbus/value_format.h"

namespace varnok::engine {

struct RowDef {
    QString name;
    modbus::ValueFormat format;
    bool plot = false;
    bool operator==(const RowDef&) const = default;
};
using RowDefs = std::map<modbus::RowKey, RowDef>;

struct PollSetup {
    std::vector<PollRead> reads;
    RowDefs rows;
    bool oneBased = false;
    bool always16 = false;
};

// The fields of a read in the reads table's order.
enum ReadField { RfStation, RfFunction, RfAddress, RfCount, RfPeriod, RfTimeout, RfRetries };
inline constexpr int kReadFields = 7;

// Why a read cannot be polled, one sentence naming the field; "" when it can. The one rule
// for Apply, Load and whatever else sets reads.
std::string readProblem(const PollRead& read);
// The first problem of a list as "Read 2: ..."; "" when every read may be polled.
std::string readsProblem(const std::vector<PollRead>& reads);
// A read from its seven fields as typed. Throws modbus::RequestFailure "Read 1: the period
// "-5" must be a whole number from 0 to 3600000." or readProblem's sentence.
PollRead parseRead(int index, const QStringList& fields);

// Registers a row's value takes: its format's for registers, 1 for bits and rows not defined.
int rowSpan(const RowDefs& rows, const modbus::RowKey& key);
// The row whose value holds `address` of `read`: the address itself when its row shows.
modbus::RowKey coveringRow(const PollRead& read, const RowDefs& rows, int address);

// Definitions as JSON: reads, rows with their station, and the two options.
QByteArray definitionsJson(const PollSetup& setup);
// Throws Failure naming the read or row and why (a missing or mistyped field, a read the rule
// refuses, an unknown format), without "Nothing ...": the caller says what stays.
PollSetup parseDefinitions(const QByteArray& json);

// The map's names and formats onto the rows of the reads that hold them (an entry without a
// station or table prefix names the register in every such read); returns how many rows took
// an entry. Throws modbus::MapFailure, with `rows` unchanged, for an entry whose row would
// lie inside another row's value.
int applyMap(const std::vector<modbus::MapEntry>& entries, const std::vector<PollRead>& reads,
             RowDefs& rows);

} // namespace varnok::engine
