#include "logic/codec/send_history.h"

#include "logic/codec/case_fold.h"

namespace varnok::codec {
namespace {

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(a[i]) != foldCase(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

void SendHistory::record(std::u16string_view text) {
    if (text.empty()) {
        return;
    }
    cursor_ = count_;
    // Entry count_ is included: once the history is full it holds the last text stored.
    for (int i = 0; i <= count_; ++i) {
        const std::u16string& e = entries_[static_cast<std::size_t>(i)];
        if (!e.empty() && equalIgnoringCase(e, text)) {
            return;
        }
    }
    entries_[static_cast<std::size_t>(count_)] = std::u16string(text);
    if (count_ < kSize - 1) {
        ++count_;
    }
}

const std::u16string& SendHistory::up() {
    if (cursor_ > 0) {
        --cursor_;
    }
    return entries_[static_cast<std::size_t>(cursor_)];
}

const std::u16string& SendHistory::down() {
    if (cursor_ < count_) {
        ++cursor_;
    }
    return entries_[static_cast<std::size_t>(cursor_)];
}

} // namespace varnok::codec
