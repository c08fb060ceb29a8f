#include "port/link.h"

namespace varnok::serial {

LinkKind linkKindOf(const std::string& path) {
    const auto port = parseNetworkPort(path);
    return port ? linkKindOf(port->kind) : LinkKind::Device;
}

LinkKind linkKindOf(NetworkKind kind) {
    switch (kind) {
    case NetworkKind::Rfc2217:
        return LinkKind::Rfc2217;
    case NetworkKind::RawTcp:
        return LinkKind::RawTcp;
    case NetworkKind::ModbusTcp:
        break;
    }
    return LinkKind::ModbusTcp;
}

const char* linkSettingName(LinkSetting s) {
    switch (s) {
    case LinkSetting::Baud:
        return "baud rate";
    case LinkSetting::DataBits:
        return "data bits";
    case LinkSetting::Parity:
        return "parity";
    case LinkSetting::StopBits:
        return "stop bits";
    case LinkSetting::FlowControl:
        return "flow control";
    case LinkSetting::Dtr:
        return "DTR";
    case LinkSetting::Rts:
        break;
    }
    return "RTS";
}

} // namespace varnok::serial
