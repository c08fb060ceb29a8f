#include "engine/poll_setup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace varnok::engine {

namespace {

struct FieldRule {
    const char* name; // in messages
    const char* key;  // in definitions
    int lo;
    int hi;
};
constexpr FieldRule kFields[kReadFields] = {
    {"station", "station", 1, 247},
    {"function", "function", 1, 4},
    {"address", "address", 0, 65535},
    {"count", "count", 1, modbus::kMaxReadBits},
    {"period", "period_ms", 0, 3600000},
    {"timeout", "timeout_ms", 1, 3600000},
    {"retries", "retries", 0, ModbusMaster::kMaxRetries},
};

std::string fieldProblem(int field, const QString& shown) {
    const FieldRule& f = kFields[field];
    return "the " + std::string(f.name) + " \"" + shown.left(40).toStdString() +
           "\" must be a whole number from " + std::to_string(f.lo) + " to " +
           std::to_string(f.hi) + ".";
}

int fieldOf(const PollRead& r, int field) {
    const int v[kReadFields] = {r.request.station, r.request.function, r.request.address,
                                r.request.count,   r.periodMs,         r.timeoutMs,
                                r.retries};
    return v[field];
}

PollRead readOf(const int v[kReadFields]) {
    return {{v[RfStation], v[RfFunction], v[RfAddress], v[RfCount], {}, {}},
            v[RfPeriod],
            v[RfTimeout],
            v[RfRetries]};
}

[[noreturn]] void refuse(const QString& text) {
    throw Failure(380, text.toStdString());
}

// A JSON value of the wanted kind, or the file is refused naming where and what.
QJsonValue field(const QJsonObject& o, const char* key, QJsonValue::Type type, const QString& where,
                 bool required = true) {
    const QJsonValue v = o.value(QLatin1String(key));
    if ((v.isUndefined() && !required) || v.type() == type)
        return v;
    const char* kind = type == QJsonValue::Bool     ? "true or false"
                       : type == QJsonValue::String ? "a text"
                                                    : "a whole number";
    refuse(QStringLiteral("%1\"%2\" is %3, not %4")
               .arg(where, QLatin1String(key),
                    v.isUndefined() ? QStringLiteral("missing") : QStringLiteral("of another type"),
                    QLatin1String(kind)));
}

int wholeField(const QJsonObject& o, const char* key, const QString& where) {
    const QJsonValue v = field(o, key, QJsonValue::Double, where);
    const double d = v.toDouble();
    if (d != std::floor(d) || std::abs(d) > 1e9)
        refuse(QStringLiteral("%1\"%2\" is not a whole number").arg(where, QLatin1String(key)));
    return int(d);
}

} // namespace

std::string readProblem(const PollRead& read) {
    for (int c = 0; c < kReadFields; ++c) {
        const int v = fieldOf(read, c);
        if (v < kFields[c].lo || v > kFields[c].hi)
            return fieldProblem(c, QString::number(v));
    }
    return modbus::requestProblem(read.request);
}

std::string readsProblem(const std::vector<PollRead>& reads) {
    for (std::size_t i = 0; i < reads.size(); ++i)
        if (const std::string p = readProblem(reads[i]); !p.empty())
            return "Read " + std::to_string(i + 1) + ": " + p;
    return {};
}

PollRead parseRead(int index, const QStringList& fields) {
    int v[kReadFields] = {};
    for (int c = 0; c < kReadFields; ++c) {
        const QString text = c < fields.size() ? fields[c].trimmed() : QString();
        bool ok = false;
        v[c] = text.toInt(&ok);
        if (!ok || v[c] < kFields[c].lo || v[c] > kFields[c].hi)
            throw modbus::RequestFailure("Read " + std::to_string(index + 1) + ": " +
                                         fieldProblem(c, text));
    }
    const PollRead read = readOf(v);
    if (const std::string p = readProblem(read); !p.empty())
        throw modbus::RequestFailure("Read " + std::to_string(index + 1) + ": " + p);
    return read;
}

int rowSpan(const RowDefs& rows, const modbus::RowKey& key) {
    if (modbus::readsBits(key.function))
        return 1;
    const auto it = rows.find(key);
    return it == rows.end() ? 1 : modbus::registerCount(it->second.format.type);
}

modbus::RowKey coveringRow(const PollRead& read, const RowDefs& rows, int address) {
    const auto& q = read.request;
    modbus::RowKey at{q.station, q.function, q.address};
    while (at.address < address) {
        const int span = rowSpan(rows, at);
        if (address < at.address + span)
            return at;
        at.address += span;
    }
    return {q.station, q.function, address};
}

