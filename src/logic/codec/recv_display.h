#pragma once
// Received bytes as display text, and the counters of a receive pass.
#include <cstddef>
#include <cstdint>
#include <string>

namespace varnok::codec {

// Each byte as two upper-case hex digits and one blank: 01 0A FF -> "01 0A FF ".
std::string hexDisplay(const std::uint8_t* data, std::size_t size);
// The characters `size` bytes take on the receive display: one each as text, three in hex.
constexpr std::int64_t displayLength(std::int64_t size, bool hex) {
    return hex ? 3 * size : size;
}

struct AutoPass {
    std::int32_t recvLength = 0; // Recv_Length after the pass
    std::int32_t total = 0;      // txt_TotalRecvLen after the pass
    bool clearDisplay = false;   // the display is emptied
    std::int32_t base = 0;       // Recv_Total_Base after the pass
};

// The counters and clearing rule of one auto receive pass, given the display length after the
// append. Throws varnok::Overflow when the total passes the largest signed 32-bit value.
AutoPass autoReceivePass(std::int64_t displayLength, std::int32_t base, bool showData,
                         std::int32_t showLimit);

// Manual receive keeps at most this many characters on display.
inline constexpr std::int64_t kManualDisplayCap = 1048576;

struct ManualAppend {
    std::int64_t dropFront = 0;  // characters to drop from the front of the display
    std::int32_t recvLength = 0; // Recv_Length after the read
    std::int32_t total = 0;      // txt_TotalRecvLen after the read
    std::int32_t base = 0;       // Recv_Total_Base: dropped characters fold in here
};

// A manual read of chunkLength characters onto a display of displayLength characters.
// Throws varnok::Overflow when the total passes the largest signed 32-bit value.
ManualAppend manualReceiveAppend(std::int64_t displayLength, std::int64_t chunkLength,
                                 std::int32_t base);

} // namespace varnok::codec
