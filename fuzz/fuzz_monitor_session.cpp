// The monitor's session over any traffic: every request ends in one of reply, CRC error and
// timeout, so the counts always add up, and a frame shown plainly is never flagged.
// Listening, frames of either received side and our own are judged alike, and each station's
// replies, timeouts and CRC errors add up to the bus's.
// Input: a byte choosing how frames end (on a line, by Modbus length over the network, as
// Modbus TCP ADUs) and, above that, whether it starts listening; then events, each an opcode byte
// (bits 0-2 what, bits 3-7 the time that passes first as a power of two in µs), then for a frame a
// length byte and its bytes; a frame whose opcode has bit 2 set gets its CRC put right, so that
// valid frames are frequent; a received frame whose opcode has bit 3 set comes from side B.
// Chunks are fed into the same vector of frames each time, as the recorder feeds them.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "logic/modbus/crc16.h"
#include "logic/monitor/monitor_session.h"

using namespace varnok;
using namespace varnok::monitor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    MonitorSession s;
    std::vector<SessionFrame> frames; // fed into again and again: its bytes are reused
    s.setLine({9600, serial::Parity::None, 8, serial::StopBits::One});
    s.setTimeoutUs(100000);
    const auto mode = in.take<std::uint8_t>();
    s.setFraming(static_cast<modbus::Framing>(mode % 3));
    bool listening = (mode / 3) & 1;
    s.setListening(listening);
    std::int64_t t = 0;
    bool decoding = true;
    while (in.size() > 0) {
        const auto op = in.take<std::uint8_t>();
        t += std::int64_t{1} << (op >> 3);
        if ((op & 3) > 1)
            frames.clear();
        switch (op & 3) {
        case 0:
        case 1: {
            const std::string b = in.takeBytes(in.take<std::uint8_t>());
            std::vector<std::uint8_t> bytes(b.begin(), b.end());
            if ((op & 4) && bytes.size() >= 4) {
                const modbus::CrcRegisters crc =
                    modbus::Calc_CRC16(bytes.data(), static_cast<int>(bytes.size() - 2));
                bytes[bytes.size() - 2] = crc.hi;
                bytes[bytes.size() - 1] = crc.lo;
            }
            const Direction side = op & 8 ? Direction::RxB : Direction::Rx;
            s.feed(t, 0, op & 1 ? side : Direction::Tx, bytes, frames);
            break;
        }
        case 2:
            frames = s.advance(t);
            break;
        default:
            if (op & 4)
                frames = s.endLine();
            else if (op & 0x80)
                s.resetStats();
            else if (op & 0x40)
                s.setListening(listening = !listening);
            else
                s.setDecoding(decoding = !decoding);
        }
        for (const SessionFrame& f : frames)
            FUZZ_CHECK(!(f.flagged && f.text() == SessionFrame::kBeforeModbusText));
        const TrafficCounts c = s.counts();
        FUZZ_CHECK(c.waiting <= 1);
        FUZZ_CHECK(c.requests == c.replies + c.crcErrors + c.timeouts + c.waiting);
        std::uint64_t replies = 0, timeouts = 0, crcErrors = 0;
        for (const StationRow& r : s.stations().rows()) {
            replies += r.replies;
            timeouts += r.timeouts;
            crcErrors += r.crcErrors;
        }
        FUZZ_CHECK(replies == c.replies && timeouts == c.timeouts && crcErrors == c.crcErrors);
    }
    return 0;
}
