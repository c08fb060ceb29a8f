#pragma once
// Modbus RTU CRC-16, table-driven.
#include <array>
#include <cstddef>
#include <cstdint>

namespace varnok::modbus {

struct CrcTables {
    std::array<std::uint8_t, 256> hi{}; // low-order byte of T(i)
    std::array<std::uint8_t, 256> lo{}; // high-order byte of T(i)
};

// The two lookup tables, filled once (the first call, or Init_Modbus at start-up).
const CrcTables& crcTables();

// The two CRC registers after a computation: hi is the byte a frame carries first.
struct CrcRegisters {
    std::uint8_t hi = 0xFF;
    std::uint8_t lo = 0xFF;
};

// Covers buffer[0 .. count-1]; count <= 0 reads nothing and gives FF FF.
CrcRegisters Calc_CRC16(const std::uint8_t* buffer, int count);

} // namespace varnok::modbus
