#include "DeleteSitesDialogs.h"

namespace halvik::DeleteSitesDialogs {

namespace {
constexpr int kNamesListed = 8;
const QStringList kFirstButtons{QStringLiteral("Remove from Halvik"), QStringLiteral("Delete Site Files…"),
                                QStringLiteral("Cancel")};
const QStringList kTrashButtons{QStringLiteral("Move to Trash"), QStringLiteral("Cancel")};
} // namespace

PromptDialog first(const QList<SitePtr>& sites)
{
    if (sites.size() == 1) {
        return {
            QStringLiteral("Delete ") + sites.first()->displayName() + QStringLiteral("?"),
            QStringLiteral(
                "Remove keeps the folder on disk. Delete site files moves the project folder to the Trash."),
            kFirstButtons, 2};
    }
    QStringList lines;
    for (int i = 0; i < sites.size() && i < kNamesListed; ++i)
        lines << sites.at(i)->displayName();
    if (sites.size() > kNamesListed)
        lines << QStringLiteral("…");
    return {QStringLiteral("Delete %1 sites?").arg(sites.size()),
            QStringLiteral(
                "Remove keeps folders on disk. Delete site files moves project folders to the Trash.\n\n") +
                lines.join(QLatin1Char('\n')),
            kFirstButtons, 2};
}

PromptDialog confirmTrash(const QList<SitePtr>& sites)
{
    if (sites.size() == 1) {
        return {QStringLiteral("Delete site files?"),
                QStringLiteral("This moves ") + sites.first()->path() +
                    QStringLiteral(" to the Trash and removes it from Halvik. Can’t be undone from here."),
                kTrashButtons, 1};
    }
    return {QStringLiteral("Delete %1 site folders?").arg(sites.size()),
            QStringLiteral("This moves the project folders to the Trash and removes them from Halvik. Can’t "
                           "be undone from here."),
            kTrashButtons, 1};
}

QString failureTitle(int askedCount)
{
    return askedCount == 1 ? QStringLiteral("Couldn’t delete site files")
                           : QStringLiteral("Couldn’t delete some site files");
}

} // namespace halvik::DeleteSitesDialogs
