// The port's settings text ("115200,n,8,1"). Input: the text itself.
#include <string>

#include "fuzz_check.h"
#include "logic/serial/settings_text.h"

using namespace varnok::serial;

namespace {

std::string format(const LineSettings& s) {
    static constexpr const char* kParity[] = {"n", "e", "o", "m", "s"};
    static constexpr const char* kStop[] = {"1", "1.5", "2"};
    return std::to_string(s.baud) + ',' + kParity[static_cast<int>(s.parity)] + ',' +
           std::to_string(s.dataBits) + ',' + kStop[static_cast<int>(s.stopBits)];
}

bool same(const LineSettings& a, const LineSettings& b) {
    return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits &&
           a.stopBits == b.stopBits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LineSettings s;
    try {
        s = parseSettings(text);
    } catch (const SettingsFailure& f) {
        // The message quotes the text as given.
        FUZZ_CHECK(f.number() == 380);
        FUZZ_CHECK(f.description().rfind("Invalid settings \"" + text + "\": ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(s.baud > 0);
    FUZZ_CHECK(s.dataBits >= 5 && s.dataBits <= 8);
    FUZZ_CHECK(static_cast<int>(s.parity) >= 0 && static_cast<int>(s.parity) <= 4);
    FUZZ_CHECK(static_cast<int>(s.stopBits) >= 0 && static_cast<int>(s.stopBits) <= 2);

    // An accepted text written back in its plain form parses to the same settings.
    const std::string plain = format(s);
    const LineSettings again = parseSettings(plain);
    FUZZ_CHECK(same(s, again));
    FUZZ_CHECK(format(again) == plain);
    return 0;
}
