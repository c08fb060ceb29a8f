#pragma once
// A port over the network, as the user names it where a device path goes:
// "rfc2217://HOST:PORT" (a remote serial port with its line settings and modem lines),
// "tcp://HOST:PORT" (a raw byte stream) and "modbus-tcp://HOST[:PORT]" (Modbus TCP, port 502
// by default). HOST is a name, an IPv4 address or an IPv6 address in brackets.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnok::serial {

enum class NetworkKind { Rfc2217, RawTcp, ModbusTcp };

struct NetworkPort {
    NetworkKind kind = NetworkKind::RawTcp;
    std::string host; // without brackets
    std::uint16_t port = 0;
};

inline constexpr std::uint16_t kModbusTcpPort = 502;

// True for a text written as a network port ("scheme://..."); a device path never is.
bool looksLikeNetworkPort(std::string_view text);

// The port, or nullopt with `why` naming what is wrong: an unknown scheme, no host, a port
// missing or outside 1-65535, an IPv6 address without its closing bracket.
std::optional<NetworkPort> parseNetworkPort(std::string_view text, std::string* why = nullptr);

// The forms, one line each with what it carries, for the help text.
std::string networkFormsText();

// The text it is written as again ("[::1]" for IPv6, the default port left out).
std::string networkPortText(const NetworkPort& port);

} // namespace varnok::serial
