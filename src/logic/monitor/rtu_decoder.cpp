#include "logic/monitor/rtu_decoder.h"

#include "logic/modbus/catalogue.h"
#include "logic/modbus/crc16.h"

#include <cstdio>

namespace varnok::monitor {

namespace {

// The summary lists this many values of a long read, then how many more there are.
constexpr std::size_t kShownRegisters = 8;
constexpr std::size_t kShownBits = 64;

// Modbus data fields are big-endian; only the CRC goes low byte first.
std::uint16_t word(std::span<const std::uint8_t> pdu, std::size_t at) {
    return static_cast<std::uint16_t>(pdu[at] << 8 | pdu[at + 1]);
}

// Coils and inputs are packed least significant bit first, the first point in bit 0.
std::vector<bool> unpackBits(std::span<const std::uint8_t> packed, std::size_t count) {
    std::vector<bool> bits(count);
    for (std::size_t i = 0; i < count; ++i)
        bits[i] = (packed[i / 8] >> (i % 8)) & 1U;
    return bits;
}

std::vector<std::uint16_t> unpackWords(std::span<const std::uint8_t> data) {
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        words.push_back(word(data, i));
    return words;
}

// The PDU (function code and data) must be `want` bytes long.
bool fits(Decoded& d, std::span<const std::uint8_t> pdu, std::size_t want) {
    if (pdu.size() == want)
        return true;
    d.problem = std::to_string(pdu.size() + 3) + " bytes, " + std::to_string(want + 3) +
                " expected for this function";
    return false;
}

// The byte count at pdu[at] must match what follows it and what the quantity needs.
bool countFits(Decoded& d, std::span<const std::uint8_t> pdu, std::size_t at, std::size_t need) {
    d.byteCount = pdu[at];
    if (pdu.size() != at + 1 + pdu[at]) {
        d.problem = "byte count " + std::to_string(pdu[at]) + " but " +
                    std::to_string(pdu.size() - at - 1) + " data bytes";
        return false;
    }
    if (pdu[at] != need) {
        d.problem =
            "byte count " + std::to_string(pdu[at]) + ", " + std::to_string(need) + " expected";
        return false;
    }
    return true;
}

bool decodeRequest(Decoded& d, std::span<const std::uint8_t> pdu) {
    if (d.function < 1 || (d.function > 6 && d.function != 15 && d.function != 16)) {
        d.problem = "function not decoded";
        return false;
    }
    if (d.function < 15 && !fits(d, pdu, 5))
        return false;
    if (d.function >= 15 && pdu.size() < 6) {
        d.problem = "too short";
        return false;
    }
    d.address = word(pdu, 1);
    const std::uint16_t second = word(pdu, 3); // quantity or value
    if (d.function == 5) {
        if (second != 0xFF00 && second != 0x0000) {
            d.problem = "coil value must be FF00 or 0000";
            return false;
        }
        d.coilOn = second == 0xFF00;
    } else if (d.function == 6) {
        d.value = second;
    } else {
        d.quantity = second;
    }
    if (d.function < 15)
        return true;
    const std::size_t need = d.function == 15 ? (second + 7u) / 8u : second * 2u;
    if (!countFits(d, pdu, 5, need))
        return false;
    if (d.function == 15)
        d.bits = unpackBits(pdu.subspan(6), second);
    else
        d.registers = unpackWords(pdu.subspan(6));
    return true;
}

bool decodeResponse(Decoded& d, std::span<const std::uint8_t> pdu) {
    switch (d.function) {
    case 1:
    case 2:
    case 3:
    case 4: {
        // The count is whatever the reply says: the request's quantity is not at hand here.
        if (pdu.size() < 2)
            return fits(d, pdu, 2);
        if (!countFits(d, pdu, 1, pdu.size() - 2))
            return false;
        if (d.function <= 2) {
            d.bits = unpackBits(pdu.subspan(2), pdu[1] * 8u);
        } else if (pdu[1] % 2) {
            d.problem = "odd byte count " + std::to_string(pdu[1]);
            return false;
        } else {
            d.registers = unpackWords(pdu.subspan(2));
        }
        return true;
    }
    case 5:
    case 6:
        return decodeRequest(d, pdu); // the reply echoes the request
    case 15:
    case 16:
        if (!fits(d, pdu, 5))
            return false;
        d.address = word(pdu, 1);
        d.quantity = word(pdu, 3);
        return true;
    }
    d.problem = "function not decoded";
    return false;
}

std::string hexByte(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

std::string hexWord(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

std::string valueText(std::uint16_t v) {
    return hexWord(v) + " = " + std::to_string(v);
}

std::string addressText(std::uint16_t a) {
    return "addr " + std::to_string(a) + " (" + hexWord(a) + ")";
}

std::string bitsText(const std::vector<bool>& bits) {
    std::string s;
    for (std::size_t i = 0; i < bits.size() && i < kShownBits; ++i) {
        if (i && i % 8 == 0)
            s += ' ';
        s += bits[i] ? '1' : '0';
    }
    if (bits.size() > kShownBits)
        s += " … +" + std::to_string(bits.size() - kShownBits);
    return s;
}

std::string registersText(const std::vector<std::uint16_t>& regs, bool indexed) {
    std::string s;
    for (std::size_t i = 0; i < regs.size() && i < kShownRegisters; ++i) {
        if (i)
            s += ", ";
        if (indexed)
            s += "[" + std::to_string(i) + "] ";
        s += valueText(regs[i]);
    }
    if (regs.size() > kShownRegisters)
        s += ", … +" + std::to_string(regs.size() - kShownRegisters);
    return s;
}

std::string fieldsText(const Decoded& d) {
    if (d.kind == FrameKind::Exception)
        return d.exceptionName.empty() ? "unknown exception" : d.exceptionName;
    if (d.kind == FrameKind::Unknown)
        return d.problem;
    if (d.kind == FrameKind::Response && d.function <= 2)
        return std::to_string(d.bits.size()) + " bits: " + bitsText(d.bits);
    if (d.kind == FrameKind::Response && d.function <= 4)
        return std::to_string(d.registers.size()) +
               (d.registers.size() == 1 ? " reg: " : " regs: ") + registersText(d.registers, true);
    std::string s = addressText(*d.address);
    if (d.coilOn)
        return s + (*d.coilOn ? " ON" : " OFF");
    if (d.value)
        return s + " = " + valueText(*d.value);
    s += " qty " + std::to_string(*d.quantity);
    if (d.kind == FrameKind::Response && d.function >= 15)
        return s + " written";
    if (d.function == 15)
        return s + ": " + bitsText(d.bits);
    if (d.function == 16)
        return s + ": " + registersText(d.registers, false);
    return s;
}

} // namespace

std::string functionName(int function) {
    static constexpr int kCatalogueCodes[modbus::kFunctionCount] = {1, 2, 3, 4, 5, 6, 15, 16};
    for (int i = 0; i < modbus::kFunctionCount; ++i) {
        if (kCatalogueCodes[i] != function)
            continue;
        // "FC3  Read multi-registers ( 4xxxx ) for AO" -> "Read multi-registers"
        const std::string& item = modbus::functionItems()[static_cast<std::size_t>(i)];
        const std::size_t from = item.find("  ") + 2;
        return item.substr(from, item.find(" (") - from);
    }
    switch (function) {
    case 7:
        return "Read exception status";
    case 8:
        return "Diagnostics";
    case 17:
        return "Report server ID";
    case 22:
        return "Mask write register";
    case 23:
        return "Read/write multi-registers";
    case 43:
        return "Encapsulated interface";
    }
    return "FC " + std::to_string(function);
}

std::string exceptionName(int code) {
    switch (code) {
    case 0x01:
        return "illegal function";
    case 0x02:
        return "illegal data address";
    case 0x03:
        return "illegal data value";
    case 0x04:
        return "server device failure";
    case 0x05:
        return "acknowledge";
    case 0x06:
        return "server device busy";
    case 0x08:
        return "memory parity error";
    case 0x0A:
        return "gateway path unavailable";
    case 0x0B:
        return "gateway target failed to respond";
    }
    return {};
}

Decoded decodeRtu(std::span<const std::uint8_t> frame, bool request) {
    Decoded d;
    // Modbus RTU frame: station, function code, data, CRC.
    if (!frame.empty())
        d.station = frame[0];
    if (frame.size() >= 2) {
        d.function = frame[1] & 0x7F;
        d.functionName = functionName(d.function);
    }
    if (frame.size() < 4) {
        d.problem = "too short";
        return d;
    }
    // The CRC covers station and PDU and is sent low-order byte first; Calc_CRC16's hi
    // register is that byte.
    const std::size_t n = frame.size();
    const modbus::CrcRegisters crc = modbus::Calc_CRC16(frame.data(), static_cast<int>(n - 2));
    d.crcOk = crc.hi == frame[n - 2] && crc.lo == frame[n - 1];
    if (!d.crcOk)
        d.expectedCrc = std::array<std::uint8_t, 2>{crc.hi, crc.lo};

    const std::span<const std::uint8_t> pdu = frame.subspan(1, n - 3);
    if (pdu[0] & 0x80) {
        if (request) {
            d.problem = "exception bit in a request";
        } else if (fits(d, pdu, 2)) {
            d.kind = FrameKind::Exception;
            d.exceptionCode = pdu[1];
            d.exceptionName = exceptionName(pdu[1]);
        }
    } else if (request ? decodeRequest(d, pdu) : decodeResponse(d, pdu)) {
        d.kind = request ? FrameKind::Request : FrameKind::Response;
    }
    return d;
}

std::string summary(const Decoded& d) {
    if (d.station < 0)
        return "empty";
    std::string s = "st " + std::to_string(d.station);
    // Replies name the code only: the request line above them carries the name.
    if (d.kind == FrameKind::Response)
        s += " FC" + std::to_string(d.function) + " reply";
    else if (d.kind == FrameKind::Exception)
        s += " FC" + std::to_string(d.function) + " exception " + hexByte(*d.exceptionCode);
    else if (d.function >= 0)
        s += ' ' + d.functionName;
    s += ": " + fieldsText(d);
    if (d.crcOk)
        s += " · CRC ok";
    else if (d.expectedCrc)
        s += " · CRC bad, expected " + hexByte((*d.expectedCrc)[0]) + ' ' +
             hexByte((*d.expectedCrc)[1]);
    return s;
}

} // namespace varnok::monitor
