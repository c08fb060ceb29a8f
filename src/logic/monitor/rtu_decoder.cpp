#include "logic/monitor/rtu_decoder.h"

#include "logic/modbus/catalogue.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/function_code.h"
#include "logic/modbus/mbap.h"
#include "logic/monitor/frame_text.h"

#include <cstdio>
#include <vector>

namespace varnok::monitor {

namespace {

using modbus::Function;
using Pdu = std::span<const std::uint8_t>; // function code and data

// The summary lists this many values of a long read, then how many more there are.
constexpr std::size_t kShownRegisters = 8;
constexpr std::size_t kShownBits = 64;
constexpr int kReadDeviceId = 14; // the MEI type of function 43 that is decoded

// What a PDU says, or why it cannot be made out.
struct Fields {
    std::string text;
    bool ok = true;
};

Fields bad(std::string why) {
    return {std::move(why), false};
}

// Modbus data fields are big-endian; only the CRC goes low byte first.
std::uint16_t word(Pdu pdu, std::size_t at) {
    return static_cast<std::uint16_t>(pdu[at] << 8 | pdu[at + 1]);
}

std::string num(std::size_t n) {
    return std::to_string(n);
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
    return hexWord(v) + " = " + num(v);
}

std::string addressText(std::uint16_t a) {
    return "addr " + num(a) + " (" + hexWord(a) + ")";
}

std::string hexBytes(Pdu bytes) {
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += hexByte(b);
    }
    return s;
}

// Coils and inputs are packed least significant bit first, the first point in bit 0.
std::string bitsText(Pdu packed, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count && i < kShownBits; ++i) {
        if (i && i % 8 == 0)
            s += ' ';
        s += (packed[i / 8] >> (i % 8)) & 1U ? '1' : '0';
    }
    if (count > kShownBits)
        s += " … +" + num(count - kShownBits);
    return s;
}

std::string registersText(Pdu data, bool indexed) {
    std::string s;
    const std::size_t count = data.size() / 2;
    for (std::size_t i = 0; i < count && i < kShownRegisters; ++i) {
        if (i)
            s += ", ";
        if (indexed) {
            s += '[';
            s += num(i);
            s += "] ";
        }
        s += valueText(word(data, 2 * i));
    }
    if (count > kShownRegisters)
        s += ", … +" + num(count - kShownRegisters);
    return s;
}

std::string registersRead(Pdu data) {
    const std::size_t count = data.size() / 2;
    return num(count) + (count == 1 ? " reg: " : " regs: ") + registersText(data, true);
}

// Lengths are told as whole frames (station and CRC included), as the table's column has them.
std::optional<Fields> wrongLength(Pdu pdu, std::size_t want) {
    if (pdu.size() == want)
        return std::nullopt;
    return bad(num(pdu.size() + 3) + " bytes, " + num(want + 3) + " expected for this function");
}

std::optional<Fields> tooFew(Pdu pdu, std::size_t least) {
    if (pdu.size() >= least)
        return std::nullopt;
    return bad(num(pdu.size() + 3) + " bytes, at least " + num(least + 3) +
               " expected for this function");
}

// The byte count at pdu[at] must match what follows it and, when given, what is needed.
std::optional<Fields> countMismatch(Pdu pdu, std::size_t at, std::optional<std::size_t> need) {
    const std::size_t count = pdu[at];
    if (pdu.size() != at + 1 + count)
        return bad("byte count " + num(count) + " but " + num(pdu.size() - at - 1) + " data bytes");
    if (need && count != *need)
        return bad("byte count " + num(count) + ", " + num(*need) + " expected");
    return std::nullopt;
}

// A byte count right after the function code, and as many bytes after it.
std::optional<Fields> countedBadly(Pdu pdu) {
    if (auto e = tooFew(pdu, 2))
        return e;
    return countMismatch(pdu, 1, std::nullopt);
}

