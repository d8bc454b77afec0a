#pragma once

#include "platform/FileLock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QList>
#include <QSaveFile>
#include <QString>
#include <QTimer>

#include <memory>

namespace halvik {

// Watches the folder holding a registry file: every change there (re)starts `settle`, which
// re-reads the registry once the burst is over.
inline std::unique_ptr<QFileSystemWatcher> watchRegistryFolder(const QString& path, QTimer& settle)
{
    auto watcher = std::make_unique<QFileSystemWatcher>();
    watcher->addPath(QFileInfo(path).absolutePath());
    QObject::connect(watcher.get(), &QFileSystemWatcher::directoryChanged, &settle,
                     qOverload<>(&QTimer::start));
    return watcher;
}

// One change to a registry file that every Halvik process shares (the built-in servers, the
// dev servers): under the file's lock, read the entries, drop those whose process is gone, apply
// `change`, and write the file back only when that changed something. Returns the entries as
// written.
template <typename Entry, typename Parse, typename Serialize, typename Alive, typename Change>
QList<Entry> updateRegistryFile(const QString& path, Parse parse, Serialize serialize, Alive alive,
                                Change change)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const FileLock lock(path + QStringLiteral(".lock"));
    QList<Entry> entries;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        entries = parse(file.readAll());
    file.close();
    QList<Entry> next;
    for (const Entry& entry : std::as_const(entries))
        if (alive(entry.pid))
            next << entry;
    change(next);
    if (next != entries) {
        QSaveFile out(path);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(serialize(next));
            out.commit();
        }
    }
    return next;
}

} // namespace halvik