QByteArray definitionsJson(const PollSetup& setup) {
    QJsonArray reads, rows;
    for (const PollRead& r : setup.reads) {
        QJsonObject o;
        for (int c = 0; c < kReadFields; ++c)
            o[QLatin1String(kFields[c].key)] = fieldOf(r, c);
        reads.append(o);
    }
    for (const auto& [key, d] : setup.rows) {
        if (d == RowDef{})
            continue;
        rows.append(QJsonObject{{"station", key.station},
                                {"function", key.function},
                                {"address", key.address},
                                {"name", d.name},
                                {"format", QString::fromStdString(modbus::formatName(d.format))},
                                {"plot", d.plot}});
    }
    return QJsonDocument(QJsonObject{{"reads", reads},
                                     {"rows", rows},
                                     {"one_based", setup.oneBased},
                                     {"always_16", setup.always16}})
        .toJson();
}

PollSetup parseDefinitions(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (doc.isNull())
        refuse(QStringLiteral("line %1: %2")
                   .arg(json.left(error.offset).count('\n') + 1)
                   .arg(error.errorString()));
    if (!doc.isObject() || !doc.object().value("reads").isArray())
        refuse(QStringLiteral("it has no list of \"reads\""));
    const QJsonObject top = doc.object();
    PollSetup setup;
    setup.oneBased = field(top, "one_based", QJsonValue::Bool, {}, false).toBool();
    setup.always16 = field(top, "always_16", QJsonValue::Bool, {}, false).toBool();
    const QJsonArray readList = top.value("reads").toArray();
    for (qsizetype i = 0; i < readList.size(); ++i) {
        const QString where = QStringLiteral("read %1: ").arg(i + 1);
        if (!readList[i].isObject())
            refuse(where + QStringLiteral("not an object"));
        int v[kReadFields];
        for (int c = 0; c < kReadFields; ++c)
            v[c] = wholeField(readList[i].toObject(), kFields[c].key, where);
        setup.reads.push_back(readOf(v));
        if (const std::string p = readProblem(setup.reads.back()); !p.empty()) {
            QString why = QString::fromStdString(p).chopped(1); // the caller ends the sentence
            why[0] = why[0].toLower();
            refuse(where + why);
        }
    }
    const QJsonArray rowList = field(top, "rows", QJsonValue::Array, {}, false).toArray();
    for (qsizetype i = 0; i < rowList.size(); ++i) {
        const QString where = QStringLiteral("row %1: ").arg(i + 1);
        if (!rowList[i].isObject())
            refuse(where + QStringLiteral("not an object"));
        const QJsonObject o = rowList[i].toObject();
        const modbus::RowKey key{wholeField(o, "station", where), wholeField(o, "function", where),
                                 wholeField(o, "address", where)};
        if (key.station < 1 || key.station > 247 || !modbus::isReadFunction(key.function) ||
            key.address < 0 || key.address > 65535)
            refuse(where + QStringLiteral("station (1-247), function (1-4) or address "
                                          "(0-65535) out of range"));
        const QString formatName = field(o, "format", QJsonValue::String, where).toString();
        const auto format = modbus::parseFormatName(formatName.toStdString());
        if (!format)
            refuse(where + QStringLiteral("unknown format \"%1\"").arg(formatName.left(40)));
        if (setup.rows.count(key))
            refuse(where + QStringLiteral("the same station, function and address as an "
                                          "earlier row"));
        setup.rows[key] = {field(o, "name", QJsonValue::String, where).toString(), *format,
                           field(o, "plot", QJsonValue::Bool, where).toBool()};
    }
    return setup;
}

int applyMap(const std::vector<modbus::MapEntry>& entries, const std::vector<PollRead>& reads,
             RowDefs& rows) {
    RowDefs next = rows;
    std::vector<std::pair<const modbus::MapEntry*, const PollRead*>> applied;
    for (const modbus::MapEntry& e : entries) {
        for (const PollRead& r : reads) {
            const auto& q = r.request;
            if ((e.function && e.function != q.function) || (e.station && e.station != q.station) ||
                e.address < q.address || e.address >= q.address + q.count)
                continue;
            RowDef& d = next[{q.station, q.function, e.address}];
            d.name = QString::fromStdString(e.name);
            if (e.format && !modbus::readsBits(q.function))
                d.format = *e.format;
            applied.emplace_back(&e, &r);
        }
    }
    // An entry must show: not inside a value of several registers that stays.
    for (const auto& [e, r] : applied) {
        const modbus::RowKey cover = coveringRow(*r, next, e->address);
        if (cover.address != e->address) {
            const std::string inside =
                modbus::rowLabel({cover.station, cover.function, e->address}, e->name, false);
            throw modbus::MapFailure(
                "line " + std::to_string(e->line) + ": " + inside + " lies inside the " +
                modbus::formatName(next[cover].format) + " value of " +
                modbus::rowLabel(cover, next[cover].name.toStdString(), false) + ".");
        }
    }
    rows = std::move(next);
    return int(applied.size());
}

} // namespace varnok::engine