Fields coil(Pdu p) {
    if (auto e = wrongLength(p, 5))
        return *e;
    const std::uint16_t v = word(p, 3);
    if (v != 0xFF00 && v != 0x0000)
        return bad(addressText(word(p, 1)) + ": coil value must be FF00 or 0000");
    return {addressText(word(p, 1)) + (v ? " ON" : " OFF")};
}

Fields diagnostics(Pdu p, bool request) {
    if (auto e = tooFew(p, 3))
        return *e;
    const std::uint16_t sub = word(p, 1);
    const std::string data = hexBytes(p.subspan(3));
    if (sub == 0) // return query data: the reply echoes the request
        return {std::string("sub-function 0 ") + (request ? "return query data" : "echo") +
                (data.empty() ? "" : ": " + data)};
    return {"sub-function " + num(sub) + (data.empty() ? "" : ", data " + data)};
}

Fields writeMultiple(Function function, Pdu p) {
    if (auto e = tooFew(p, 6))
        return *e;
    const std::uint16_t qty = word(p, 3);
    const std::size_t need = function == Function::WriteMultipleCoils ? (qty + 7u) / 8u : qty * 2u;
    if (auto e = countMismatch(p, 5, need))
        return *e;
    const std::string head = addressText(word(p, 1)) + " qty " + num(qty) + ": ";
    return {head + (function == Function::WriteMultipleCoils ? bitsText(p.subspan(6), qty)
                                                             : registersText(p.subspan(6), false))};
}

// Sub-requests of 7 bytes: reference type 6, file, record, record length in words.
Fields fileRead(Pdu p) {
    if (auto e = countedBadly(p))
        return *e;
    if (p[1] % 7 || p[1] == 0)
        return bad("byte count " + num(p[1]) + " is no whole number of 7-byte sub-requests");
    std::string s;
    for (std::size_t at = 2; at < p.size(); at += 7)
        s += (s.empty() ? "" : ", ") + std::string("file ") + num(word(p, at + 1)) + " record " +
             num(word(p, at + 3)) + " len " + num(word(p, at + 5));
    return {s};
}

// The same sub-requests with their data; the reply echoes the request.
Fields fileWrite(Pdu p) {
    if (auto e = countedBadly(p))
        return *e;
    std::string s;
    for (std::size_t at = 2; at < p.size();) {
        if (p.size() - at < 7 || p.size() - at < 7u + 2u * word(p, at + 5))
            return bad("sub-request at byte " + num(at + 1) + " runs past the frame");
        s += (s.empty() ? "" : ", ") + std::string("file ") + num(word(p, at + 1)) + " record " +
             num(word(p, at + 3)) + ": " +
             registersText(p.subspan(at + 7, 2u * word(p, at + 5)), false);
        at += 7u + 2u * word(p, at + 5);
    }
    return s.empty() ? bad("no sub-request") : Fields{s};
}

// Sub-responses: their length, reference type 6, the record's words.
Fields fileReadReply(Pdu p) {
    if (auto e = countedBadly(p))
        return *e;
    std::string s;
    for (std::size_t at = 2; at < p.size(); at += 1u + p[at]) {
        if (p[at] < 1 || p[at] % 2 == 0 || at + 1u + p[at] > p.size())
            return bad("sub-response at byte " + num(at + 1) + " has a wrong length");
        s += (s.empty() ? "" : ", ") + std::string("record: ") +
             registersText(p.subspan(at + 2, p[at] - 1u), false);
    }
    return s.empty() ? bad("no sub-response") : Fields{s};
}

std::string deviceIdCode(int code) {
    static const char* const kNames[] = {"basic", "regular", "extended", "one object"};
    return code >= 1 && code <= 4 ? kNames[code - 1] : "code " + num(code);
}

