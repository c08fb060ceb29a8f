#pragma once
// Makes out one Modbus RTU frame: its CRC, station, function and the fields of the eight
// functions the terminal builds (1, 2, 3, 4, 5, 6, 15, 16).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnok::monitor {

enum class FrameKind { Request, Response, Exception, Unknown };

struct Decoded {
    bool crcOk = false;
    // The CRC the frame should end with, in wire order; only when it ends with another one
    // (a frame shorter than 4 bytes has no CRC to check).
    std::optional<std::array<std::uint8_t, 2>> expectedCrc;
    int station = -1;         // -1: empty frame
    int function = -1;        // function code without the exception bit
    std::string functionName; // "FC 65" for a code without a name
    FrameKind kind = FrameKind::Unknown;
    std::string problem; // why the frame is Unknown, e.g. "too short"

    std::optional<std::uint16_t> address;  // start address, or the address written
    std::optional<std::uint16_t> quantity; // coils or registers asked for or written
    std::optional<int> byteCount;
    std::vector<std::uint16_t> registers; // read (3, 4 replies) or to be written (16)
    std::vector<bool> bits;               // read (1, 2 replies) or to be written (15), first first
    std::optional<bool> coilOn;           // FC 5 request and its echo
    std::optional<std::uint16_t> value;   // FC 6 request and its echo
    std::optional<int> exceptionCode;
    std::string exceptionName;
};

// The name of a function code; the eight the terminal builds carry the catalogue's names.
std::string functionName(int function);

// "illegal data address" for 0x02; empty for a code without a name.
std::string exceptionName(int code);

// A TX frame is decoded as a request, an RX frame as a response.
Decoded decodeRtu(std::span<const std::uint8_t> frame, bool request);

// One line for the table, e.g. "st 1 FC3 reply: 1 reg: [0] 0x1234 = 4660 · CRC ok" (UTF-8).
std::string summary(const Decoded& d);

} // namespace varnok::monitor
