#include "logic/quicksend/entry.h"

#include <span>

#include "logic/codec/hex_list.h"
#include "logic/quicksend/escapes.h"

namespace varnok::quicksend {

namespace {

std::string listError(codec::HexListError e) {
    switch (e) {
    case codec::HexListError::NotHex:
        return "a value is not hexadecimal (00 to FF, separated by spaces)";
    case codec::HexListError::ValueTooBig:
        return "a value is above FF (put a space between the bytes)";
    case codec::HexListError::TooManyValues:
        return "more than " + std::to_string(codec::kMaxListValues) + " values";
    case codec::HexListError::None:
        break;
    }
    return {};
}

} // namespace

ByteRange coveredRange(std::size_t size, int skipFirst, int skipLast) {
    if (skipFirst < 0 || skipLast < 0)
        return {0, 0, "the bytes left out cannot be fewer than 0"};
    const auto skipped = static_cast<std::size_t>(skipFirst) + static_cast<std::size_t>(skipLast);
    if (skipped > size)
        return {0, 0,
                "the checksum leaves out " + std::to_string(skipped) + " bytes of " +
                    std::to_string(size)};
    return {static_cast<std::size_t>(skipFirst), size - static_cast<std::size_t>(skipLast), {}};
}

EntryBytes entryBytes(const Entry& entry) {
    EntryBytes out;
    if (entry.form == DataForm::Script)
        return {{}, "it runs a script instead of sending bytes"};
    const std::string tooBig = "the data is longer than " + std::to_string(kMaxEntryBytes) +
                               " bytes (bigger data goes through \"Send file\")";
    // No byte takes more than four characters ("\xHH", "FF "): longer text is not read.
    if (entry.data.size() > 4 * kMaxEntryBytes + 4)
        return {{}, tooBig, 0, true};
    if (entry.form == DataForm::Hex) {
        codec::HexList list = codec::parseHexList(entry.data);
        if (list.error != codec::HexListError::None)
            return {{}, listError(list.error)};
        out.bytes = std::move(list.bytes);
    } else {
        Parsed p = parseEscapes(entry.data);
        if (!p.ok())
            return {{}, p.error};
        out.bytes = std::move(p.bytes);
    }
    if (out.bytes.size() > kMaxEntryBytes)
        return {{}, tooBig, 0, true};
    const std::size_t data = out.bytes.size();
    if (entry.checksum != Checksum::None) {
        const ByteRange r = coveredRange(out.bytes.size(), entry.skipFirst, entry.skipLast);
        if (!r.error.empty())
            return {{}, r.error};
        const auto sum =
            checksumOf(entry.checksum, std::span(out.bytes).subspan(r.begin, r.end - r.begin));
        out.bytes.insert(out.bytes.end(), sum.begin(), sum.end());
    }
    switch (entry.end) {
    case LineEnd::None:
        break;
    case LineEnd::CR:
        out.bytes.push_back('\r');
        break;
    case LineEnd::LF:
        out.bytes.push_back('\n');
        break;
    case LineEnd::CRLF:
        out.bytes.insert(out.bytes.end(), {'\r', '\n'});
        break;
    case LineEnd::LFCR:
        out.bytes.insert(out.bytes.end(), {'\n', '\r'});
        break;
    }
    out.tail = out.bytes.size() - data;
    return out;
}

std::string bytesPreview(const EntryBytes& b, std::size_t head) {
    const std::size_t n = b.bytes.size();
    std::string text;
    if (n <= head + b.tail) {
        text = hexText(b.bytes);
    } else {
        text = hexText({b.bytes.begin(), b.bytes.begin() + static_cast<std::ptrdiff_t>(head)}) +
               " \u2026";
        if (b.tail > 0)
            text +=
                " " + hexText({b.bytes.end() - static_cast<std::ptrdiff_t>(b.tail), b.bytes.end()});
    }
    return text + "  (" + std::to_string(n) + (n == 1 ? " byte)" : " bytes)");
}

EntryBytes hexLines(std::string_view text) {
    EntryBytes out;
    std::size_t line = 1;
    while (!text.empty()) {
        const std::size_t cut = text.find('\n');
        std::string_view one = text.substr(0, cut);
        text = cut == std::string_view::npos ? std::string_view{} : text.substr(cut + 1);
        std::u16string wide;
        wide.reserve(one.size());
        for (char c : one) // tabs and a CR before the LF separate values as spaces do
            wide += (c == '\t' || c == '\r') ? u' '
                                             : static_cast<char16_t>(static_cast<unsigned char>(c));
        const codec::HexList list = codec::parseHexList(wide);
        if (list.error != codec::HexListError::None)
            return {{}, "line " + std::to_string(line) + ": " + listError(list.error)};
        out.bytes.insert(out.bytes.end(), list.bytes.begin(), list.bytes.end());
        ++line;
    }
    return out;
}

} // namespace varnok::quicksend
