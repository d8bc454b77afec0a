#include "EditorApplications.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace halvik::EditorApplications {

namespace {

// Desktop ids (without ".desktop") of editors made for code, matched case-insensitively.
const QStringList& knownEditors()
{
    static const QStringList ids{QStringLiteral("code"),
                                 QStringLiteral("code-oss"),
                                 QStringLiteral("codium"),
                                 QStringLiteral("vscodium"),
                                 QStringLiteral("cursor"),
                                 QStringLiteral("zed"),
                                 QStringLiteral("dev.zed.zed"),
                                 QStringLiteral("sublime_text"),
                                 QStringLiteral("jetbrains-phpstorm"),
                                 QStringLiteral("phpstorm"),
                                 QStringLiteral("org.kde.kate"),
                                 QStringLiteral("kate"),
                                 QStringLiteral("geany"),
                                 QStringLiteral("gnome-builder"),
                                 QStringLiteral("org.gnome.builder"),
                                 QStringLiteral("emacs"),
                                 QStringLiteral("gvim"),
                                 QStringLiteral("nvim"),
                                 QStringLiteral("lapce"),
                                 QStringLiteral("dev.lapce.lapce"),
                                 QStringLiteral("neovide"),
                                 QStringLiteral("com.visualstudio.code"),
                                 QStringLiteral("org.gnome.texteditor"),
                                 QStringLiteral("org.gnome.gedit"),
                                 QStringLiteral("gedit"),
                                 QStringLiteral("org.kde.kwrite"),
                                 QStringLiteral("mousepad"),
                                 QStringLiteral("org.xfce.mousepad"),
                                 QStringLiteral("pluma"),
                                 QStringLiteral("xed"),
                                 QStringLiteral("featherpad")};
    return ids;
}

// The [Desktop Entry] group's unlocalised keys.
QHash<QString, QString> readEntry(const QString& path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    bool inGroup = false;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals <= 0 || line.startsWith(u'#'))
            continue;
        const QString key = line.left(equals).trimmed();
        if (!key.contains(u'[') && !values.contains(key))
            values.insert(key, line.mid(equals + 1).trimmed());
    }
    return values;
}

bool opensFoldersOrText(const QString& mimeTypes)
{
    for (const QString& type : mimeTypes.split(u';', Qt::SkipEmptyParts)) {
        const QString trimmed = type.trimmed();
        if (trimmed == QLatin1String("inode/directory") || trimmed == QLatin1String("text/plain") ||
            trimmed == QLatin1String("text/x-php") || trimmed == QLatin1String("application/x-php"))
            return true;
    }
    return false;
}

bool isTrue(const QString& value)
{
    return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList standardFolders()
{
    QStringList folders;
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        if (const QString folder = QDir(data).filePath(QStringLiteral("applications"));
            !folders.contains(folder))
            folders << folder;
    return folders;
}

QList<Application> candidates(const QStringList& folders)
{
    QList<Application> found;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
            const QString id = file.chopped(8);
            if (seen.contains(id))
                continue;
            seen.insert(id); // a user's own entry hides the system's, even a hidden one
            const QHash<QString, QString> entry = readEntry(dir.filePath(file));
            if (entry.value(QStringLiteral("Type")) != QLatin1String("Application") ||
                isTrue(entry.value(QStringLiteral("NoDisplay"))) ||
                isTrue(entry.value(QStringLiteral("Hidden"))) ||
                entry.value(QStringLiteral("Name")).isEmpty() ||
                !opensFoldersOrText(entry.value(QStringLiteral("MimeType"))))
                continue;
            found << Application{dir.filePath(file), entry.value(QStringLiteral("Name")),
                                 entry.value(QStringLiteral("Icon")),
                                 knownEditors().contains(id, Qt::CaseInsensitive)};
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Application& a, const Application& b) {
        if (a.knownEditor != b.knownEditor)
            return a.knownEditor;
        return QString::localeAwareCompare(a.name.toCaseFolded(), b.name.toCaseFolded()) < 0;
    });
    return found;
}

} // namespace halvik::EditorApplications
