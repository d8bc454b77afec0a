#include "MarketplaceCache.h"

#include "platform/AppDataDir.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace halvik {

MarketplaceCache::MarketplaceCache(QString folder) : m_folder(std::move(folder)) {}

QString MarketplaceCache::defaultFolder()
{
    return QDir(AppDataDir::directory()).filePath(QStringLiteral("marketplace-cache"));
}

QString MarketplaceCache::jsonPath(const QString& name) const
{
    return QDir(m_folder).filePath(name + QStringLiteral(".json"));
}

QString MarketplaceCache::imagePath(const QUrl& url) const
{
    const QByteArray digest =
        QCryptographicHash::hash(url.toString(QUrl::FullyEncoded).toUtf8(), QCryptographicHash::Sha256)
            .toHex();
    return QDir(m_folder).filePath(QString::fromLatin1(digest) + QStringLiteral(".img"));
}

std::optional<QByteArray> MarketplaceCache::read(const QString& path, bool freshOnly)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    if (freshOnly) {
        const qint64 age = info.lastModified().secsTo(QDateTime::currentDateTime());
        if (age < 0 || age >= freshFor.count())
            return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool MarketplaceCache::write(const QByteArray& bytes, const QString& path) const
{
    QDir().mkpath(m_folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

std::optional<QByteArray> MarketplaceCache::json(const QString& name) const
{
    return read(jsonPath(name), false);
}

std::optional<QByteArray> MarketplaceCache::freshJSON(const QString& name) const
{
    return read(jsonPath(name), true);
}

bool MarketplaceCache::storeJSON(const QByteArray& document, const QString& name) const
{
    return write(document, jsonPath(name));
}

std::optional<QByteArray> MarketplaceCache::freshImage(const QUrl& url) const
{
    return read(imagePath(url), true);
}

bool MarketplaceCache::storeImage(const QByteArray& bytes, const QUrl& url) const
{
    return write(bytes, imagePath(url));
}

} // namespace halvik
