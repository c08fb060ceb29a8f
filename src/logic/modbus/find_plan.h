#pragma once
// Finding a device whose settings are unknown: the order settings and stations are tried in,
// how long each probe waits, how long the sweep will take, and what stray bytes say.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "logic/modbus/poll_request.h"
#include "logic/serial/settings_text.h"

namespace varnok::modbus {

// The baud list of the main window, in its order.
inline constexpr int kFindBauds[] = {300,   600,   2400,   4800,   9600,   19200,
                                     38400, 57600, 115200, 230400, 460800, 921600};
// An adapter's latency on top of the line time (a USB adapter holds input for a few ms).
inline constexpr int kDefaultAllowanceMs = 8;
// The network's round trip on top of that when the port is over the network.
inline constexpr int kNetworkAllowanceMs = 50;
// What a change of the line settings between two probes costs, for the estimate.
inline constexpr double kChangeMs = 1.0;

// The framings offered: 8E1, 8N2, 8N1, 8O1, then with `sevenBit` 7E1, 7O1, 7N2. The baud
// of each is left at 0.
std::vector<serial::LineSettings> framings(bool sevenBit);
// "8E1", "7N2", ...; with the baud in front: "9600 8E1".
using serial::framingName;
std::string settingName(const serial::LineSettings& line);

// Every ticked baud with every ticked framing, the most likely first: 19200 8E1 (the
// standard's default), 9600 8N1, 9600 8E1, 115200 8N1 (what devices often ship with), then
// the rest by baud as listed and framing as given. Bauds are taken as given, framings' baud
// is ignored; a setting comes once.
std::vector<serial::LineSettings> sweepOrder(const std::vector<int>& bauds,
                                             const std::vector<serial::LineSettings>& framings);

// The settings not yet tried, those nearest to `around` first (same baud, then the bauds
// next to it in the list), otherwise in the order given: where bytes came garbled.
std::vector<serial::LineSettings> neighboursFirst(std::vector<serial::LineSettings> rest,
                                                  const serial::LineSettings& around);

// Milliseconds `bytes` characters take on the line.
double lineMs(const serial::LineSettings& line, double bytes);
// The longest reply the probe may get: its normal reply, at least an exception's 5 bytes.
std::size_t longestReply(const PollRequest& probe);
// The reply timeout from the baud: the request's and the longest reply's time on the line,
// 3.5 characters of silence and the adapter's allowance, in whole ms rounded up.
int autoTimeoutMs(const serial::LineSettings& line, const PollRequest& probe, int allowanceMs);

// The stations a sweep probes, in order: first to last; on Modbus TCP then the unit ids a
// gateway or a device of its own may answer to besides (0, the broadcast, and 255).
std::vector<int> sweepStations(int first, int last, bool modbusTcp);

// The time a sweep takes when nobody answers: every station at every setting waits its
// setting's timeout, and each setting costs a change.
double sweepMs(const std::vector<int>& timeoutMsPerSetting, int stations);
// The time left, corrected as it goes by how the probes so far compare with their plan.
double timeLeftMs(double plannedLeftMs, double plannedDoneMs, double actualDoneMs);

// Where a frame with a good CRC starts and how long it is.
struct FrameSpan {
    std::size_t start = 0, length = 0;
    bool operator==(const FrameSpan&) const = default;
};
// The frames in a stream of bytes, taken greedily from the front: a station 0-247, a
// function code Modbus defines (or its exception), at least 4 bytes and a good CRC.
// Bytes between frames are skipped.
std::vector<FrameSpan> framesIn(std::span<const std::uint8_t> bytes);

enum class Heard { Nothing, Frame, Garbled };
// What bytes at one setting say: a frame (the setting is right and someone is there), bytes
// that form none (a device at another setting, or the wrong framing), or nothing at all.
Heard heard(std::span<const std::uint8_t> bytes);
// "something answered garbled at 9600 8N1"
std::string garbledHint(const serial::LineSettings& line);

} // namespace varnok::modbus
