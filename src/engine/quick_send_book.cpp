#include "engine/quick_send_book.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <algorithm>
#include <array>
#include <iterator>
#include <set>

namespace varnok::engine {

namespace {

using namespace quicksend;

constexpr std::array<const char*, 3> kForms{"text", "hex", "script"};
constexpr std::array<const char*, 5> kEnds{"none", "cr", "lf", "crlf", "lfcr"};
constexpr std::array<const char*, 3> kKinds{"text", "hex", "regex"};
// Where earlier versions kept the book, in the per-user settings.
constexpr char kOldBookKey[] = "quicksend/book";

QString q(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

QString named(const char* what, std::size_t i, const std::u16string& name) {
    return QStringLiteral("%1 %2 (\"%3\"): ").arg(QLatin1String(what)).arg(i + 1).arg(q(name));
}

// Reads the fields of one JSON object, keeping the first fault.
struct Reader {
    QJsonObject o;
    QString fault;

    QString text(const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return {};
        if (!v.isString() && fault.isEmpty())
            fault = QStringLiteral("\"%1\" is not text").arg(QLatin1String(key));
        return v.toString();
    }
    int number(const char* key, int low, int high, int otherwise) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return otherwise;
        const double d = v.toDouble(-1e18);
        if ((!v.isDouble() || d != static_cast<int>(d) || d < low || d > high) && fault.isEmpty())
            fault = QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                        .arg(QLatin1String(key))
                        .arg(low)
                        .arg(high);
        return static_cast<int>(std::clamp(d, double(low), double(high)));
    }
    template <std::size_t N> int choice(const char* key, const std::array<const char*, N>& names) {
        const QString t = text(key);
        for (std::size_t i = 0; i < N; ++i)
            if (t == QLatin1String(names[i]) || (t.isEmpty() && i == 0))
                return static_cast<int>(i);
        if (fault.isEmpty())
            fault = QStringLiteral("\"%1\" cannot be \"%2\"").arg(QLatin1String(key), t);
        return 0;
    }
};

QJsonArray arrayOf(const QJsonObject& o, const char* key, QString* fault) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isUndefined() && !v.isArray())
        *fault = QStringLiteral("\"%1\" is not a list").arg(QLatin1String(key));
    return v.toArray();
}

} // namespace

int QuickSendBook::entryIndex(std::u16string_view name) const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name)
            return static_cast<int>(i);
    return -1;
}

