#pragma once
// Makes out one Modbus RTU frame: its CRC, station, function and the fields of every public
// function code of the Modbus application protocol (1-8, 11, 12, 15-17, 20-24 and 43/14).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnok::monitor {

enum class FrameKind { Request, Response, Exception, Unknown };

struct Decoded {
    // Fewer than 4 bytes: station, function and CRC cannot all be there, so nothing is known.
    bool tooShort = false;
    bool crcOk = false;
    // The CRC the frame should end with, in wire order; only when it ends with another one.
    std::optional<std::array<std::uint8_t, 2>> expectedCrc;
    int station = -1;
    int function = -1;          // function code without the exception bit
    std::optional<int> meiType; // function 43's sub-code
    bool request = false;
    FrameKind kind = FrameKind::Unknown; // Unknown: malformed or not decoded, see fields
    std::string fields; // what the frame says, or why it cannot be made out (UTF-8)
    std::optional<int> exceptionCode;
    // Modbus TCP: the MBAP header's transaction id, and what is wrong with the header ("" when
    // nothing is; crcOk then stands for a good header).
    std::optional<int> transaction;
    std::string headerFault;
};

// The name of a function code; the eight the terminal builds carry the catalogue's names.
// Empty for a code that is not public.
std::string functionName(int function);

// "illegal data address" for 0x02; empty for a code without a name.
std::string exceptionName(int code);

// A TX frame is decoded as a request, an RX frame as a response.
Decoded decodeRtu(std::span<const std::uint8_t> frame, bool request);

// A Modbus TCP ADU: the header's transaction id, protocol id 0 and length against the bytes
// that follow, then the unit (as the station) and the PDU as decodeRtu reads them.
Decoded decodeMbap(std::span<const std::uint8_t> adu, bool request);

// One line for the table, one scheme for requests and replies, good or malformed:
// "st 1 FC3 request: Read multi-registers, addr 0 (0x0000) qty 1 · CRC ok",
// "st 1 FC3 reply: 1 reg: [0] 0x1234 = 4660 · CRC ok" (UTF-8); on Modbus TCP
// "tid 7 unit 1 FC3 reply: ... · MBAP ok".
std::string summary(const Decoded& d);

} // namespace varnok::monitor
