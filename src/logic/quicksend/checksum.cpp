#include "logic/quicksend/checksum.h"

#include "logic/modbus/crc16.h"

namespace varnok::quicksend {

namespace {

// MSB-first CRC-16 with polynomial 1021, no reflection, no final inversion.
std::uint16_t crc16x1021(std::span<const std::uint8_t> data, std::uint16_t crc) {
    for (std::uint8_t b : data) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000U) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021U)
                                  : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

const std::array<std::uint32_t, 256>& crc32Table() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1U) ? (c >> 1) ^ 0xEDB88320U : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

std::vector<std::uint8_t> bigEndian16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)};
}

} // namespace

const std::array<ChecksumInfo, 8>& checksumCatalogue() {
    static const std::array<ChecksumInfo, 8> list{{
        {Checksum::None, "none", "None", "nothing is appended"},
        {Checksum::ModbusCrc16, "modbus-crc16", "Modbus CRC-16",
         "CRC-16 of Modbus RTU (poly 8005 reflected, start FFFF), low byte first"},
        {Checksum::CrcCcittFalse, "crc16-ccitt-false", "CRC-16/CCITT-FALSE",
         "poly 1021, start FFFF, not reflected, high byte first"},
        {Checksum::CrcXmodem, "crc16-xmodem", "CRC-16/XMODEM",
         "poly 1021, start 0000, not reflected, high byte first"},
        {Checksum::Crc32, "crc32", "CRC-32",
         "the CRC-32 of zip and Ethernet (poly 04C11DB7 reflected, start and final FFFFFFFF), "
         "low byte first"},
        {Checksum::Lrc, "lrc", "LRC (Modbus ASCII)",
         "one byte: the two's complement of the sum of the bytes, as Modbus ASCII computes it "
         "over its decoded bytes"},
        {Checksum::Xor, "xor", "XOR", "one byte: all bytes XORed together"},
        {Checksum::Sum, "sum8", "Sum mod 256", "one byte: the sum of all bytes modulo 256"},
    }};
    return list;
}

const ChecksumInfo& checksumInfo(Checksum kind) {
    return checksumCatalogue()[static_cast<std::size_t>(kind)];
}

std::vector<std::uint8_t> checksumOf(Checksum kind, std::span<const std::uint8_t> data) {
    std::uint8_t acc = 0;
    switch (kind) {
    case Checksum::None:
        return {};
    case Checksum::ModbusCrc16: {
        const modbus::CrcRegisters r =
            modbus::Calc_CRC16(data.data(), static_cast<int>(data.size()));
        return {r.hi, r.lo};
    }
    case Checksum::CrcCcittFalse:
        return bigEndian16(crc16x1021(data, 0xFFFF));
    case Checksum::CrcXmodem:
        return bigEndian16(crc16x1021(data, 0x0000));
    case Checksum::Crc32: {
        std::uint32_t c = 0xFFFFFFFFU;
        for (std::uint8_t b : data)
            c = crc32Table()[(c ^ b) & 0xFF] ^ (c >> 8);
        c ^= 0xFFFFFFFFU;
        return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 24)};
    }
    case Checksum::Lrc:
    case Checksum::Sum:
        for (std::uint8_t b : data)
            acc = static_cast<std::uint8_t>(acc + b);
        return {kind == Checksum::Lrc ? static_cast<std::uint8_t>(-acc) : acc};
    case Checksum::Xor:
        for (std::uint8_t b : data)
            acc ^= b;
        return {acc};
    }
    return {};
}

} // namespace varnok::quicksend