std::u16string freeName(const std::u16string& wanted,
                        const std::function<bool(const std::u16string&)>& taken) {
    if (!taken(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        std::u16string fresh = wanted + u" (" + QString::number(n).toStdU16String() + u")";
        if (!taken(fresh))
            return fresh;
    }
}

std::u16string QuickSendBook::freeName(const std::u16string& wanted) const {
    return engine::freeName(wanted, [this](const std::u16string& n) { return entryIndex(n) >= 0; });
}

std::size_t QuickSendBook::addEntry() {
    Entry e;
    e.name = freeName(u"Entry " + QString::number(entries.size() + 1).toStdU16String());
    e.data = u"AT";
    e.end = LineEnd::CR;
    entries.push_back(std::move(e));
    return entries.size() - 1;
}

void QuickSendBook::addSequence() {
    sequences.push_back(
        {u"Sequence " + QString::number(sequences.size() + 1).toStdU16String(), {}, 1});
}

bool QuickSendBook::addStep(std::size_t sequence) {
    if (entries.empty() || sequence >= sequences.size())
        return false;
    sequences[sequence].steps.push_back({entries.front().name, 100});
    return true;
}

bool QuickSendBook::addRule() {
    if (entries.empty())
        return false;
    AnswerRule rule;
    rule.pattern.text = u"?";
    rule.entry = entries.front().name;
    rules.push_back(std::move(rule));
    return true;
}

QString kindName(PatternKind kind) {
    const QString name = QLatin1String(kKinds.at(static_cast<std::size_t>(kind)));
    return name.left(1).toUpper() + name.mid(1);
}

PatternKind kindNamed(const QString& typed) {
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        if (typed.trimmed().compare(QLatin1String(kKinds[i]), Qt::CaseInsensitive) == 0)
            return PatternKind(i);
    return PatternKind::Text;
}

QString QuickSendBook::rename(std::size_t index, const std::u16string& name) {
    std::u16string& now = entries.at(index).name;
    if (name == now)
        return {};
    if (name.empty())
        return QStringLiteral("An entry needs a name.");
    if (entryIndex(name) >= 0)
        return QStringLiteral("Another entry is named \"%1\".").arg(q(name));
    for (Sequence& s : sequences)
        for (SequenceStep& st : s.steps)
            if (st.entry == now)
                st.entry = name;
    for (AnswerRule& r : rules)
        if (r.entry == now)
            r.entry = name;
    now = name;
    return {};
}

void QuickSendBook::setKey(std::size_t index, int key) {
    if (key > 0)
        for (Entry& other : entries)
            if (other.key == key)
                other.key = 0;
    entries.at(index).key = key;
}

QStringList QuickSendBook::usersOf(std::size_t index) const {
    const std::u16string& name = entries.at(index).name;
    QStringList users;
    for (const Sequence& s : sequences)
        for (std::size_t k = 0; k < s.steps.size(); ++k)
            if (s.steps[k].entry == name)
                users << QStringLiteral("sequence \"%1\" step %2").arg(q(s.name)).arg(k + 1);
    for (std::size_t i = 0; i < rules.size(); ++i)
        if (rules[i].entry == name)
            users << QStringLiteral("rule %1 (\"%2\")").arg(i + 1).arg(q(rules[i].pattern.text));
    return users;
}

void QuickSendBook::remove(std::size_t index) {
    const std::u16string name = entries.at(index).name;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    for (Sequence& seq : sequences)
        std::erase_if(seq.steps, [&](const SequenceStep& st) { return st.entry == name; });
    std::erase_if(rules, [&](const AnswerRule& r) { return r.entry == name; });
}

void QuickSendBook::add(QuickSendBook other) {
    std::set<std::u16string> taken, keys;
    std::set<int> bound;
    for (const Entry& e : entries) {
        taken.insert(e.name);
        bound.insert(e.key);
    }
    for (const Entry& e : other.entries)
        keys.insert(e.name); // the added book's own names stay free for its own entries
    for (std::size_t i = 0; i < other.entries.size(); ++i) {
        Entry& e = other.entries[i];
        if (e.key > 0 && bound.count(e.key))
            e.key = 0;
        if (!taken.count(e.name)) {
            taken.insert(e.name);
            continue;
        }
        const std::u16string fresh = engine::freeName(
            e.name, [&](const std::u16string& n) { return taken.count(n) || keys.count(n); });
        other.rename(i, fresh);
        taken.insert(fresh);
    }
    std::move(other.entries.begin(), other.entries.end(), std::back_inserter(entries));
    std::move(other.sequences.begin(), other.sequences.end(), std::back_inserter(sequences));
    std::move(other.rules.begin(), other.rules.end(), std::back_inserter(rules));
}

QString entryFault(const QuickSendBook& book, std::size_t index) {
    const Entry& e = book.entries.at(index);
    const QString where = named("entry", index, e.name);
    if (e.form == DataForm::Script)
        return e.data.empty() ? where + QStringLiteral("it names no script file") : QString();
    const EntryBytes b = entryBytes(e);
    if (!b.ok())
        return where + QString::fromStdString(b.error);
    return b.bytes.empty() ? where + QStringLiteral("it sends no bytes") : QString();
}

QString ruleFault(const QuickSendBook& book, std::size_t index) {
    const AnswerRule& r = book.rules.at(index);
    const int entry = book.entryIndex(r.entry);
    if (entry < 0 || book.entries[std::size_t(entry)].form != DataForm::Script)
        return {};
    return named("rule", index, r.pattern.text) + scriptAnswerRefused(r.entry);
}

QString scriptAnswerRefused(const std::u16string& entry) {
    return QStringLiteral("\"%1\" runs a script, and a rule answers with bytes only (a script "
                          "waits for what arrives itself, with expect())")
        .arg(q(entry));
}

QString firstFault(const QuickSendBook& book) {
    QString fault = checkBook(book);
    for (std::size_t i = 0; fault.isEmpty() && i < book.entries.size(); ++i)
        fault = entryFault(book, i);
    for (std::size_t i = 0; fault.isEmpty() && i < book.rules.size(); ++i)
        fault = ruleFault(book, i);
    return fault;
}

QString checkBook(const QuickSendBook& book) {
    std::set<std::u16string> names;
    for (std::size_t i = 0; i < book.entries.size(); ++i) {
        const Entry& e = book.entries[i];
        const QString where = named("entry", i, e.name);
        if (e.name.empty())
            return where + QStringLiteral("it has no name");
        if (!names.insert(e.name).second)
            return where + QStringLiteral("another entry has this name");
        const EntryBytes b = entryBytes(e);
        if (b.tooBig)
            return where + QString::fromStdString(b.error);
    }
    for (std::size_t i = 0; i < book.sequences.size(); ++i) {
        const Sequence& s = book.sequences[i];
        for (std::size_t k = 0; k < s.steps.size(); ++k)
            if (book.entryIndex(s.steps[k].entry) < 0)
                return named("sequence", i, s.name) +
                       QStringLiteral("step %1 names no entry (\"%2\")")
                           .arg(k + 1)
                           .arg(q(s.steps[k].entry));
    }
    std::vector<Pattern> patterns;
    for (std::size_t i = 0; i < book.rules.size(); ++i) {
        const AnswerRule& r = book.rules[i];
        if (book.entryIndex(r.entry) < 0)
            return named("rule", i, r.pattern.text) +
                   QStringLiteral("it names no entry (\"%1\")").arg(q(r.entry));
        patterns.push_back(r.pattern);
    }
    Matcher m;
    const std::string why = m.setPatterns(patterns);
    if (!why.empty()) { // "pattern N: ..." becomes "rule N ("...") ..."
        const std::size_t n = std::stoul(why.substr(8)) - 1;
        return named("rule", n, book.rules[n].pattern.text) +
               QString::fromStdString(why.substr(why.find(':') + 2));
    }
    return {};
}

QByteArray bookToJson(const QuickSendBook& book) {
    QJsonArray entries, sequences, rules;
    for (const Entry& e : book.entries)
        entries.append(QJsonObject{
            {"name", q(e.name)},
            {"data", q(e.data)},
            {"form", kForms[static_cast<std::size_t>(e.form)]},
            {"end", kEnds[static_cast<std::size_t>(e.end)]},
            {"checksum", QString::fromUtf8(checksumInfo(e.checksum).key.data(),
                                           qsizetype(checksumInfo(e.checksum).key.size()))},
            {"skipFirst", e.skipFirst},
            {"skipLast", e.skipLast},
            {"periodMs", e.periodMs},
            {"key", e.key > 0 ? QStringLiteral("F%1").arg(e.key) : QString()},
        });
    for (const Sequence& s : book.sequences) {
        QJsonArray steps;
        for (const SequenceStep& st : s.steps)
            steps.append(QJsonObject{{"entry", q(st.entry)}, {"delayMs", st.delayMs}});
        sequences.append(QJsonObject{{"name", q(s.name)}, {"runs", s.runs}, {"steps", steps}});
    }
    for (const AnswerRule& r : book.rules)
        rules.append(QJsonObject{{"kind", kKinds[static_cast<std::size_t>(r.pattern.kind)]},
                                 {"pattern", q(r.pattern.text)},
                                 {"entry", q(r.entry)},
                                 {"delayMs", r.delayMs},
                                 {"enabled", r.enabled}});
    return QJsonDocument(QJsonObject{{"entries", entries},
                                     {"sequences", sequences},
                                     {"rules", rules},
                                     {"answersPerSecond", book.answersPerSecond}})
        .toJson();
}

namespace {

// One entry of a file; "" or the fault, naming it.
QString readEntry(const QJsonValue& value, std::size_t i, Entry* e) {
    Reader r{value.toObject(), {}};
    e->name = r.text("name").toStdU16String();
    e->data = r.text("data").toStdU16String();
    e->form = static_cast<DataForm>(r.choice("form", kForms));
    e->end = static_cast<LineEnd>(r.choice("end", kEnds));
    const QString sum = r.text("checksum");
    bool known = sum.isEmpty();
    for (const ChecksumInfo& c : checksumCatalogue())
        if (sum.toStdString() == c.key) {
            e->checksum = c.kind;
            known = true;
        }
    if (!known && r.fault.isEmpty())
        r.fault = QStringLiteral("the checksum \"%1\" is not known").arg(sum);
    e->skipFirst = r.number("skipFirst", 0, 65535, 0);
    e->skipLast = r.number("skipLast", 0, 65535, 0);
    e->periodMs = r.number("periodMs", 0, 86'400'000, 0);
    const QString key = r.text("key");
    if (!key.isEmpty()) {
        bool ok = false;
        e->key = key.startsWith(u'F') ? key.mid(1).toInt(&ok) : 0;
        if ((!ok || e->key < 1 || e->key > 12) && r.fault.isEmpty())
            r.fault = QStringLiteral("the key \"%1\" is not F1 to F12").arg(key);
    }
    if (!value.isObject())
        r.fault = QStringLiteral("not an object");
    return r.fault.isEmpty() ? QString() : named("entry", i, e->name) + r.fault;
}

QString readSequence(const QJsonValue& value, std::size_t i, Sequence* s) {
    Reader r{value.toObject(), {}};
    s->name = r.text("name").toStdU16String();
    s->runs = r.number("runs", 0, 1'000'000, 1);
    const QJsonArray steps = arrayOf(r.o, "steps", &r.fault);
    for (const QJsonValue& v : steps) {
        Reader st{v.toObject(), {}};
        s->steps.push_back(
            {st.text("entry").toStdU16String(), st.number("delayMs", 0, 86'400'000, 0)});
        if (r.fault.isEmpty() && !st.fault.isEmpty())
            r.fault = QStringLiteral("step %1: ").arg(s->steps.size()) + st.fault;
    }
    return r.fault.isEmpty() ? QString() : named("sequence", i, s->name) + r.fault;
}

QString readRule(const QJsonValue& value, std::size_t i, AnswerRule* a) {
    Reader r{value.toObject(), {}};
    a->pattern.kind = static_cast<PatternKind>(r.choice("kind", kKinds));
    a->pattern.text = r.text("pattern").toStdU16String();
    a->entry = r.text("entry").toStdU16String();
    a->delayMs = r.number("delayMs", 0, 86'400'000, 0);
    a->enabled = r.o.value(QLatin1String("enabled")).toBool(true);
    return r.fault.isEmpty() ? QString() : named("rule", i, a->pattern.text) + r.fault;
}

// Each item of `list` read into `out` by `read`; the first fault stops it.
template <typename T, typename Read>
QString readAll(const QJsonArray& list, std::vector<T>* out, Read read) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        T item;
        const QString fault = read(list[i], std::size_t(i), &item);
        if (!fault.isEmpty())
            return fault;
        out->push_back(std::move(item));
    }
    return {};
}

} // namespace

