#include "DesktopEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace halvik::DesktopEntry {

namespace {

// Values of the [Desktop Entry] group without a locale suffix.
QString entryValue(const QString& desktopFile, const QString& key)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool inGroup = false;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'['))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.section(u'=', 0, 0).trimmed() == key)
            return line.section(u'=', 1).trimmed();
    }
    return {};
}

// Splits an Exec value at blanks outside double quotes.
QStringList splitExec(const QString& exec)
{
    QStringList parts;
    QString current;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c == u'\\' && quoted && i + 1 < exec.size()) {
            current += exec[++i];
        } else if (c.isSpace() && !quoted) {
            if (any || !current.isEmpty())
                parts << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        parts << current;
    return parts;
}

} // namespace

bool isDesktopFile(const QString& path)
{
    return path.endsWith(QLatin1String(".desktop"));
}

QString name(const QString& desktopFile)
{
    return entryValue(desktopFile, QStringLiteral("Name"));
}

QString applicationName(const QString& path)
{
    if (isDesktopFile(path)) {
        const QString entryName = name(path);
        if (!entryName.isEmpty())
            return entryName;
    }
    const QFileInfo info(path);
    return info.suffix() == QLatin1String("app") ? info.completeBaseName() : info.fileName();
}

QStringList commandLine(const QString& desktopFile, const QString& target)
{
    QStringList out;
    bool placed = false;
    for (const QString& part : splitExec(entryValue(desktopFile, QStringLiteral("Exec")))) {
        if (part == QLatin1String("%f") || part == QLatin1String("%F") || part == QLatin1String("%u") ||
            part == QLatin1String("%U")) {
            out << target;
            placed = true;
        } else if (part.size() == 2 && part.startsWith(u'%')) {
            continue;
        } else {
            out << QString(part).replace(QStringLiteral("%%"), QStringLiteral("%"));
        }
    }
    if (!out.isEmpty() && !placed)
        out << target;
    return out;
}

bool launch(const QString& editor, const QString& folder)
{
    if (isDesktopFile(editor)) {
        const QStringList command = commandLine(editor, folder);
        return !command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1));
    }
    if (editor.endsWith(QLatin1String(".app")))
        return QProcess::startDetached(QStringLiteral("/usr/bin/open"),
                                       {QStringLiteral("-a"), editor, folder});
    return QProcess::startDetached(editor, {folder});
}

} // namespace halvik::DesktopEntry
