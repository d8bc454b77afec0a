#include "PhpRequirement.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace halvik::PhpRequirement {

namespace {

QList<int> numbers(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QList<int> parts;
    for (const QString& part : text.trimmed().split(QLatin1Char('.'))) {
        const auto match = digits.match(part);
        if (!match.hasMatch())
            break;
        parts.append(match.captured().toInt());
    }
    return parts;
}

// Compares as many parts as the requirement names, missing parts of the version as 0.
int compare(const QList<int>& version, const QList<int>& wanted)
{
    for (qsizetype i = 0; i < std::max(version.size(), wanted.size()); ++i) {
        const int a = version.value(i, 0);
        const int b = wanted.value(i, 0);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

bool single(const QList<int>& version, QString requirement)
{
    requirement = requirement.trimmed();
    if (requirement.isEmpty() || requirement == QLatin1String("*"))
        return true;
    if (requirement.startsWith(QLatin1Char('^'))) {
        const QList<int> wanted = numbers(requirement.mid(1));
        return !wanted.isEmpty() && version.value(0) == wanted[0] && compare(version, wanted) >= 0;
    }
    if (requirement.startsWith(QLatin1Char('~'))) {
        const QList<int> wanted = numbers(requirement.mid(1));
        return !wanted.isEmpty() && version.value(0) == wanted[0] &&
               (wanted.size() < 2 || version.value(1) == wanted[1]) && compare(version, wanted) >= 0;
    }
    for (const char* op : {">=", "<=", ">", "<"}) {
        const QLatin1String prefix(op);
        if (requirement.startsWith(prefix)) {
            const int order = compare(version, numbers(requirement.mid(prefix.size())));
            if (prefix == QLatin1String(">="))
                return order >= 0;
            if (prefix == QLatin1String("<="))
                return order <= 0;
            return prefix == QLatin1String(">") ? order > 0 : order < 0;
        }
    }
    const QList<int> wanted = numbers(requirement);
    if (wanted.size() == 2)
        return version.value(0) == wanted[0] && version.value(1) == wanted[1];
    return compare(version, wanted) == 0;
}

} // namespace

bool satisfies(const QString& version, const QString& requirement)
{
    const QList<int> parts = numbers(version);
    const QStringList alternatives = requirement.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (alternatives.isEmpty())
        return true;
    return std::any_of(alternatives.begin(), alternatives.end(),
                       [&](const QString& alternative) { return single(parts, alternative); });
}

} // namespace halvik::PhpRequirement
