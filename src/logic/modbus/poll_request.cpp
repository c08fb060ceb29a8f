#include "logic/modbus/poll_request.h"

#include <algorithm>
#include <cstdio>

#include "logic/modbus/crc16.h"
#include "logic/monitor/rtu_decoder.h"

namespace varnok::modbus {

namespace {

bool crcOk(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4)
        return false;
    const auto r = Calc_CRC16(frame.data(), static_cast<int>(frame.size() - 2));
    return frame[frame.size() - 2] == r.hi && frame[frame.size() - 1] == r.lo;
}

std::uint16_t word(std::span<const std::uint8_t> f, std::size_t at) {
    return static_cast<std::uint16_t>((f[at] << 8) | f[at + 1]);
}

void putWord(std::vector<std::uint8_t>& f, int v) {
    f.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    f.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

int maxCount(int function) {
    if (readsBits(function))
        return kMaxReadBits;
    if (isReadFunction(function))
        return kMaxReadRegisters;
    if (function == code(Function::WriteMultipleCoils))
        return kMaxWriteBits;
    if (function == code(Function::WriteMultipleRegisters))
        return kMaxWriteRegisters;
    return 1;
}

int valueCount(const PollRequest& r) {
    if (isReadFunction(r.function))
        return r.count;
    return static_cast<int>(writesBits(r.function) ? r.bits.size() : r.registers.size());
}

std::string number(int v) {
    return std::to_string(v);
}

std::string hexByte(std::uint8_t b) {
    char t[8];
    std::snprintf(t, sizeof t, "%02X", b);
    return t;
}

// Printable ASCII as it is, every other byte as \xNN.
std::string shown(std::span<const std::uint8_t> bytes) {
    std::string s;
    for (const std::uint8_t b : bytes)
        s += b >= 0x20 && b < 0x7F ? std::string(1, char(b)) : "\\x" + hexByte(b);
    return s;
}

// The length an identification reply's own bytes give; 0 while more must come to tell.
std::size_t ownLength(std::span<const std::uint8_t> r, int function) {
    if (function == kReportServerId)
        return r.size() >= 3 ? 5 + std::size_t(r[2]) : 0;
    // st 2B 0E code conformity more next count, then id, length, value for each object
    if (r.size() < 8)
        return 0;
    std::size_t at = 8;
    for (int i = 0; i < r[7]; ++i) {
        if (at + 2 > r.size())
            return 0;
        at += 2 + std::size_t(r[at + 1]);
    }
    return at + 2;
}

// 17: the server ID, the run indicator and what follows; 43/14: the objects' values.
ReplyCheck identity(const PollRequest& req, std::span<const std::uint8_t> f) {
    ReplyCheck c;
    c.length = f.size();
    c.status = ReplyStatus::Ok;
    const auto data = f.subspan(3, f.size() - 5);
    if (req.function == kReportServerId) {
        c.identity = data.empty() ? "no server ID" : "server ID " + hexByte(data[0]);
        if (data.size() > 1)
            c.identity += data[1] == 0xFF   ? ", running"
                          : data[1] == 0x00 ? ", stopped"
                                            : ", run indicator " + hexByte(data[1]);
        if (data.size() > 2)
            c.identity += ", " + shown(data.subspan(2));
        return c;
    }
    if (f[2] != 0x0E) {
        c.status = ReplyStatus::WrongEcho;
        c.text = "not a reply to read device identification (MEI type " + number(f[2]) + ")";
        return c;
    }
    for (std::size_t at = 8; at + 2 < f.size() - 1; at += 2 + std::size_t(f[at + 1]))
        c.identity += (c.identity.empty() ? "" : ", ") + shown(f.subspan(at + 2, f[at + 1]));
    return c;
}

// The normal reply's fields against the request; the frame's CRC and length are good.
ReplyCheck checkFields(const PollRequest& req, std::span<const std::uint8_t> f) {
    if (identifies(req.function))
        return identity(req, f);
    ReplyCheck c;
    c.length = f.size();
    if (isReadFunction(req.function)) {
        const std::size_t data = replyLength(req) - 5;
        if (f[2] != data || f.size() != data + 5) {
            c.status = ReplyStatus::WrongByteCount;
            c.text = "byte count " + number(f[2]) + " where the request implies " +
                     number(static_cast<int>(data));
            return c;
        }
        if (readsBits(req.function)) {
            for (int i = 0; i < req.count; ++i)
                c.bits.push_back((f[3 + static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1);
        } else {
            for (int i = 0; i < req.count; ++i)
                c.registers.push_back(word(f, 3 + 2 * static_cast<std::size_t>(i)));
        }
        c.status = ReplyStatus::Ok;
        return c;
    }
    // 05 and 06 echo the request whole; 15 and 16 its address and count.
    const std::vector<std::uint8_t> sent = buildRequest(req);
    if (!std::equal(f.begin(), f.begin() + 6, sent.begin())) {
        c.status = ReplyStatus::WrongEcho;
        c.text = "the reply does not repeat the request's address and value";
        return c;
    }
    c.status = ReplyStatus::Ok;
    return c;
}

} // namespace

bool identifies(int function) {
    return function == kReportServerId || function == kDeviceIdentification;
}

std::string requestProblem(const PollRequest& r) {
    if (r.station < 1 || r.station > 247)
        return "The station must be from 1 to 247; " + number(r.station) + " is not.";
    if (!isReadFunction(r.function) && !isWriteFunction(r.function) && !identifies(r.function))
        return "Function " + number(r.function) + " is not one of 01-06, 15, 16, 17, 43.";
    if (identifies(r.function))
        return {};
    const int count = valueCount(r);
    const int limit = maxCount(r.function);
    const char* what = readsBits(r.function) || writesBits(r.function) ? " bits" : " registers";
    if (count < 1 || count > limit)
        return "The count must be from 1 to " + number(limit) + what + "; " + number(count) +
               " is past the protocol's limit.";
    if (r.address < 0 || r.address > 65535)
        return "Address " + number(r.address) + " is outside 0 to 65535.";
    if (r.address + count - 1 > 65535)
        return "Address " + number(r.address) + " with " + number(count) + what +
               " runs past 65535.";
    return {};
}

std::vector<std::uint8_t> buildRequest(const PollRequest& r) {
    if (const std::string problem = requestProblem(r); !problem.empty())
        throw RequestFailure(problem + " Nothing was sent.");
    if (identifies(r.function)) {
        std::vector<std::uint8_t> f{static_cast<std::uint8_t>(r.station),
                                    static_cast<std::uint8_t>(r.function)};
        if (r.function == kDeviceIdentification)
            f.insert(f.end(), {0x0E, 0x01, 0x00}); // basic objects, from VendorName on
        const auto crc = Calc_CRC16(f.data(), static_cast<int>(f.size()));
        f.push_back(crc.hi);
        f.push_back(crc.lo);
        return f;
    }
    const int count = valueCount(r);

    std::vector<std::uint8_t> f{static_cast<std::uint8_t>(r.station),
                                static_cast<std::uint8_t>(r.function)};
    putWord(f, r.address);
    switch (static_cast<Function>(r.function)) {
    case Function::WriteSingleCoil:
        putWord(f, r.bits[0] ? 0xFF00 : 0x0000);
        break;
    case Function::WriteSingleRegister:
        putWord(f, r.registers[0]);
        break;
    case Function::WriteMultipleCoils:
        putWord(f, count);
        f.push_back(static_cast<std::uint8_t>((count + 7) / 8));
        for (int i = 0; i < count; i += 8) {
            std::uint8_t b = 0;
            for (int k = 0; k < 8 && i + k < count; ++k)
                b |= static_cast<std::uint8_t>(r.bits[static_cast<std::size_t>(i + k)] << k);
            f.push_back(b);
        }
        break;
    case Function::WriteMultipleRegisters:
        putWord(f, count);
        f.push_back(static_cast<std::uint8_t>(2 * count));
        for (const std::uint16_t v : r.registers)
            putWord(f, v);
        break;
    default:
        putWord(f, count);
    }
    const auto crc = Calc_CRC16(f.data(), static_cast<int>(f.size()));
    f.push_back(crc.hi);
    f.push_back(crc.lo);
    return f;
}

std::size_t replyLength(const PollRequest& r) {
    if (identifies(r.function))
        return kMaxAdu;
    if (readsBits(r.function))
        return 5 + static_cast<std::size_t>((r.count + 7) / 8);
    if (isReadFunction(r.function))
        return 5 + 2 * static_cast<std::size_t>(r.count);
    return 8;
}

std::size_t knownReplyLength(const PollRequest& request, std::span<const std::uint8_t> reply) {
    if (reply.size() < 2)
        return 0;
    if (isException(reply[1]))
        return 5;
    if (reply[1] != request.function)
        return 0;
    if (identifies(request.function))
        return ownLength(reply, request.function);
    if (isReadFunction(request.function))
        return reply.size() < 3 ? 0 : 5 + std::size_t(reply[2]);
    return 8;
}

ReplyCheck checkReply(const PollRequest& req, std::span<const std::uint8_t> reply, bool silent) {
    ReplyCheck c;
    const std::size_t expected = replyLength(req);
    const auto judged = [&](std::span<const std::uint8_t> f) {
        if (f[0] != req.station) {
            c.status = ReplyStatus::WrongStation;
            c.length = f.size();
            c.text = "reply from station " + number(f[0]) + ", not " + number(req.station);
        } else if (withoutException(f[1]) != req.function) {
            c.status = ReplyStatus::WrongFunction;
            c.length = f.size();
            c.text = "reply to function " + number(withoutException(f[1])) + ", not " +
                     number(req.function);
        } else if (isException(f[1])) {
            c.status = ReplyStatus::Exception;
            c.length = f.size();
            c.exceptionCode = f[2];
            const std::string name = monitor::exceptionName(f[2]);
            char code[8];
            std::snprintf(code, sizeof code, "%02X", f[2]);
            c.text = "exception " + std::string(code) + (name.empty() ? "" : " " + name);
        } else {
            c = checkFields(req, f);
        }
        return c;
    };
    if (reply.size() >= 5 && isException(reply[1]) && crcOk(reply.first(5)))
        return judged(reply.first(5));
    if (identifies(req.function) && reply.size() >= 2 && reply[1] == req.function) {
        const std::size_t own = ownLength(reply, req.function);
        if (own >= 5 && reply.size() >= own && crcOk(reply.first(own)))
            return judged(reply.first(own));
    }
    if (reply.size() >= expected && crcOk(reply.first(expected)))
        return judged(reply.first(expected));
    // A frame of another length that its own byte count closes with a good CRC.
    if (reply.size() >= 3 && isReadFunction(withoutException(reply[1]))) {
        const std::size_t own = 5 + static_cast<std::size_t>(reply[2]);
        if (reply.size() >= own && crcOk(reply.first(own)))
            return judged(reply.first(own));
    }
    // A frame whole by its own length needs no silence: gaps mean nothing on every line.
    const std::size_t known = knownReplyLength(req, reply);
    const bool whole = known >= 5 && reply.size() >= known;
    if (!silent && !whole)
        return c;
    c.length = whole ? known : reply.size();
    if (!whole && reply.size() < expected) {
        c.status = ReplyStatus::ShortReply;
        c.text = "short reply: " + number(static_cast<int>(reply.size())) + " of " +
                 number(static_cast<int>(expected)) + " bytes";
    } else {
        c.status = ReplyStatus::BadCrc;
        c.text = "bad CRC";
    }
    return c;
}

std::string statusName(ReplyStatus status) {
    switch (status) {
    case ReplyStatus::Incomplete:
        return "incomplete";
    case ReplyStatus::Ok:
        return "ok";
    case ReplyStatus::Exception:
        return "exception";
    case ReplyStatus::WrongStation:
        return "wrong station";
    case ReplyStatus::WrongFunction:
        return "wrong function";
    case ReplyStatus::WrongByteCount:
        return "wrong byte count";
    case ReplyStatus::WrongEcho:
        return "wrong echo";
    case ReplyStatus::ShortReply:
        return "short reply";
    case ReplyStatus::BadCrc:
        return "bad CRC";
    case ReplyStatus::BadHeader:
        return "bad MBAP header";
    }
    return {};
}

} // namespace varnok::modbus
