#pragma once
// Modbus TCP framing: the MBAP header (transaction id, protocol id 0, the length of what
// follows, the unit id) in front of the PDU instead of the RTU station and CRC, and the
// reassembly of a TCP stream into whole ADUs by the header's length field (one read may hold
// several ADUs, one ADU may come over several reads).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace varnok::modbus {

// How a frame's end is found. On a line: by its length, or by the silence after a garbled
// one. Over the network, which moves gaps: an RTU frame by its Modbus length alone, silence
// ending only what has no known length (Stream); a Modbus TCP frame by its header's length
// field, a reply matched to its request by the transaction id (Mbap).
enum class Framing { Line, Stream, Mbap };

} // namespace varnok::modbus

namespace varnok::modbus::mbap {

inline constexpr std::size_t kHeaderBytes = 7; // transaction 2, protocol 2, length 2, unit 1
// The length field counts the unit id and the PDU: 2 (a function code alone) to 254 (a PDU
// of 253 bytes, as on a serial line).
inline constexpr int kMinLength = 2;
inline constexpr int kMaxLength = 254;

// The ADU: header, then the PDU (function code and data).
std::vector<std::uint8_t> buildAdu(std::uint16_t transaction, std::uint8_t unit,
                                   std::span<const std::uint8_t> pdu);

// An RTU frame (station, PDU, CRC) as an ADU: the station becomes the unit id, the CRC is
// left off unchecked. Fewer than 4 bytes give an empty ADU.
std::vector<std::uint8_t> aduFromRtu(std::uint16_t transaction, std::span<const std::uint8_t> rtu);
// An ADU's unit and PDU as an RTU frame with its CRC, for the rules written for RTU replies.
// Fewer than 8 bytes (no function code) give an empty frame.
std::vector<std::uint8_t> rtuFromAdu(std::span<const std::uint8_t> adu);

// The whole ADU's length as its first bytes give it: 6 + the length field; 0 while fewer than
// 6 bytes are there; -1 when the length field is impossible (below 2 or above 254).
std::ptrdiff_t aduLength(std::span<const std::uint8_t> head);

std::uint16_t transactionOf(std::span<const std::uint8_t> adu); // 0 with fewer than 2 bytes

// One piece of the stream.
struct Piece {
    enum class Kind {
        Adu,      // whole by its length field, protocol id 0
        Protocol, // whole by its length field, but the protocol id is not 0
        Garbage,  // bytes dropped to find a header again after an impossible length
    };
    Kind kind = Kind::Adu;
    std::vector<std::uint8_t> bytes;
};

// Fed the stream as it is read; hands out whole ADUs in order. A header with an impossible
// length cannot tell where the next ADU starts: the reassembler then drops one byte at a time
// until the bytes in front read as a possible header (protocol id 0 and a length of 2 to 254)
// or fewer than 6 bytes are left to judge (they wait for the next read), and hands the bytes
// dropped in one read out as one Garbage piece. A protocol id other than 0 with a possible length
// is still framed by that length (and flagged): a peer speaking something else keeps its own
// boundaries.
class Reassembler {
  public:
    void feed(std::span<const std::uint8_t> chunk);
    // Every piece completed so far, oldest first; they leave the reassembler.
    std::vector<Piece> take();
    // Bytes of an ADU not yet whole (or too few to judge).
    std::size_t pending() const { return buffer_.size(); }
    // What the pending ADU's header says it needs in all; 0 while unknown.
    std::size_t wanted() const;
    void clear() {
        buffer_.clear();
        done_.clear();
    }

  private:
    std::vector<std::uint8_t> buffer_;
    std::vector<Piece> done_;
};

} // namespace varnok::modbus::mbap
