#include "GitBranchName.h"

#include <QStringList>

namespace halvik::gitcore {

std::optional<QString> branchNameProblem(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("Branch names can’t contain control characters.");
        if (c == u' ')
            return QStringLiteral("Branch names can’t contain spaces.");
        if (QStringLiteral("~^:?*[\\").contains(c))
            return QStringLiteral("Branch names can’t contain any of ~ ^ : ? * [ \\.");
    }
    if (name.startsWith(u'-'))
        return QStringLiteral("Branch names can’t start with “-”.");
    if (name == QLatin1String("HEAD"))
        return QStringLiteral("“HEAD” is taken by Git.");
    if (name.contains(QLatin1String("..")))
        return QStringLiteral("Branch names can’t contain “..”.");
    if (name.contains(QLatin1String("@{")))
        return QStringLiteral("Branch names can’t contain “@{”.");
    if (name.endsWith(u'.'))
        return QStringLiteral("Branch names can’t end with “.”.");
    if (name.startsWith(u'/') || name.endsWith(u'/') || name.contains(QLatin1String("//")))
        return QStringLiteral("Each part between slashes needs a name.");
    for (const QString& part : name.split(u'/')) {
        if (part.startsWith(u'.'))
            return QStringLiteral("No part of a branch name can start with “.”.");
        if (part.endsWith(QLatin1String(".lock")))
            return QStringLiteral("No part of a branch name can end with “.lock”.");
    }
    return std::nullopt;
}

} // namespace halvik::gitcore
