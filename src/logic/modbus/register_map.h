#pragma once
// A register map as other tools keep it: CSV lines of address, name and format.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logic/modbus/value_format.h"

namespace varnok::modbus {

struct MapEntry {
    int line = 0;     // 1-based line of the file
    int station = 0;  // 1-247; 0: every station polled
    int function = 0; // the read function the address belongs to; 0: any read holding it
    int address = 0;  // 0-based, as on the wire
    std::string name;
    std::optional<ValueFormat> format; // none: the row keeps its own
};

// A line the map cannot take; the description names the line and why.
class MapFailure : public Failure {
  public:
    explicit MapFailure(std::string description) : Failure(380, std::move(description)) {}
};

// One entry per line: address, name, format (empty: the row keeps its own) and, if given,
// station. Blank lines are skipped, and so is a first line whose address field is not a
// number (a header). Fields are separated by commas (or semicolons) and may be quoted with "".
// A file that is not text, holds no entry or lacks the format column is refused, and so is an
// entry that lies inside the registers of an earlier one's value or repeats its address,
// naming both lines. An address is 0-based (0-65535) unless it has the conventional five or
// six digits with a table prefix: 0xxxx coils, 1xxxx discrete inputs, 3xxxx input registers,
// 4xxxx holding registers, counted from 1 (40001 is holding register 0). Throws MapFailure.
std::vector<MapEntry> parseRegisterMap(std::string_view csv);

// The conventional number of a 0-based address read by `function` (01-04): 40001 for
// holding register 0; 6 digits past 9999.
std::string conventionalAddress(int function, int address);

} // namespace varnok::modbus
