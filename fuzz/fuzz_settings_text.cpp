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
        // The message quotes the text as given, a long one cut to its first 57 bytes or fewer
        // (never inside a UTF-8 character) and its length.
        FUZZ_CHECK(f.number() == 380);
        const std::string& d = f.description();
        if (text.size() <= 60) {
            FUZZ_CHECK(d.rfind("Invalid settings \"" + text + "\": ", 0) == 0);
        } else {
            const std::string tail = "...\" (" + std::to_string(text.size()) + " bytes): ";
            const std::size_t cut = d.find(tail);
            FUZZ_CHECK(cut != std::string::npos && cut >= 18 && cut - 18 <= 57);
            FUZZ_CHECK(text.rfind(d.substr(18, cut - 18), 0) == 0);
        }
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
