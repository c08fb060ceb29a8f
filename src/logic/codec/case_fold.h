#pragma once
// Letter case folding for the comparisons that ignore case (history, delimiter search).
// Covers ASCII and the Latin-1 letters, which is all an 8-bit line can carry.
namespace varnok::codec {

constexpr char16_t foldCase(char16_t c) noexcept {
    if (c >= u'A' && c <= u'Z') {
        return static_cast<char16_t>(c + 0x20);
    }
    // U+00C0..U+00DE map to U+00E0..U+00FE, except the multiplication sign U+00D7.
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) {
        return static_cast<char16_t>(c + 0x20);
    }
    // The one Latin-1 lower-case letter whose capital lies outside Latin-1.
    if (c == 0x0178) {
        return 0x00FF;
    }
    return c;
}

} // namespace varnok::codec
