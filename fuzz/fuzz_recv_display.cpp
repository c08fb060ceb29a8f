// Received bytes as display text, and the counters of the receive passes.
// Input: display length and chunk length (64-bit), base and show limit (32-bit), a flag byte
// (bit 0: show data), then the received bytes.
#include <algorithm>
#include <climits>
#include <string>

#include "fuzz_check.h"
#include "logic/codec/recv_display.h"
#include "logic/failure.h"

using namespace varnok;
using namespace varnok::codec;

namespace {

bool fitsInt32(std::int64_t v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

void checkDisplay(const std::string& bytes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();

    // Three characters a byte, "HH ", upper case; reading it back gives the bytes.
    const std::string hex = hexDisplay(p, n);
    FUZZ_CHECK(hex.size() == 3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const char hi = hex[3 * i];
        const char lo = hex[3 * i + 1];
        FUZZ_CHECK(hex[3 * i + 2] == ' ');
        FUZZ_CHECK(fuzz::isHexDigit(hi) && !(hi >= 'a' && hi <= 'f'));
        FUZZ_CHECK(fuzz::isHexDigit(lo) && !(lo >= 'a' && lo <= 'f'));
        FUZZ_CHECK(fuzz::hexValue(hi) * 16 + fuzz::hexValue(lo) == p[i]);
    }
}

void checkAutoPass(std::int64_t displayLength, std::int32_t base, bool showData,
                   std::int32_t showLimit) {
    const std::int64_t shown = std::max<std::int64_t>(displayLength, 0);
    const bool fits = fitsInt32(shown) && fitsInt32(shown + base);
    AutoPass a;
    try {
        a = autoReceivePass(displayLength, base, showData, showLimit);
    } catch (const Overflow&) {
        FUZZ_CHECK(!fits);
        return;
    }
    FUZZ_CHECK(fits);
    FUZZ_CHECK(a.recvLength == shown);
    FUZZ_CHECK(a.total == static_cast<std::int64_t>(base) + a.recvLength);
    FUZZ_CHECK(a.clearDisplay == (showData ? a.recvLength > showLimit : a.recvLength > 0));
    // Clearing folds what was shown into the base, so the total never goes back.
    FUZZ_CHECK(a.base == (a.clearDisplay ? a.total : base));
}

void checkManualAppend(std::int64_t displayLength, std::int64_t chunkLength, std::int32_t base) {
    // The counts worked out in 128 bits, where nothing can wrap.
    using Wide = __int128;
    const Wide before = std::max<std::int64_t>(displayLength, 0);
    const Wide chunk = std::max<std::int64_t>(chunkLength, 0);
    const Wide drop = std::max<Wide>(before + chunk - kManualDisplayCap, 0);
    const Wide shown = before + chunk - drop;
    const Wide newBase = base + drop;
    const Wide total = newBase + shown;
    auto fits = [](Wide v) { return v >= INT32_MIN && v <= INT32_MAX; };
    const bool inRange = fits(shown) && fits(newBase) && fits(total);

    ManualAppend m;
    try {
        m = manualReceiveAppend(displayLength, chunkLength, base);
    } catch (const Overflow&) {
        FUZZ_CHECK(!inRange);
        return;
    }
    FUZZ_CHECK(inRange);
    FUZZ_CHECK(m.dropFront == drop);
    FUZZ_CHECK(m.recvLength >= 0 && m.recvLength <= kManualDisplayCap);
    FUZZ_CHECK(m.recvLength == shown);
    FUZZ_CHECK(m.base == newBase);
    // Nothing received is lost from the count, whatever scrolled off the display.
    FUZZ_CHECK(m.total == static_cast<Wide>(m.base) + m.recvLength);
    FUZZ_CHECK(m.total == base + before + chunk);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const auto displayLength = in.take<std::int64_t>();
    const auto chunkLength = in.take<std::int64_t>();
    const auto base = in.take<std::int32_t>();
    const auto showLimit = in.take<std::int32_t>();
    const bool showData = in.take<std::uint8_t>() & 1;
    const std::string bytes = in.rest();

    checkDisplay(bytes);
    checkAutoPass(displayLength, base, showData, showLimit);
    checkAutoPass(static_cast<std::int64_t>(bytes.size()), base, showData, showLimit);
    checkManualAppend(displayLength, chunkLength, base);
    checkManualAppend(displayLength, static_cast<std::int64_t>(bytes.size()), base);
    return 0;
}
