#pragma once
// Whole files written and read by the tests. Header only: the pure-logic tests use it too.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace varnok::test {

// Writes `bytes` as the whole of the file at `path`; false when that fails.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The bytes of the file at `path`, or "missing".
inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
}

} // namespace varnok::test
