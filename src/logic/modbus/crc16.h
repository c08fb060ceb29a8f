#pragma once
// The CRC-16 of the Modbus RTU standard, table-driven: polynomial 8005 worked bit-reversed
// (A001, least significant bit first), register starting at FFFF, no final inversion.
#include <array>
#include <cstddef>
#include <cstdint>

namespace varnok::modbus {

struct CrcTables {
    std::array<std::uint8_t, 256> hi{}; // low-order byte of T(i)
    std::array<std::uint8_t, 256> lo{}; // high-order byte of T(i)
};

// The two lookup tables, worked out by the compiler.
const CrcTables& crcTables();

// The two registers of the standard's table-driven routine, named as it names them. As a
// 16-bit number the CRC is lo * 256 + hi: hi is its low-order byte, which the standard sends
// first, then lo, the high-order byte. 01 03 00 00 00 01 has the CRC 0A84 and goes out as
// 01 03 00 00 00 01 84 0A.
struct CrcRegisters {
    std::uint8_t hi = 0xFF;
    std::uint8_t lo = 0xFF;
};

// Covers buffer[0 .. count-1]; count <= 0 reads nothing and gives FF FF.
CrcRegisters Calc_CRC16(const std::uint8_t* buffer, int count);

} // namespace varnok::modbus
