#pragma once
// What Quick Send keeps: stored sends, sequences of them and auto-answer rules, with the JSON
// form they are exported, imported and remembered in.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "logic/quicksend/entry.h"
#include "logic/quicksend/matcher.h"

class QSettings;

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

// The most a Quick Send file holds (an import, and the book remembered between runs).
inline constexpr qint64 kMaxBookFileBytes = 16 * 1024 * 1024;

struct QuickSendBook {
    std::vector<quicksend::Entry> entries;
    std::vector<Sequence> sequences;
    std::vector<AnswerRule> rules;
    int answersPerSecond = quicksend::RateLimit::kDefaultPerSecond; // per rule, at most

    int entryIndex(std::u16string_view name) const; // -1 when there is none
    // `wanted`, or the first of "wanted (2)", "wanted (3)", ... that no entry has.
    std::u16string freeName(const std::u16string& wanted) const;
    // A new entry ("Entry N", N its place) sending "AT" and CR, at the end; its index.
    std::size_t addEntry();
    void addSequence(); // "Sequence N", no steps, run once
    // A step or a rule sending the first entry; none while there are no entries.
    bool addStep(std::size_t sequence);
    bool addRule();
    // Gives entry `index` a new name, and its sequence steps and rules with it; refused (the
    // reason returned, nothing changed) when the name is empty or another entry has it.
    QString rename(std::size_t index, const std::u16string& name);
    // Binds entry `index` to F1-F12 (0: none); the entry that had the key loses it.
    void setKey(std::size_t index, int key);
    // The sequence steps and rules that send entry `index`, as the user reads them.
    QStringList usersOf(std::size_t index) const;
    // Deletes entry `index` with the sequence steps and rules that send it.
    void remove(std::size_t index);
    // Adds another book behind this one: an added entry whose name is taken gets a number
    // ("poll (2)"), through its steps and rules; a key already bound stays with its entry.
    void add(QuickSendBook other);
    bool operator==(const QuickSendBook&) const = default;
};

// The one naming rule: `wanted` when `taken` says it is free, else the first free of
// "wanted (2)", "wanted (3)", ...
std::u16string freeName(const std::u16string& wanted,
                        const std::function<bool(const std::u16string&)>& taken);

// A rule's kind as the user reads it ("Text", "Hex", "Regex"), and back from what is typed,
// in either case; anything else is text.
QString kindName(quicksend::PatternKind kind);
quicksend::PatternKind kindNamed(const QString& typed);

// "" when a file's book can be taken: names are given and unique, every sequence and rule
// names an entry there is, every pattern compiles and no entry is past the size limit; else
// the first fault, saying which entry, sequence or rule. An entry whose data does not parse
// is kept as the user left it: it is not in use until mended (see entryFault).
QString checkBook(const QuickSendBook& book);
// Why entry `index` sends nothing ("" when it sends), naming it.
QString entryFault(const QuickSendBook& book, std::size_t index);
// Why rule `index` never answers ("" when it does): the entry it names runs a script.
QString ruleFault(const QuickSendBook& book, std::size_t index);
// The text that refuses a script entry as an answer, naming the entry.
QString scriptAnswerRefused(const std::u16string& entry);
// checkBook's fault, else the first entry that sends nothing, else the first rule that
// never answers.
QString firstFault(const QuickSendBook& book);

QByteArray bookToJson(const QuickSendBook& book);
// Reads a whole book; on any fault `out` is left as it was and the fault is returned.
QString bookFromJson(const QByteArray& json, QuickSendBook* out);
// The same from a file of at most kMaxBookFileBytes, looked at before it is read.
QString bookFromFile(const QString& path, QuickSendBook* out);
// Writes the book whole or not at all (the file before stays on a failure); "" or why not.
QString bookToFile(const QString& path, const QuickSendBook& book);
// The book remembered at `path`: none is an empty book; one that cannot be read is set aside
// (renamed, with a note of where to) so that the next start is clean, and the book is empty.
QString loadBook(const QString& path, QuickSendBook* out);
// A book an earlier version kept in `settings` moves to its own file at `path` (unless there
// is one already) and leaves the settings.
void moveOldBook(QSettings& settings, const QString& path);

} // namespace varnok::engine
