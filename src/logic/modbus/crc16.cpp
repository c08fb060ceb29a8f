#include "logic/modbus/crc16.h"

namespace varnok::modbus {

namespace {

// T(i) by the reflected-polynomial rule; the pair split from it is the published one.
constexpr CrcTables makeTables() {
    CrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1U) ? (c >> 1) ^ 0xA001U : c >> 1;
        t.hi[i] = static_cast<std::uint8_t>(c & 0xFFU);
        t.lo[i] = static_cast<std::uint8_t>(c >> 8);
    }
    return t;
}

constexpr CrcTables kTables = makeTables();

// Spot rows checked at compile time so a wrong rule cannot ship.
static_assert(kTables.hi[0x01] == 0xC1 && kTables.lo[0x01] == 0xC0);
static_assert(kTables.hi[0x7F] == 0x41 && kTables.lo[0x7F] == 0xE0);
static_assert(kTables.hi[0x80] == 0x01 && kTables.lo[0x80] == 0xA0);
static_assert(kTables.hi[0xFF] == 0x40 && kTables.lo[0xFF] == 0x40);

} // namespace

const CrcTables& crcTables() {
    return kTables;
}

CrcRegisters Calc_CRC16(const std::uint8_t* buffer, int count) {
    CrcRegisters r;
    for (int k = 0; k < count; ++k) {
        const std::uint8_t idx = r.hi ^ buffer[k];
        r.hi = kTables.hi[idx] ^ r.lo;
        r.lo = kTables.lo[idx];
    }
    return r;
}

} // namespace varnok::modbus
