// A network port as typed ("rfc2217://host:7001"). Input: the text itself. A port that is
// read is written back to a text that reads as the same port.
#include <string>

#include "fuzz_check.h"
#include "logic/serial/network_port.h"

using namespace varnok::serial;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto port = parseNetworkPort(text, &why);
    if (!port) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    FUZZ_CHECK(!port->host.empty() && port->port >= 1);
    const auto again = parseNetworkPort(networkPortText(*port));
    FUZZ_CHECK(again && again->kind == port->kind && again->host == port->host &&
               again->port == port->port);
    return 0;
}
