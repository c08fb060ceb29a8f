#pragma once
// What Quick Send keeps: stored sends, sequences of them and auto-answer rules, with the JSON
// form they are exported, imported and remembered in.
#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

#include "logic/quicksend/entry.h"
#include "logic/quicksend/matcher.h"

namespace varnok::engine {

struct SequenceStep {
    std::u16string entry; // an entry's name
    int delayMs = 0;      // after it was sent
    bool operator==(const SequenceStep&) const = default;
};

struct Sequence {
    std::u16string name;
    std::vector<SequenceStep> steps;
    int runs = 1; // 0: until stopped
    bool operator==(const Sequence&) const = default;
};

struct AnswerRule {
    quicksend::Pattern pattern;
    std::u16string entry; // what is sent when the pattern arrives
    int delayMs = 0;
    bool enabled = true;
    bool operator==(const AnswerRule&) const = default;
};

struct QuickSendBook {
    std::vector<quicksend::Entry> entries;
    std::vector<Sequence> sequences;
    std::vector<AnswerRule> rules;
    int entryIndex(std::u16string_view name) const; // -1 when there is none
    bool operator==(const QuickSendBook&) const = default;
};

// "" when every entry makes bytes, names are given and unique, and every sequence and rule
// names an entry there is; else the first fault, saying which entry, sequence or rule.
QString checkBook(const QuickSendBook& book);

QByteArray bookToJson(const QuickSendBook& book);
// Reads a whole book; on any fault `out` is left as it was and the fault is returned.
QString bookFromJson(const QByteArray& json, QuickSendBook* out);

} // namespace varnok::engine
