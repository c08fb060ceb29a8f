#include "logic/serial/network_port.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace varnok::serial {

namespace {

struct Scheme {
    std::string_view name;
    NetworkKind kind;
    bool portOptional;
    std::string_view what; // for the help text
};

constexpr std::array<Scheme, 3> kSchemes{
    {{"rfc2217", NetworkKind::Rfc2217, false, "remote serial port (RFC 2217), settings and lines"},
     {"tcp", NetworkKind::RawTcp, false, "raw byte stream; the server sets the line"},
     {"modbus-tcp", NetworkKind::ModbusTcp, true, "Modbus TCP (MBAP header instead of the CRC)"}}};

std::optional<NetworkPort> refuse(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
    return std::nullopt;
}

bool hostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

} // namespace

bool looksLikeNetworkPort(std::string_view text) {
    return text.find("://") != std::string_view::npos;
}

std::optional<NetworkPort> parseNetworkPort(std::string_view text, std::string* why) {
    const std::size_t sep = text.find("://");
    if (sep == std::string_view::npos)
        return refuse(why, "a network port is written scheme://host:port");
    const std::string_view name = text.substr(0, sep);
    const Scheme* scheme = nullptr;
    for (const Scheme& s : kSchemes)
        if (s.name == name)
            scheme = &s;
    if (!scheme)
        return refuse(why, "unknown scheme \"" + std::string(name) +
                               "\": rfc2217://, tcp:// or modbus-tcp://");
    std::string_view rest = text.substr(sep + 3);
    NetworkPort port;
    port.kind = scheme->kind;
    std::string_view portText;
    bool portGiven = false; // a ":" after the host
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return refuse(why, "the IPv6 address lacks its closing \"]\"");
        port.host = std::string(rest.substr(1, close - 1));
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return refuse(why, "after \"]\" comes \":\" and the port");
        if (port.host.empty() ||
            port.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return refuse(why, "\"" + port.host + "\" is no IPv6 address");
        portGiven = !rest.empty();
        if (portGiven)
            portText = rest.substr(1);
    } else {
        const std::size_t colon = rest.rfind(':');
        port.host = std::string(rest.substr(0, colon));
        portGiven = colon != std::string_view::npos;
        if (portGiven)
            portText = rest.substr(colon + 1);
        for (const char c : port.host)
            if (!hostCharacter(c))
                return refuse(why, "the host \"" + port.host +
                                       "\" is no name or address (IPv6 goes in brackets)");
        if (port.host.empty())
            return refuse(why, "the host is missing");
        if (colon == std::string_view::npos && !scheme->portOptional)
            return refuse(why, "the port is missing: " + std::string(name) + "://" + port.host +
                                   ":PORT");
    }
    if (port.host.empty())
        return refuse(why, "the host is missing");
    if (!portGiven) {
        if (!scheme->portOptional)
            return refuse(why, "the port is missing");
        port.port = kModbusTcpPort;
        return port;
    }
    unsigned value = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        value < 1 || value > 65535)
        return refuse(why, "the port \"" + std::string(portText) + "\" is not from 1 to 65535");
    port.port = static_cast<std::uint16_t>(value);
    return port;
}

std::string networkFormsText() {
    std::string text;
    for (const Scheme& s : kSchemes) {
        std::string form =
            std::string(s.name) + (s.portOptional ? "://HOST[:PORT]" : "://HOST:PORT");
        form.resize(std::max<std::size_t>(form.size() + 2, 28), ' ');
        text += "  " + form + std::string(s.what) + "\n";
    }
    text += "  HOST is a name or an address (IPv6 in brackets); PORT is from 1 to 65535,\n";
    text += "  " + std::to_string(kModbusTcpPort) + " for modbus-tcp when left out.\n";
    return text;
}

std::string networkPortText(const NetworkPort& port) {
    std::string text;
    for (const Scheme& s : kSchemes)
        if (s.kind == port.kind)
            text = std::string(s.name) + "://";
    text += port.host.find(':') != std::string::npos ? "[" + port.host + "]" : port.host;
    if (!(port.kind == NetworkKind::ModbusTcp && port.port == kModbusTcpPort))
        text += ":" + std::to_string(port.port);
    return text;
}

} // namespace varnok::serial
