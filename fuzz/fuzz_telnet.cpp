// The Telnet stream of a remote serial port. Input: a split point (two bytes), then the bytes.
// Read as a stream from the server, split there, they give what they give in one chunk, and
// each sub-negotiation's answers and each option's reply are read without harm. Written as
// serial data and read back, split there too, they give exactly the bytes and no command.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "logic/serial/telnet_codec.h"

using namespace varnok::serial::telnet;

namespace {

void parseSplit(const std::string& wire, std::size_t at, std::string& data,
                std::vector<Command>& commands) {
    Parser p;
    at = at % (wire.size() + 1);
    p.feed(std::string_view(wire).substr(0, at), data, commands);
    p.feed(std::string_view(wire).substr(at), data, commands);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varnok::fuzz::Input in(data, size);
    const std::size_t at = in.take<std::uint16_t>();
    const std::string bytes = in.rest();

    std::string got;
    std::vector<Command> commands;
    parseSplit(bytes, at, got, commands);
    std::string whole;
    std::vector<Command> wholeCommands;
    parseSplit(bytes, 0, whole, wholeCommands);
    FUZZ_CHECK(got == whole && commands == wholeCommands);
    FUZZ_CHECK(got.size() <= bytes.size());
    Negotiator n;
    n.start();
    for (const Command& c : commands) {
        FUZZ_CHECK(c.body.size() <= Parser::kMaxSubNegotiation);
        if (c.verb == kSb) {
            for (const Reply& r : readReplies(c.body))
                FUZZ_CHECK(r.command <= kPurgeData && r.text.size() <= c.body.size());
        } else {
            const std::string reply = n.answer(c.verb, c.option);
            FUZZ_CHECK(reply.empty() || reply.size() == 3);
        }
    }

    const std::string wire = escape(bytes);
    std::string back;
    std::vector<Command> none;
    parseSplit(wire, at, back, none);
    FUZZ_CHECK(back == bytes && none.empty());
    return 0;
}
