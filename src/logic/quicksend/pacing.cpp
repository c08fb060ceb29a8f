#include "logic/quicksend/pacing.h"

#include <algorithm>

namespace varnok::quicksend {

std::size_t unitLength(std::span<const std::uint8_t> bytes, std::size_t pos, Pace pace,
                       std::size_t block) {
    if (pos >= bytes.size())
        return 0;
    const std::size_t left = bytes.size() - pos;
    switch (pace) {
    case Pace::PerCharacter:
        return 1;
    case Pace::PerLine:
        for (std::size_t i = pos; i < bytes.size(); ++i) {
            if (bytes[i] == '\n')
                return i - pos + 1;
            if (bytes[i] == '\r')
                return i - pos + (i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1);
        }
        return left;
    case Pace::FullSpeed:
        break;
    }
    return std::min(left, std::max<std::size_t>(block, 1));
}

} // namespace varnok::quicksend
