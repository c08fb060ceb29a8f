#include "logic/modbus/register_map.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "logic/modbus/function_code.h"

namespace varnok::modbus {

namespace {

std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if ((c == ',' || c == ';') && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    for (std::string& f : fields) {
        const auto b = f.find_first_not_of(" \t");
        f = b == std::string::npos ? "" : f.substr(b, f.find_last_not_of(" \t") - b + 1);
    }
    return fields;
}

// The function whose table a conventional prefix digit names.
int functionOfPrefix(char digit) {
    switch (digit) {
    case '0':
        return code(Function::ReadCoils);
    case '1':
        return code(Function::ReadDiscreteInputs);
    case '3':
        return code(Function::ReadInputRegisters);
    case '4':
        return code(Function::ReadHoldingRegisters);
    default:
        return 0;
    }
}

bool parseAddress(const std::string& text, MapEntry& e) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0)
        return false;
    if ((text.size() == 5 || text.size() == 6) && functionOfPrefix(text[0])) {
        const int number = std::stoi(text.substr(1));
        if (number >= 1 && number - 1 <= 65535) {
            e.function = functionOfPrefix(text[0]);
            e.address = number - 1;
            return true;
        }
    }
    if (v > 65535)
        return false;
    e.address = v;
    return true;
}

// Whether `later` names a register of `earlier`'s value (or the same one): same station and
// table, where 0 stands for any.
bool overlaps(const MapEntry& earlier, const MapEntry& later) {
    const auto same = [](int a, int b) { return a == 0 || b == 0 || a == b; };
    const int span = earlier.format ? registerCount(earlier.format->type) : 1;
    return same(earlier.station, later.station) && same(earlier.function, later.function) &&
           later.address >= earlier.address && later.address < earlier.address + span;
}

} // namespace

std::vector<MapEntry> parseRegisterMap(std::string_view csv) {
    // Text has no NUL bytes; other control bytes than tab and line ends say the same.
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const auto c = static_cast<unsigned char>(csv[i]);
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') {
            const auto line = std::count(csv.begin(), csv.begin() + std::ptrdiff_t(i), '\n') + 1;
            char what[80];
            std::snprintf(what, sizeof what, "line %d: byte 0x%02X: this is not a text file.",
                          int(line), c);
            throw MapFailure(what);
        }
    }
    std::vector<MapEntry> entries;
    int lineNo = 0;
    while (!csv.empty()) {
        const std::size_t nl = csv.find('\n');
        const std::string_view line = csv.substr(0, nl);
        csv = nl == std::string_view::npos ? std::string_view{} : csv.substr(nl + 1);
        ++lineNo;
        const std::vector<std::string> f = splitFields(line);
        if (f.size() == 1 && f[0].empty())
            continue;
        MapEntry e;
        e.line = lineNo;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (!parseAddress(f[0], e)) {
            if (entries.empty() && lineNo == 1)
                continue; // a header
            throw MapFailure(where + "\"" + f[0].substr(0, 40) +
                             "\" is not an address (0 to 65535, or 00001, 10001, 30001, 40001 "
                             "and up).");
        }
        if (f.size() < 3)
            throw MapFailure(where + "no format column (address, name, format; the format may "
                                     "be left empty).");
        if (f.size() > 4)
            throw MapFailure(where + "more than four fields (address, name, format, station).");
        e.name = f[1];
        if (!f[2].empty()) {
            e.format = parseFormatName(f[2]);
            if (!e.format)
                throw MapFailure(where + "unknown format \"" + f[2].substr(0, 40) +
                                 "\" (int16, uint16, hex16, bin16, int32, uint32, float32, "
                                 "int64, uint64, double with ABCD, CDAB, BADC or DCBA; ascii "
                                 "AB or BA).");
        }
        if (f.size() > 3 && !f[3].empty()) {
            const auto [end, ec] =
                std::from_chars(f[3].data(), f[3].data() + f[3].size(), e.station);
            if (ec != std::errc() || end != f[3].data() + f[3].size() || e.station < 1 ||
                e.station > 247)
                throw MapFailure(where + "\"" + f[3].substr(0, 40) +
                                 "\" is not a station (1 to 247).");
        }
        for (const MapEntry& earlier : entries)
            if (overlaps(earlier, e) || overlaps(e, earlier))
                throw MapFailure(where + "\"" + f[0].substr(0, 40) + "\" overlaps line " +
                                 std::to_string(earlier.line) +
                                 " (a value of several registers, or the same address).");
        entries.push_back(std::move(e));
    }
    if (entries.empty())
        throw MapFailure("it holds no entries (address, name, format).");
    return entries;
}

std::string conventionalAddress(int function, int address) {
    const char prefix = function == code(Function::ReadCoils)            ? '0'
                        : function == code(Function::ReadDiscreteInputs) ? '1'
                        : function == code(Function::ReadInputRegisters) ? '3'
                                                                         : '4';
    std::string digits = std::to_string(address + 1);
    const std::size_t width = address + 1 > 9999 ? 5 : 4;
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return prefix + digits;
}

} // namespace varnok::modbus
