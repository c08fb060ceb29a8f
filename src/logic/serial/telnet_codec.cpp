#include "logic/serial/telnet_codec.h"

#include <utility>

namespace varnok::serial::telnet {

namespace {

bool isVerb(std::uint8_t c) {
    return c >= kWill && c <= kDont;
}

// A code a server answers with (SIGNATURE + 100 to PURGE-DATA + 100).
bool isServerCode(std::uint8_t c) {
    return c >= kServerOffset + kSignature && c <= kServerOffset + kPurgeData;
}

std::string oneByte(std::uint8_t command, std::uint8_t value) {
    return comPort(command, std::string(1, static_cast<char>(value)));
}

} // namespace

void Parser::feed(std::string_view chunk, std::string& data, std::vector<Command>& commands) {
    std::size_t i = 0;
    while (i < chunk.size()) {
        const auto c = static_cast<std::uint8_t>(chunk[i]);
        switch (state_) {
        case State::Data: {
            // Runs of plain data are copied at once: most of the stream is data.
            const std::size_t iac = chunk.find(static_cast<char>(kIac), i);
            const std::size_t end = iac == std::string_view::npos ? chunk.size() : iac;
            data.append(chunk.substr(i, end - i));
            i = end;
            if (iac != std::string_view::npos) {
                state_ = State::Iac;
                ++i;
            }
            continue;
        }
        case State::Iac:
            if (c == kIac)
                data.push_back(static_cast<char>(kIac));
            if (isVerb(c)) {
                verb_ = c;
                state_ = State::Verb;
            } else {
                state_ = c == kSb ? State::SubOption : State::Data; // NOP, GA, ... dropped
            }
            break;
        case State::Verb:
            commands.push_back({verb_, c, {}});
            state_ = State::Data;
            break;
        case State::SubOption:
            sub_ = {kSb, c, {}};
            overlong_ = false;
            state_ = State::Sub;
            break;
        case State::Sub:
        case State::SubIac:
            if (state_ == State::Sub && c == kIac) {
                state_ = State::SubIac;
                break;
            }
            if (state_ == State::SubIac && c == kSe) {
                if (!overlong_)
                    commands.push_back(std::move(sub_));
                sub_ = {};
                state_ = State::Data;
                break;
            }
            if (state_ == State::SubIac && c != kIac) {
                // IAC and a command inside a sub-negotiation: it never ended; the command counts.
                sub_ = {};
                state_ = State::Iac;
                continue; // the same byte again, as the command after IAC
            }
            if (sub_.body.size() < kMaxSubNegotiation)
                sub_.body.push_back(static_cast<char>(c));
            else
                overlong_ = true;
            state_ = State::Sub;
            break;
        }
        ++i;
    }
}

std::string escape(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    std::size_t i = 0;
    while (i < data.size()) {
        const std::size_t iac = data.find(static_cast<char>(kIac), i);
        if (iac == std::string_view::npos) {
            out.append(data.substr(i));
            break;
        }
        out.append(data.substr(i, iac + 1 - i));
        out.push_back(static_cast<char>(kIac));
        i = iac + 1;
    }
    return out;
}

std::string option(std::uint8_t verb, std::uint8_t opt) {
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(opt)};
}

std::string subNegotiation(std::uint8_t opt, std::string_view body) {
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(opt)};
    out += escape(body);
    out += static_cast<char>(kIac);
    out += static_cast<char>(kSe);
    return out;
}

std::string comPort(std::uint8_t command, std::string_view value) {
    std::string body(1, static_cast<char>(command));
    body.append(value);
    return subNegotiation(kOptComPort, body);
}

std::string setBaudRate(std::uint32_t baud) {
    const std::string value{static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                            static_cast<char>(baud >> 8), static_cast<char>(baud)};
    return comPort(kSetBaudRate, value);
}

std::string setDataSize(int bits) {
    return oneByte(kSetDataSize, static_cast<std::uint8_t>(bits));
}

std::string setParity(Parity parity) {
    return oneByte(kSetParity, parityCode(parity));
}

std::string setStopSize(StopBits stop) {
    return oneByte(kSetStopSize, stopSizeCode(stop));
}

std::string setControl(std::uint8_t value) {
    return oneByte(kSetControl, value);
}

std::string purgeData(std::uint8_t which) {
    return oneByte(kPurgeData, which);
}

std::string setLineStateMask(std::uint8_t mask) {
    return oneByte(kSetLineStateMask, mask);
}

