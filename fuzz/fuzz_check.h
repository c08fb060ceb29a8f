#pragma once
// What every fuzz target shares: a property check that stops the run with a message, and a
// reader that carves typed fields off the front of the fuzzer's input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A broken property is a finding, like a crash: print it and abort so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property violated: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace varnok::fuzz {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // A fixed-size value from the front; zero bytes once the input runs out.
    template <typename T> T take() {
        T v{};
        const std::size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
        if (n > 0)
            std::memcpy(&v, data_, n);
        data_ += n;
        size_ -= n;
        return v;
    }

    // Up to n bytes from the front.
    std::string takeBytes(std::size_t n) {
        if (n > size_)
            n = size_;
        std::string s(reinterpret_cast<const char*>(data_), n);
        data_ += n;
        size_ -= n;
        return s;
    }

    std::string rest() { return takeBytes(size_); }

    // Up to units UTF-16 units: one per byte (Latin-1) or, when wide, one per byte pair.
    std::u16string takeText(std::size_t units, bool wide) {
        const std::size_t width = wide ? 2 : 1;
        if (units > size_ / width)
            units = size_ / width;
        std::u16string out;
        out.reserve(units);
        for (std::size_t i = 0; i < units; ++i) {
            const std::size_t at = i * width;
            out.push_back(wide ? static_cast<char16_t>(data_[at] | (data_[at + 1] << 8))
                               : static_cast<char16_t>(data_[at]));
        }
        data_ += units * width;
        size_ -= units * width;
        return out;
    }

    std::u16string restText(bool wide) { return takeText(size_, wide); }

    std::size_t size() const { return size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

inline bool isHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

inline int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

} // namespace varnok::fuzz
