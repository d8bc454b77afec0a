#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik::appearance {

// Where one site's cached icon and preview live: previews/<SITE-ID>/ under the application
// folder, each file with a `.fetched` marker holding its fetch time in seconds since 1970.
class AppearanceFiles
{
public:
    // `root` is the folder that holds previews/ (the application folder).
    AppearanceFiles(QString root, const QUuid& site);

    static QString previewsFolder(const QString& root);
    QString folder() const { return m_folder; }
    QString faviconPath() const;
    QString screenshotPath() const;

    // The marker's time; else the file's modification time; else nothing.
    static std::optional<QDateTime> cacheDate(const QString& file);
    // Writes the marker beside `file` with `when`.
    static bool writeMarker(const QString& file, const QDateTime& when);
    // Writes `png` whole (through a temporary file) and then its marker.
    static bool store(const QString& file, const QByteArray& png, const QDateTime& when);

private:
    QString m_folder;
};

// The newest modification time of the project's icon files, or nothing when it has none.
std::optional<QDateTime> newestLocalIcon(const QString& projectPath);
// The newest modification time under the content roots, not walking the skipped folders.
// Walks the disk: call it off the main thread.
std::optional<QDateTime> contentStamp(const QString& projectPath);

// Whether the cached icon is out of date: none cached, or a project icon changed after it.
bool needsFavicon(const QString& faviconPath, const QString& projectPath);
// Whether the cached preview is out of date: none cached, older than a day, or content
// changed after it. Walks the content roots.
bool needsScreenshot(const QString& screenshotPath, const QString& projectPath,
                     const QDateTime& now = QDateTime::currentDateTimeUtc());

} // namespace halvik::appearance