Fields readDeviceId(Pdu p, bool request) {
    if (request) {
        if (auto e = wrongLength(p, 4))
            return *e;
        return {deviceIdCode(p[2]) + ", from object " + num(p[3])};
    }
    if (auto e = tooFew(p, 7))
        return *e;
    std::string s = deviceIdCode(p[2]) + ", conformity " + hexByte(p[3]) +
                    (p[4] ? ", more follows from object " + num(p[5]) : "") + ", " + num(p[6]) +
                    (p[6] == 1 ? " object" : " objects");
    std::size_t at = 7;
    for (int i = 0; i < p[6]; ++i) {
        if (at + 2 > p.size() || at + 2 + p[at + 1] > p.size())
            return bad("object " + num(std::size_t(i)) + " runs past the frame");
        s += std::string(i ? ", " : ": ") + num(p[at]) + " \"" +
             dottedText(p.subspan(at + 2, p[at + 1])) + '"';
        at += 2u + p[at + 1];
    }
    return at == p.size() ? Fields{s} : bad(num(p.size() - at) + " bytes after the last object");
}

Fields encapsulated(Pdu p, bool request) {
    if (auto e = tooFew(p, 2))
        return *e;
    if (p[1] != kReadDeviceId)
        return bad("MEI type " + num(p[1]) + " not decoded");
    return readDeviceId(p, request);
}

Fields decodeRequest(Function function, Pdu p) {
    switch (function) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        if (auto e = wrongLength(p, 5))
            return *e;
        return {addressText(word(p, 1)) + " qty " + num(word(p, 3))};
    case Function::WriteSingleCoil:
        return coil(p);
    case Function::WriteSingleRegister:
        if (auto e = wrongLength(p, 5))
            return *e;
        return {addressText(word(p, 1)) + " = " + valueText(word(p, 3))};
    case Function::ReadExceptionStatus:
    case Function::GetCommEventCounter:
    case Function::GetCommEventLog:
    case Function::ReportServerId:
        if (auto e = wrongLength(p, 1))
            return *e;
        return {};
    case Function::Diagnostics:
        return diagnostics(p, true);
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        return writeMultiple(function, p);
    case Function::ReadFileRecord:
        return fileRead(p);
    case Function::WriteFileRecord:
        return fileWrite(p);
    case Function::MaskWriteRegister:
        if (auto e = wrongLength(p, 7))
            return *e;
        return {addressText(word(p, 1)) + " and " + hexWord(word(p, 3)) + " or " +
                hexWord(word(p, 5))};
    case Function::ReadWriteMultipleRegisters: {
        if (auto e = tooFew(p, 10))
            return *e;
        if (auto e = countMismatch(p, 9, word(p, 7) * 2u))
            return *e;
        return {"read " + addressText(word(p, 1)) + " qty " + num(word(p, 3)) + ", write " +
                addressText(word(p, 5)) + " qty " + num(word(p, 7)) + ": " +
                registersText(p.subspan(10), false)};
    }
    case Function::ReadFifoQueue:
        if (auto e = wrongLength(p, 3))
            return *e;
        return {"FIFO " + addressText(word(p, 1))};
    case Function::EncapsulatedInterface:
        return encapsulated(p, true);
    default:
        break;
    }
    return bad("function not decoded");
}