QString bookFromJson(const QByteArray& json, QuickSendBook* out) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not a JSON file (%1 at byte %2)")
            .arg(error.errorString())
            .arg(error.offset);
    if (!doc.isObject())
        return QStringLiteral("not a Quick Send file (no object at the top)");
    QString fault;
    const QJsonObject top = doc.object();
    const QJsonArray entries = arrayOf(top, "entries", &fault);
    const QJsonArray sequences = arrayOf(top, "sequences", &fault);
    const QJsonArray rules = arrayOf(top, "rules", &fault);
    if (!fault.isEmpty())
        return fault;

    QuickSendBook book;
    Reader head{top, {}};
    book.answersPerSecond =
        head.number("answersPerSecond", 1, 1'000'000, quicksend::RateLimit::kDefaultPerSecond);
    fault = head.fault;
    if (fault.isEmpty())
        fault = readAll(entries, &book.entries, readEntry);
    if (fault.isEmpty())
        fault = readAll(sequences, &book.sequences, readSequence);
    if (fault.isEmpty())
        fault = readAll(rules, &book.rules, readRule);
    if (fault.isEmpty())
        fault = checkBook(book);
    if (fault.isEmpty())
        *out = std::move(book);
    return fault;
}

QString bookFromFile(const QString& path, QuickSendBook* out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString();
    // Looked at before it is read: a file this big is no book, and reading it would freeze.
    if (f.size() > kMaxBookFileBytes)
        return QStringLiteral("the file has %1 bytes; a Quick Send file holds at most 16 MiB "
                              "(bigger data goes through \"Send file\")")
            .arg(f.size());
    return bookFromJson(f.readAll(), out);
}

QString bookToFile(const QString& path, const QuickSendBook& book) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bookToJson(book)) < 0 || !f.commit())
        return f.errorString();
    return {};
}

QString loadBook(const QString& path, QuickSendBook* out) {
    *out = {};
    if (!QFile::exists(path))
        return {};
    const QString why = bookFromFile(path, out);
    if (why.isEmpty())
        return {};
    // Set aside, not deleted: the user may want it back; the next start begins clean.
    const QString aside =
        path + QDateTime::currentDateTime().toString(QStringLiteral(".'unread'-yyyyMMdd-hhmmss"));
    const bool moved = QFile::rename(path, aside);
    return QStringLiteral("The remembered Quick Send entries were not read: %1. %2 Quick Send "
                          "starts empty.")
        .arg(why, moved ? QStringLiteral("The file is kept as %1.").arg(aside)
                        : QStringLiteral("The file %1 could not be set aside.").arg(path));
}

void moveOldBook(QSettings& settings, const QString& path) {
    if (!settings.contains(QLatin1String(kOldBookKey)))
        return;
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(settings.value(QLatin1String(kOldBookKey)).toByteArray());
    }
    settings.remove(QLatin1String(kOldBookKey));
}

} // namespace varnok::engine
