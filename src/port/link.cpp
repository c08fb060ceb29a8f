#include "port/link.h"

namespace varnok::serial {

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
