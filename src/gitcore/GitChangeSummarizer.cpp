#include "gitcore/GitChangeSummarizer.h"

#include <QSet>
#include <QStringList>

namespace halvik::gitcore {

namespace {

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// "posts/hello.md" gives "posts/hello"; a leading dot of a name is not an extension.
QString withoutExtension(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? path.left(dot) : path;
}

// "my-first_post.md" gives "My first post".
QString displayName(const QString& path)
{
    QString name = withoutExtension(lastComponent(path));
    name.replace(QLatin1Char('-'), QLatin1Char(' ')).replace(QLatin1Char('_'), QLatin1Char(' '));
    if (!name.isEmpty())
        name[0] = name[0].toUpper();
    return name;
}

QString trimmedSlashes(const QString& path)
{
    qsizetype begin = 0;
    qsizetype end = path.size();
    while (begin < end && path.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && path.at(end - 1) == QLatin1Char('/'))
        --end;
    return path.mid(begin, end - begin);
}

} // namespace

QString GitChangeSummarizer::label(const GitChangedFile& file)
{
    const bool added = file.isAdded();
    const bool deleted =
        !added && (file.indexStatus == QLatin1Char('D') || file.worktreeStatus == QLatin1Char('D'));
    return label(file.path, added, deleted);
}

QString GitChangeSummarizer::label(const QString& rawPath, bool added, bool deleted)
{
    const QString path = trimmedSlashes(rawPath);
    const QString verb =
        deleted ? QStringLiteral("Removed") : (added ? QStringLiteral("New") : QStringLiteral("Edited"));
    const auto rest = [&](const char* prefix) { return path.mid(qsizetype(qstrlen(prefix))); };
    const auto under = [&](const char* prefix) { return path.startsWith(QLatin1String(prefix)); };

    if (path == QLatin1String("composer.json") || path == QLatin1String("composer.lock"))
        return QStringLiteral("Installed or updated packages");
    if (under("content/collections/")) {
        QStringList parts = rest("content/collections/").split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            parts = {path};
        const QString collection = parts.first();
        const QString name = displayName(parts.last());
        if (collection == QLatin1String("pages"))
            return (added ? QStringLiteral("New") : verb) + QLatin1Char(' ') + name + QLatin1String(" page");
        return (added ? QStringLiteral("New") : verb) + QLatin1Char(' ') + collection +
               QLatin1String(" entry: ") + name;
    }
    if (under("content/globals/"))
        return QStringLiteral("Updated globals");
    if (under("content/navigation/"))
        return QStringLiteral("Updated nav");
    if (under("content/taxonomies/"))
        return QStringLiteral("Updated taxonomy");
    if (under("resources/views/")) {
        QString view = rest("resources/views/");
        for (const char* suffix : {".orvane.html", ".blade.php", ".html", ".php"}) {
            if (view.endsWith(QLatin1String(suffix))) {
                view.chop(qsizetype(qstrlen(suffix)));
                break;
            }
        }
        return verb + QLatin1String(" template: ") + view;
    }
    if (under("resources/blueprints/"))
        return QLatin1String("Changed ") + displayName(path) + QLatin1String(" blueprint");
    if (under("resources/fieldsets/"))
        return QLatin1String("Changed ") + displayName(path) + QLatin1String(" fieldset");
    if (under("config/"))
        return QLatin1String("Changed settings: ") + withoutExtension(rest("config/"));
    if (under("users/"))
        return QLatin1String("Updated user: ") + withoutExtension(lastComponent(path));
    if (under("assets/") || under("public/assets/")) {
        const QString action = added ? QStringLiteral("Added")
                                     : (deleted ? QStringLiteral("Removed") : QStringLiteral("Updated"));
        return action + QLatin1String(" asset: ") + lastComponent(path);
    }
    return path;
}

QString GitChangeSummarizer::suggestedMessage(const QList<GitChangedFile>& files)
{
    QStringList labels;
    QSet<QString> seen;
    for (const GitChangedFile& file : files) {
        const QString text = label(file);
        if (seen.contains(text.toLower()))
            continue;
        seen.insert(text.toLower());
        labels.append(text);
        if (labels.size() == 3)
            break;
    }
    return labels.isEmpty() ? QStringLiteral("Update from Halvik") : labels.join(QLatin1String(", "));
}

} // namespace halvik::gitcore
