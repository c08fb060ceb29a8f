#include "port/device_watcher.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace varnok::serial {

namespace {

const QString kDevDir = QStringLiteral("/dev");
const QString kByIdDir = QStringLiteral("/dev/serial/by-id");

// The folder of `path`, or the nearest one above it that exists (/dev/serial/by-id goes away
// with the last adapter).
QString nearestFolder(const QString& path) {
    QString dir = QFileInfo(path).absolutePath();
    while (!QFileInfo(dir).isDir() && dir != QFileInfo(dir).absolutePath())
        dir = QFileInfo(dir).absolutePath();
    return dir;
}

} // namespace

DeviceWatcher::DeviceWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this](const QString& dir) {
        // Only the device folders change the list of devices. A followed folder changes what
        // is present only: /dev/pts gains and loses an entry with every terminal any program
        // opens, and walking the device tree again for each one costs the flood's CPU.
        if (dir == kDevDir || dir == kByIdDir)
            deviceFolderChanged_ = true;
        settle_.start();
    });
    connect(&settle_, &QTimer::timeout, this, [this] {
        if (deviceFolderChanged_) {
            deviceFolderChanged_ = false;
            devices_.reset();
            descriptions_.clear();
        }
        rewatch(); // a folder may have come or gone
        emit changed();
    });
    rewatch();
}

void DeviceWatcher::rewatch() {
    QStringList wanted;
    for (const QString& dir : {kDevDir, kByIdDir})
        if (QFileInfo(dir).isDir())
            wanted << dir;
    for (const QString& path : std::as_const(followed_))
        wanted << nearestFolder(path);
    wanted.removeDuplicates();
    QStringList stale;
    for (const QString& dir : watcher_.directories())
        if (!wanted.contains(dir))
            stale << dir;
    if (!stale.isEmpty())
        watcher_.removePaths(stale);
    for (const QString& dir : std::as_const(wanted))
        if (!watcher_.directories().contains(dir))
            watcher_.addPath(dir);
}

void DeviceWatcher::follow(const QString& role, const QString& path) {
    if (path.isEmpty())
        followed_.remove(role);
    else
        followed_.insert(role, path);
    rewatch();
}

const QList<DeviceEntry>& DeviceWatcher::devices() {
    if (devices_)
        return *devices_;
    // The stable by-id name is what gets bound where the system gives one.
    QHash<QString, QString> byId;
    for (const QFileInfo& link : QDir(kByIdDir).entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
    ++walks_;
    QList<DeviceEntry> list;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        list.append({path, byId.value(path, path), info.description()});
    }
    std::sort(list.begin(), list.end(),
              [](const DeviceEntry& a, const DeviceEntry& b) { return a.path < b.path; });
    devices_ = std::move(list);
    return *devices_;
}

bool DeviceWatcher::present(const QString& path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString DeviceWatcher::description(const QString& path) {
    if (!present(path))
        return {};
    const QString target = QFileInfo(path).canonicalFilePath();
    const auto cached = descriptions_.constFind(target);
    if (cached != descriptions_.cend())
        return *cached;
    QString text;
    for (const DeviceEntry& e : devices())
        if (e.path == target)
            text = e.description;
    descriptions_.insert(target, text);
    return text;
}

} // namespace varnok::serial
