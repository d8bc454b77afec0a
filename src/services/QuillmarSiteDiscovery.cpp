#include "QuillmarSiteDiscovery.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

QStringList QuillmarSiteDiscovery::discover(const QString& folder)
{
    QStringList sites;
    const QDir parent(folder);
    for (const QFileInfo& entry : parent.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = entry.absoluteFilePath();
        if (QFileInfo(path + QStringLiteral("/keffin")).isFile() &&
            QFileInfo(path + QStringLiteral("/composer.json")).isFile())
            sites << QDir::cleanPath(path);
    }
    return sites;
}

QCoro::Task<QStringList> QuillmarSiteDiscovery::discoverInBackground(QString folder)
{
    // The future is named: GCC 12 destroys a lambda temporary inside co_await twice.
    QFuture<QStringList> scan = QtConcurrent::run(&QuillmarSiteDiscovery::discover, folder);
    QStringList found = co_await scan;
    co_return found;
}

} // namespace halvik
