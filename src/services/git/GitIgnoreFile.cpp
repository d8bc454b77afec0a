#include "GitIgnoreFile.h"

#include "GitServiceError.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace halvik {

namespace {

QString gitignorePath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral(".gitignore"));
}

void write(const QString& path, const QByteArray& bytes)
{
    if (auto error = writeFileAtomically(path, bytes))
        throw GitServiceError::failed(*error);
}

} // namespace

const QStringList& GitIgnoreFile::defaultLines()
{
    static const QStringList lines{QStringLiteral("/node_modules"),
                                   QStringLiteral("/public/build"),
                                   QStringLiteral("/public/hot"),
                                   QStringLiteral("/public/storage"),
                                   QStringLiteral("/storage/*.key"),
                                   QStringLiteral("/vendor"),
                                   QStringLiteral(".env"),
                                   QStringLiteral(".env.backup"),
                                   QStringLiteral(".phpunit.result.cache"),
                                   QStringLiteral("Homestead.json"),
                                   QStringLiteral("Homestead.yaml"),
                                   QStringLiteral("auth.json"),
                                   QStringLiteral("npm-debug.log"),
                                   QStringLiteral("yarn-error.log")};
    return lines;
}

void GitIgnoreFile::ensureGitignore(const QString& folder)
{
    const QString path = gitignorePath(folder);
    if (QFileInfo(path).isFile())
        return;
    write(path, defaultLines().join(QLatin1Char('\n')).toUtf8());
}

void GitIgnoreFile::ensureEnvIgnored(const QString& folder)
{
    const QString path = gitignorePath(folder);
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        ensureGitignore(folder);
        return;
    }
    if (!file.open(QIODevice::ReadOnly))
        throw GitServiceError::failed(file.errorString());
    const QByteArray bytes = file.readAll();
    file.close();
    const QString text = QString::fromUtf8(bytes);
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed == QLatin1String(".env") || trimmed == QLatin1String("/.env"))
            return;
    }
    QByteArray updated = bytes;
    if (!updated.endsWith('\n'))
        updated += '\n';
    updated += ".env\n";
    write(path, updated);
}

} // namespace halvik
