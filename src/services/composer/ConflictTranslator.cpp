#include "ConflictTranslator.h"

#include "ComposerMessage.h"

#include <QRegularExpression>

namespace halvik::ConflictTranslator {

namespace {

QRegularExpressionMatch firstMatch(const QString& text, const QRegularExpression& pattern)
{
    return pattern.match(text);
}

// "vendor/name [1.2.3] requires php >=8.3", and Composer 2's own "vendor/name 1.2.3 requires
// php >=8.3 -> your php version …".
QRegularExpressionMatch phpRequirement(const QString& output)
{
    static const QRegularExpression bracketed(QStringLiteral(R"((\S+)\s+\[(\S+)\]\s+requires\s+php\s+(\S+))"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression plain(
        QStringLiteral(R"((\S+/\S+)\s+v?(\d[^\s\[\]]*)\s+requires\s+php\s+(\S+))"),
        QRegularExpression::CaseInsensitiveOption);
    if (auto match = firstMatch(output, bracketed); match.hasMatch())
        return match;
    return firstMatch(output, plain);
}

// The package Composer could not find: named after the phrase, or, as Composer 2 writes it,
// before it ("Root composer.json requires acme/missing, it could not be found in any version").
std::optional<QString> missingPackage(const QString& output)
{
    static const QRegularExpression after(QStringLiteral(R"(could not be found in any version.*?(\S+/\S+))"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression before(
        QStringLiteral(
            R"((?:requires|package)\s+([^\s,/]+/[^\s,]+)[^,\n]*,\s*it\s+could not be found in any version)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto match = firstMatch(output, after); match.hasMatch())
        return match.captured(1);
    if (const auto match = firstMatch(output, before); match.hasMatch())
        return match.captured(1);
    return std::nullopt;
}

} // namespace

QList<ConflictAdvice> translate(const QString& output)
{
    QList<ConflictAdvice> advice;
    if (output.contains(QLatin1String("Your requirements could not be resolved")))
        advice.append(
            {QStringLiteral("Composer could not resolve dependencies"),
             QStringLiteral("A package version you asked for conflicts with something already "
                            "locked. Try a looser constraint, or update related packages together."),
             std::nullopt, std::nullopt});

    if (const auto match = phpRequirement(output); match.hasMatch()) {
        const QString package = match.captured(1);
        const QString version = match.captured(2);
        advice.append(
            {QStringLiteral("PHP version is too old for ") + package,
             package + QLatin1Char(' ') + version + QStringLiteral(" needs PHP ") + match.captured(3) +
                 QStringLiteral(". Switch this site to a newer PHP, or pick an older package version."),
             package, version});
    }

    if (output.contains(QLatin1String("allows only one of these")) ||
        output.contains(QLatin1String("they replace")))
        advice.append(
            {QStringLiteral("Two packages cannot be installed together"),
             QStringLiteral("Composer found mutually exclusive packages. Remove one, or pick versions "
                            "that don't replace each other."),
             std::nullopt, std::nullopt});

    if (const auto package = missingPackage(output))
        advice.append(
            {QStringLiteral("Package not found"),
             *package + QStringLiteral(" is not on Packagist, or the version constraint matches nothing. "
                                       "Check the vendor/name spelling."),
             *package, std::nullopt});

    if (output.contains(QLatin1String("authentication required")) || output.contains(QLatin1String("401")))
        advice.append(
            {QStringLiteral("Private repository needs a token"),
             QStringLiteral("Connect GitHub under Source Control. Halvik writes it to Composer’s auth.json."),
             std::nullopt, std::nullopt});

    if (output.contains(QLatin1String("allowed to run")) || output.contains(QLatin1String("allow-plugins")))
        advice.append(
            {QStringLiteral("A Composer plugin needs approval"),
             QStringLiteral("Halvik can add the plugin to allow-plugins in composer.json, then retry."),
             std::nullopt, std::nullopt});

    if (advice.isEmpty() && !output.trimmed().isEmpty())
        advice.append({QStringLiteral("Composer failed"), ComposerMessage::describe(output).right(600),
                       std::nullopt, std::nullopt});
    return advice;
}

} // namespace halvik::ConflictTranslator