Fields decodeResponse(Function function, Pdu p) {
    switch (function) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
    case Function::ReadWriteMultipleRegisters:
    case Function::ReportServerId:
    case Function::GetCommEventLog: {
        // The count is whatever the reply says: the request's quantity is not at hand here.
        if (auto e = countedBadly(p))
            return *e;
        const Pdu data = p.subspan(2);
        if (modbus::readsBits(modbus::code(function)))
            return {num(data.size() * 8) + " bits: " + bitsText(data, data.size() * 8)};
        // 17: server id and run indicator, then what the device adds.
        if (function == Function::ReportServerId)
            return data.size() < 2
                       ? bad("byte count " + num(p[1]) + ", at least 2 expected")
                       : Fields{
                             "server id " + hexByte(data[0]) + ", run indicator " +
                             (data[1] ? "ON" : "OFF") +
                             (data.size() > 2 ? ", \"" + dottedText(data.subspan(2)) + '"' : "")};
        if (function == Function::GetCommEventLog)
            return data.size() < 6
                       ? bad("byte count " + num(p[1]) + ", at least 6 expected")
                       : Fields{"status " + hexWord(word(data, 0)) + ", event count " +
                                num(word(data, 2)) + ", message count " + num(word(data, 4)) +
                                ", " + num(data.size() - 6) + " events"};
        if (p[1] % 2)
            return bad("odd byte count " + num(p[1]));
        return {registersRead(data)};
    }
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
    case Function::WriteFileRecord:
    case Function::MaskWriteRegister:
        return decodeRequest(function, p); // the reply echoes the request
    case Function::ReadExceptionStatus:
        if (auto e = wrongLength(p, 2))
            return *e;
        return {"status " + hexByte(p[1]) + " = " + bitsText(p.subspan(1), 8)};
    case Function::Diagnostics:
        return diagnostics(p, false);
    case Function::GetCommEventCounter:
        if (auto e = wrongLength(p, 5))
            return *e;
        return {"status " + hexWord(word(p, 1)) + ", event count " + num(word(p, 3))};
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        if (auto e = wrongLength(p, 5))
            return *e;
        return {addressText(word(p, 1)) + " qty " + num(word(p, 3)) + " written"};
    case Function::ReadFileRecord:
        return fileReadReply(p);
    case Function::ReadFifoQueue: {
        if (auto e = tooFew(p, 5))
            return *e;
        if (word(p, 1) != p.size() - 3 || word(p, 3) * 2u + 2u != p.size() - 3)
            return bad("byte count " + num(word(p, 1)) + ", FIFO count " + num(word(p, 3)) +
                       " but " + num(p.size() - 3) + " bytes follow");
        return {"FIFO " + registersRead(p.subspan(5))};
    }
    case Function::EncapsulatedInterface:
        return encapsulated(p, false);
    default:
        break;
    }
    return bad("function not decoded");
}

} // namespace

std::string functionName(int function) {
    static constexpr Function kCatalogueCodes[modbus::kFunctionCount] = {
        Function::ReadCoils,
        Function::ReadDiscreteInputs,
        Function::ReadHoldingRegisters,
        Function::ReadInputRegisters,
        Function::WriteSingleCoil,
        Function::WriteSingleRegister,
        Function::WriteMultipleCoils,
        Function::WriteMultipleRegisters};
    for (int i = 0; i < modbus::kFunctionCount; ++i) {
        if (modbus::code(kCatalogueCodes[i]) != function)
            continue;
        // "FC3  Read multi-registers ( 4xxxx ) for AO" -> "Read multi-registers"
        const std::string& item = modbus::functionItems()[static_cast<std::size_t>(i)];
        const std::size_t from = item.find("  ") + 2;
        return item.substr(from, item.find(" (") - from);
    }
    switch (function) {
    case modbus::code(Function::ReadExceptionStatus):
        return "Read exception status";
    case modbus::code(Function::Diagnostics):
        return "Diagnostics";
    case modbus::code(Function::GetCommEventCounter):
        return "Get comm event counter";
    case modbus::code(Function::GetCommEventLog):
        return "Get comm event log";
    case modbus::code(Function::ReportServerId):
        return "Report server ID";
    case modbus::code(Function::ReadFileRecord):
        return "Read file record";
    case modbus::code(Function::WriteFileRecord):
        return "Write file record";
    case modbus::code(Function::MaskWriteRegister):
        return "Mask write register";
    case modbus::code(Function::ReadWriteMultipleRegisters):
        return "Read/write multi-registers";
    case modbus::code(Function::ReadFifoQueue):
        return "Read FIFO queue";
    case modbus::code(Function::EncapsulatedInterface):
        return "Read device identification"; // the one MEI type decoded
    }
    return {};
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
        return "gateway target device failed to respond";
    }
    return {};
}

