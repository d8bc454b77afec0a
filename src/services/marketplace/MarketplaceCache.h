#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace halvik {

// The catalogue and cover images on disk, in `marketplace-cache/` of the application folder:
// `<name>.json` per catalogue and `<sha-256 of the address>.img` per image.
class MarketplaceCache
{
public:
    // How long a cached catalogue or image is used without asking the network.
    static constexpr std::chrono::seconds freshFor{10800};

    // The default folder is in the application folder.
    explicit MarketplaceCache(QString folder = defaultFolder());
    static QString defaultFolder();

    QString folder() const { return m_folder; }
    QString jsonPath(const QString& name) const;
    QString imagePath(const QUrl& url) const;

    // The cached document, whatever its age.
    std::optional<QByteArray> json(const QString& name) const;
    // The cached document when it was written less than `freshFor` ago.
    std::optional<QByteArray> freshJSON(const QString& name) const;
    // Written atomically; returns false when the disk refused.
    bool storeJSON(const QByteArray& document, const QString& name) const;

    std::optional<QByteArray> freshImage(const QUrl& url) const;
    bool storeImage(const QByteArray& bytes, const QUrl& url) const;

private:
    static std::optional<QByteArray> read(const QString& path, bool freshOnly);
    bool write(const QByteArray& bytes, const QString& path) const;

    QString m_folder;
};

} // namespace halvik
