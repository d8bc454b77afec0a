#pragma once

#include "services/DotEnvFile.h"
#include "services/composer/ComposerRecords.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <optional>

namespace halvik {

// What one site's own files say about it, as the Overview shows it.
struct SiteFiles
{
    QList<DotEnvFile::Entry> environment; // empty when there is no readable .env
    SiteManifest manifest;
};

// Keeps one site's files in view: its .env, composer.json, composer.lock and
// vendor/composer/installed.json are watched; a change (an edit, a package update, a branch
// switch) reads them again after a short quiet spell, off the main thread, with the manifest
// parsed again only when its files changed. Main thread.
class SiteFilesMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultQuietMs = 40;

    explicit SiteFilesMonitor(QObject* parent = nullptr);

    // Watches another site (an empty path watches none) and reads its files at once.
    void setSitePath(const QString& path);
    QString sitePath() const { return m_path; }
    // Reads the files again now, whether or not the watch saw a change.
    void reload();
    void setQuietMs(int milliseconds) { m_quiet.setInterval(milliseconds); }

    // The latest read of the current site; none until the first read ends.
    const std::optional<SiteFiles>& files() const { return m_files; }

    // Reads the files of a site on the calling thread.
    static SiteFiles read(const QString& sitePath);

Q_SIGNALS:
    void filesChanged();

private:
    void watch();
    void startRead();

    QString m_path;
    QFileSystemWatcher m_watcher;
    QTimer m_quiet;
    std::optional<SiteFiles> m_files;
    quint64 m_generation = 0; // bumped by every new site, so an old site's read is dropped
    bool m_reading = false;
    bool m_readAgain = false; // a change came while a read ran
};

} // namespace halvik
