// Modbus TCP reassembly. Input: first raw bytes fed in chunks of fuzzer-chosen sizes (nothing
// may crash, every byte comes out once, in a piece or pending); then PDUs built into ADUs,
// concatenated and fed in chunks: the same ADUs come back, whole and in order.
#include <vector>

#include "fuzz_check.h"
#include "logic/modbus/mbap.h"

using namespace varnok::modbus;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

// Feeds `stream` in chunks whose sizes the input gives; the pieces in order.
std::vector<mbap::Piece> feedInChunks(varnok::fuzz::Input& in, mbap::Reassembler& r,
                                      const std::vector<std::uint8_t>& stream) {
    std::vector<mbap::Piece> out;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t n =
            std::min<std::size_t>(stream.size() - at, 1 + in.take<std::uint8_t>() % 64);
        r.feed(std::span<const std::uint8_t>(stream.data() + at, n));
        for (mbap::Piece& p : r.take())
            out.push_back(std::move(p));
        at += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varnok::fuzz::Input in(data, size);

    // Any bytes: nothing is lost or made up.
    const std::vector<std::uint8_t> raw = bytesOf(in.takeBytes(in.take<std::uint8_t>()));
    mbap::Reassembler any;
    std::size_t out = 0;
    for (const mbap::Piece& p : feedInChunks(in, any, raw)) {
        FUZZ_CHECK(!p.bytes.empty());
        if (p.kind != mbap::Piece::Kind::Garbage)
            FUZZ_CHECK(mbap::aduLength(p.bytes) == std::ptrdiff_t(p.bytes.size()));
        out += p.bytes.size();
    }
    FUZZ_CHECK(out + any.pending() == raw.size());

    // Good ADUs come back exactly, in order, whatever the chunks.
    std::vector<std::vector<std::uint8_t>> adus;
    std::vector<std::uint8_t> stream;
    const int count = in.take<std::uint8_t>() % 8;
    for (int i = 0; i < count; ++i) {
        const std::size_t length = 1 + in.take<std::uint8_t>() % 253; // function code and data
        const std::vector<std::uint8_t> pdu = bytesOf(in.takeBytes(length));
        if (pdu.empty())
            break;
        adus.push_back(mbap::buildAdu(in.take<std::uint16_t>(), in.take<std::uint8_t>(), pdu));
        stream.insert(stream.end(), adus.back().begin(), adus.back().end());
    }
    mbap::Reassembler r;
    const std::vector<mbap::Piece> pieces = feedInChunks(in, r, stream);
    FUZZ_CHECK(pieces.size() == adus.size() && r.pending() == 0);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        FUZZ_CHECK(pieces[i].kind == mbap::Piece::Kind::Adu && pieces[i].bytes == adus[i]);
    return 0;
}
