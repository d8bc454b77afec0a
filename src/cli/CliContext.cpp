#include "CliContext.h"

#include <QFileInfo>

namespace halvik::cli {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

SitePtr resolveSite(const SiteStore& store, const QString& reference)
{
    const QString wanted = reference.trimmed();
    if (wanted.isEmpty())
        throw CliError(QStringLiteral("Name a site: its id, its folder or its name."));

    const QUuid id = QUuid::fromString(wanted);
    if (!id.isNull())
        if (auto site = store.site(id))
            return site;
    if (auto site = store.siteAtPath(wanted))
        return site;

    QList<SitePtr> named;
    for (const auto& site : store.sites())
        if (site->displayName() == wanted)
            named << site;
    if (named.size() == 1)
        return named.first();
    if (named.size() > 1)
        throw CliError(QStringLiteral("%1 sites are named “%2”; use the id or the folder instead.")
                           .arg(named.size())
                           .arg(wanted));
    throw CliError(QStringLiteral("No site matches “%1”.").arg(wanted));
}

} // namespace halvik::cli
