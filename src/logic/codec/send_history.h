#pragma once
// The recall history of the send box: 32 texts, Up and Down.
#include <array>
#include <string>
#include <string_view>

namespace varnok::codec {

class SendHistory {
  public:
    static constexpr int kSize = 32;

    // A send of text: empty texts are not recorded; a text equal to a stored one (letter case
    // ignored) is not stored again; once entry 31 is reached it is overwritten by each new one.
    void record(std::u16string_view text);
    const std::u16string& up();   // Up arrow: the entry now under the cursor
    const std::u16string& down(); // Down arrow

    int count() const noexcept { return count_; }   // History_Count
    int cursor() const noexcept { return cursor_; } // History_Cursor
    const std::u16string& entry(int i) const { return entries_.at(static_cast<size_t>(i)); }

  private:
    std::array<std::u16string, kSize> entries_{};
    int count_ = 0;
    int cursor_ = 0;
};

} // namespace varnok::codec
