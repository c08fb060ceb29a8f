#pragma once
// The Telnet byte stream of a remote serial port (RFC 2217, COM-PORT-OPTION): serial data
// separated from Telnet commands chunk by chunk, data and commands written for the wire, the
// client's side of option negotiation, and the server's answers to port commands read leniently
// (servers pack several in one sub-negotiation, answer a baud rate with a one-byte code, answer
// out of order or send noise).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logic/serial/settings_text.h"

namespace varnok::serial::telnet {

// Telnet commands (RFC 854).
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

// Options this client speaks of.
inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSga = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers with the code + 100.
enum ComPortCommand : std::uint8_t {
    kSignature = 0,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowControlSuspend = 8,
    kFlowControlResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values.
enum Control : std::uint8_t {
    kFlowRequest = 0,
    kFlowNone = 1,
    kFlowXonXoff = 2,
    kFlowHardware = 3,
    kBreakRequest = 4,
    kBreakOn = 5,
    kBreakOff = 6,
    kDtrRequest = 7,
    kDtrOn = 8,
    kDtrOff = 9,
    kRtsRequest = 10,
    kRtsOn = 11,
    kRtsOff = 12,
};

// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1;
inline constexpr std::uint8_t kPurgeTransmit = 2;
inline constexpr std::uint8_t kPurgeBoth = 3;

// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t kModemCts = 0x10;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemRi = 0x40;
inline constexpr std::uint8_t kModemDcd = 0x80;

// A Telnet command met in the stream: an option verb (WILL, WONT, DO, DONT) with its option,
// or a sub-negotiation (verb kSb) with its option and body, IAC IAC in it undoubled.
struct Command {
    std::uint8_t verb = 0;
    std::uint8_t option = 0;
    std::string body;
    bool operator==(const Command&) const = default;
};

// Separates serial data from Telnet commands, fed chunk by chunk: a command may be split
// anywhere between two chunks. Other two-byte commands (NOP, GA, ...) are dropped, and a
// sub-negotiation longer than kMaxSubNegotiation is dropped whole while parsing goes on.
class Parser {
  public:
    static constexpr std::size_t kMaxSubNegotiation = 512;

    // Appends the chunk's serial data to `data` and its commands to `commands`, in order.
    void feed(std::string_view chunk, std::string& data, std::vector<Command>& commands);

  private:
    enum class State : std::uint8_t { Data, Iac, Verb, SubOption, Sub, SubIac };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Command sub_;
    bool overlong_ = false;
};

// ---- Writing for the wire
// Serial data with every 0xFF doubled.
std::string escape(std::string_view data);
// IAC verb option.
std::string option(std::uint8_t verb, std::uint8_t opt);
// IAC SB option body IAC SE, 0xFF in the body doubled.
std::string subNegotiation(std::uint8_t opt, std::string_view body);
// One COM-PORT-OPTION command with its value bytes.
std::string comPort(std::uint8_t command, std::string_view value);
std::string setBaudRate(std::uint32_t baud); // 4 bytes, big endian; 0 asks
std::string setDataSize(int bits);
std::string setParity(Parity parity);
std::string setStopSize(StopBits stop);
std::string setControl(std::uint8_t value);
std::string purgeData(std::uint8_t which);
std::string setLineStateMask(std::uint8_t mask);
std::string setModemStateMask(std::uint8_t mask);

// The values as the option codes them (parity 1 none ... 5 space, stop size 1, 2, 3 = 1.5),
// and back (nothing for a code of no known value).
std::uint8_t parityCode(Parity parity);
std::uint8_t stopSizeCode(StopBits stop);
bool parityOfCode(std::uint8_t code, Parity& parity);
bool stopBitsOfCode(std::uint8_t code, StopBits& stop);

// ---- The server's answers to COM-PORT-OPTION commands
struct Reply {
    std::uint8_t command = 0; // the client's code the answer belongs to (kSetBaudRate, ...)
    std::uint32_t value = 0;
    // Answered without a value this client can compare: a one-byte baud code, or 0.
    bool valueUnknown = false;
    std::string text; // a signature
    bool operator==(const Reply&) const = default;
};

// The answers in one COM-PORT-OPTION sub-negotiation body (IAC IAC already undoubled). Bytes
// that are no answer end the reading of that body; what came before them is kept.
std::vector<Reply> readReplies(std::string_view body);

// ---- Option negotiation as the client of a remote serial port: it offers and asks for
// BINARY and SUPPRESS-GO-AHEAD both ways and offers COM-PORT-OPTION; it refuses the server's
// ECHO and everything else. Each answer changes a state, so two sides never loop.
class Negotiator {
  public:
    // The client's offers, sent once the connection is up.
    std::string start();
    // The reply to the server's WILL, WONT, DO or DONT ("" when none is due).
    std::string answer(std::uint8_t verb, std::uint8_t opt);
    // The server agreed to take port commands (DO COM-PORT-OPTION) or refused them.
    bool comPortAgreed() const { return us_[kOptComPort] == State::Yes; }
    bool comPortRefused() const { return comPortRefused_; }

  private:
    enum class State : std::uint8_t { No, Asked, Yes };
    std::array<State, 256> us_{};  // options this side performs
    std::array<State, 256> him_{}; // options the server performs
    bool comPortRefused_ = false;
};

} // namespace varnok::serial::telnet
