#pragma once
// The serial devices of this system and the paths the program cares about, watched through
// the system's change notices: nothing is polled, and the list of devices (a walk over the
// system's device tree) is made only when asked for after a change.
#include <QFileSystemWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

namespace varnok::serial {

struct DeviceEntry {
    QString path;        // the device node, e.g. /dev/ttyUSB0
    QString bindPath;    // what to bind: its stable by-id name where the system gives one
    QString description; // the adapter's own words, may be empty
    bool operator==(const DeviceEntry&) const = default;
};

class DeviceWatcher : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSettleMs = 300; // a plug-in changes several entries in a row

    explicit DeviceWatcher(QObject* parent = nullptr);

    // The serial devices present now, sorted by path.
    const QList<DeviceEntry>& devices();
    // Whether the path leads to something now (a link is followed).
    static bool present(const QString& path);
    // The adapter's description for a device path ("" when there is none or it is absent).
    QString description(const QString& path);

    // Also watch the folder of `path` (the nearest one that exists) under the name `role`, so
    // that changed() tells when it comes or goes; an empty path stops that watch.
    void follow(const QString& role, const QString& path);
    // How often the device tree was walked (the costly part of devices()).
    int walks() const { return walks_; }

  signals:
    // Something in a watched folder changed, a moment ago, and has settled.
    void changed();

  private:
    void rewatch();

    QFileSystemWatcher watcher_;
    QTimer settle_;
    QHash<QString, QString> followed_; // role -> path
    std::optional<QList<DeviceEntry>> devices_;
    QHash<QString, QString> descriptions_;
    bool deviceFolderChanged_ = false; // since the last settle
    int walks_ = 0;
};

} // namespace varnok::serial