std::string setModemStateMask(std::uint8_t mask) {
    return oneByte(kSetModemStateMask, mask);
}

std::uint8_t parityCode(Parity parity) {
    switch (parity) {
    case Parity::Odd:
        return 2;
    case Parity::Even:
        return 3;
    case Parity::Mark:
        return 4;
    case Parity::Space:
        return 5;
    case Parity::None:
        break;
    }
    return 1;
}

std::uint8_t stopSizeCode(StopBits stop) {
    switch (stop) {
    case StopBits::Two:
        return 2;
    case StopBits::OneAndHalf:
        return 3;
    case StopBits::One:
        break;
    }
    return 1;
}

bool parityOfCode(std::uint8_t code, Parity& parity) {
    static constexpr Parity kByCode[] = {Parity::None, Parity::Odd, Parity::Even, Parity::Mark,
                                         Parity::Space};
    if (code < 1 || code > 5)
        return false;
    parity = kByCode[code - 1];
    return true;
}

bool stopBitsOfCode(std::uint8_t code, StopBits& stop) {
    static constexpr StopBits kByCode[] = {StopBits::One, StopBits::Two, StopBits::OneAndHalf};
    if (code < 1 || code > 3)
        return false;
    stop = kByCode[code - 1];
    return true;
}

std::vector<Reply> readReplies(std::string_view body) {
    std::vector<Reply> replies;
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(body[i]); };
    std::size_t i = 0;
    while (i < body.size() && isServerCode(at(i))) {
        Reply r;
        r.command = static_cast<std::uint8_t>(at(i) - kServerOffset);
        ++i;
        const std::size_t rest = body.size() - i;
        switch (r.command) {
        case kSignature:
            r.text = std::string(body.substr(i));
            i = body.size();
            break;
        case kSetBaudRate:
            // Four bytes, or a one-byte code of the server's own table: that one is taken when
            // fewer than four bytes follow or the next answer starts right after it.
            if (rest >= 4 && !(isServerCode(at(i + 1)))) {
                r.value = std::uint32_t(at(i)) << 24 | std::uint32_t(at(i + 1)) << 16 |
                          std::uint32_t(at(i + 2)) << 8 | at(i + 3);
                r.valueUnknown = r.value == 0;
                i += 4;
            } else {
                r.value = rest > 0 ? at(i) : 0;
                r.valueUnknown = true;
                i += rest > 0 ? 1 : 0;
            }
            break;
        case kFlowControlSuspend:
        case kFlowControlResume:
            break;
        default:
            if (rest == 0) {
                r.valueUnknown = true;
                break;
            }
            r.value = at(i++);
            // 0 asks for the value: a server answering with it tells nothing.
            r.valueUnknown = r.value == 0 && r.command >= kSetDataSize && r.command <= kSetControl;
            break;
        }
        replies.push_back(std::move(r));
    }
    return replies;
}

std::string Negotiator::start() {
    std::string out;
    for (std::uint8_t o : {kOptBinary, kOptSga, kOptComPort}) {
        us_[o] = State::Asked;
        out += option(kWill, o);
    }
    for (std::uint8_t o : {kOptBinary, kOptSga}) {
        him_[o] = State::Asked;
        out += option(kDo, o);
    }
    return out;
}

std::string Negotiator::answer(std::uint8_t verb, std::uint8_t opt) {
    const bool ours = opt == kOptBinary || opt == kOptSga || opt == kOptComPort;
    const bool his = opt == kOptBinary || opt == kOptSga; // never ECHO: the line is binary
    switch (verb) {
    case kDo: {
        if (!ours)
            return option(kWont, opt);
        const State before = std::exchange(us_[opt], State::Yes);
        if (opt == kOptComPort)
            comPortRefused_ = false;
        return before == State::No ? option(kWill, opt) : std::string();
    }
    case kDont: {
        const State before = std::exchange(us_[opt], State::No);
        if (opt == kOptComPort)
            comPortRefused_ = true;
        return before == State::Yes ? option(kWont, opt) : std::string();
    }
    case kWill: {
        if (!his)
            return option(kDont, opt);
        const State before = std::exchange(him_[opt], State::Yes);
        return before == State::No ? option(kDo, opt) : std::string();
    }
    case kWont: {
        const State before = std::exchange(him_[opt], State::No);
        return before == State::Yes ? option(kDont, opt) : std::string();
    }
    default:
        return {};
    }
}

} // namespace varnok::serial::telnet