Decoded decodeRtu(std::span<const std::uint8_t> frame, bool request) {
    Decoded d;
    d.request = request;
    // Modbus RTU frame: station, function code, data, CRC.
    if (frame.size() < 4) {
        d.tooShort = true;
        return d;
    }
    d.station = frame[0];
    d.function = modbus::withoutException(frame[1]);
    // The CRC covers station and PDU and is sent low-order byte first; Calc_CRC16's hi
    // register is that byte.
    const std::size_t n = frame.size();
    const modbus::CrcRegisters crc = modbus::Calc_CRC16(frame.data(), static_cast<int>(n - 2));
    d.crcOk = crc.hi == frame[n - 2] && crc.lo == frame[n - 1];
    if (!d.crcOk)
        d.expectedCrc = std::array<std::uint8_t, 2>{crc.hi, crc.lo};

    const Pdu pdu = frame.subspan(1, n - 3);
    const auto function = static_cast<Function>(d.function);
    if (function == Function::EncapsulatedInterface && pdu.size() >= 2)
        d.meiType = pdu[1];
    Fields fields;
    if (!modbus::isException(pdu[0])) {
        fields = request ? decodeRequest(function, pdu) : decodeResponse(function, pdu);
    } else if (request) {
        fields = bad("exception bit in a request");
    } else if (auto e = wrongLength(pdu, 2)) {
        fields = *e;
    } else {
        d.kind = FrameKind::Exception;
        d.exceptionCode = pdu[1];
        const std::string name = exceptionName(pdu[1]);
        fields.text = name.empty() ? "unknown exception" : name;
    }
    if (fields.ok && d.kind == FrameKind::Unknown)
        d.kind = request ? FrameKind::Request : FrameKind::Response;
    d.fields = std::move(fields.text);
    return d;
}

Decoded decodeMbap(std::span<const std::uint8_t> adu, bool request) {
    if (adu.size() < modbus::mbap::kHeaderBytes + 1) {
        Decoded d;
        d.request = request;
        d.tooShort = true;
        d.transaction = -1;
        return d;
    }
    Decoded d = decodeRtu(modbus::mbap::rtuFromAdu(adu), request);
    d.transaction = word(adu, 0);
    d.expectedCrc.reset();
    const std::uint16_t protocol = word(adu, 2);
    const std::size_t length = word(adu, 4);
    if (protocol != 0)
        d.headerFault = "protocol id " + num(protocol) + ", not 0";
    else if (length != adu.size() - 6)
        d.headerFault = "length " + num(length) + " but " + num(adu.size() - 6) + " bytes follow";
    d.crcOk = d.headerFault.empty();
    return d;
}

std::string summary(const Decoded& d) {
    if (d.tooShort)
        return d.transaction ? "too short for a Modbus TCP frame"
                             : "too short for a Modbus RTU frame";
    std::string s =
        d.transaction ? "tid " + num(std::size_t(*d.transaction)) + " unit " : std::string("st ");
    s += num(std::size_t(d.station)) + " FC" + num(std::size_t(d.function));
    if (d.meiType)
        s += "/" + num(std::size_t(*d.meiType));
    if (d.request) {
        // Requests carry the function's name, replies only its code: the request is above.
        const std::string name = d.meiType && *d.meiType != kReadDeviceId
                                     ? "Encapsulated interface transport"
                                     : functionName(d.function);
        s += " request: " + name + (name.empty() || d.fields.empty() ? "" : ", ") + d.fields;
    } else if (d.kind == FrameKind::Exception) {
        s += " exception " + hexByte(*d.exceptionCode) + ": " + d.fields;
    } else {
        s += " reply: " + d.fields;
    }
    if (d.transaction)
        s += d.headerFault.empty() ? " · MBAP ok" : " · MBAP bad: " + d.headerFault;
    else if (d.crcOk)
        s += " · CRC ok";
    else
        s += " · CRC bad, expected " + hexByte((*d.expectedCrc)[0]) + ' ' +
             hexByte((*d.expectedCrc)[1]);
    return s;
}

} // namespace varnok::monitor
