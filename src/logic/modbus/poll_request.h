#pragma once
// The requests a poll master sends (functions 01-06, 15, 16), the probes of a device finder
// (17 report server ID, 43/14 read device identification) and the check of their replies.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "logic/failure.h"
#include "logic/modbus/function_code.h"

namespace varnok::modbus {

inline constexpr int kMaxReadBits = 2000;      // 01, 02
inline constexpr int kMaxReadRegisters = 125;  // 03, 04
inline constexpr int kMaxWriteBits = 1968;     // 15
inline constexpr int kMaxWriteRegisters = 123; // 16
inline constexpr std::size_t kMaxAdu = 256;    // the longest RTU frame
inline constexpr int kReportServerId = code(Function::ReportServerId);
// With MEI type 14, basic objects.
inline constexpr int kDeviceIdentification = code(Function::EncapsulatedInterface);

struct PollRequest {
    int station = 1;
    int function = code(Function::ReadHoldingRegisters);
    int address = 0;                      // 0-based, as on the wire
    int count = 1;                        // reads; for writes the number of values given below
    std::vector<std::uint16_t> registers; // 06 (one), 16
    std::vector<bool> bits;               // 05 (one), 15
};

// A request that cannot be sent; the description says which field and why.
class RequestFailure : public Failure {
  public:
    explicit RequestFailure(std::string description) : Failure(380, std::move(description)) {}
};

// 17 and 43/14: replies whose length only their own bytes tell.
bool identifies(int function);

// Why the request cannot be sent, one sentence naming the field; "" when it can. The start
// address is checked before the range it runs to.
std::string requestProblem(const PollRequest& request);

// The frame with its CRC. Throws RequestFailure for a station outside 1-247, a function
// not listed above, a count outside its limit or an address or address range past 65535,
// with requestProblem's sentence and "Nothing was sent.". 17 and 43 take only the station
// (43 asks for the basic objects from object 0).
std::vector<std::uint8_t> buildRequest(const PollRequest& request);

// The length of a full normal reply to this request; for 17 and 43 the longest it may be.
std::size_t replyLength(const PollRequest& request);

// The length the reply takes by its own bytes so far: an exception's 5, a read's byte count
// plus 5, a write's echo of 8, the length 17 and 43/14 give themselves; 0 while unknown.
std::size_t knownReplyLength(const PollRequest& request, std::span<const std::uint8_t> reply);

enum class ReplyStatus {
    Incomplete, // wait for more (or for the silence that ends a garbled reply)
    Ok,
    Exception, // a well-formed exception reply
    WrongStation,
    WrongFunction,
    WrongByteCount,
    WrongEcho, // a write reply that does not repeat the request
    ShortReply,
    BadCrc,
    BadHeader, // Modbus TCP: a protocol id other than 0, or an impossible length
};

struct ReplyCheck {
    ReplyStatus status = ReplyStatus::Incomplete;
    std::size_t length = 0; // bytes the complete reply took
    int exceptionCode = 0;
    std::vector<std::uint16_t> registers; // 03, 04
    std::vector<bool> bits;               // 01, 02: `count` of them
    std::string identity;                 // 17, 43: what the device says of itself
    std::string text;                     // what went wrong, for the status line
};

// The reply so far. It is complete once the length the request implies has arrived with a
// good CRC, or an exception's five bytes, or a frame of another length whose own byte count
// it ends with a good CRC; bytes after that are not looked at. A frame whole by
// knownReplyLength with a bad CRC ends at once as BadCrc. With `silent` (the line has been
// quiet for the frame gap) nothing more will come: what is there is judged as it is.
ReplyCheck checkReply(const PollRequest& request, std::span<const std::uint8_t> reply, bool silent);

// "ok", "timeout", "exception 02 illegal data address", ... for the status of a poll.
std::string statusName(ReplyStatus status);

} // namespace varnok::modbus
