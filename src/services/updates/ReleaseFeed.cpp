#include "ReleaseFeed.h"

#include <QStringList>

#include <nlohmann/json.hpp>

namespace halvik {

UpdateCheckError UpdateCheckError::unreachable()
{
    return UpdateCheckError(
        QStringLiteral("Couldn’t reach the update server. Check your connection and try again."));
}

UpdateCheckError UpdateCheckError::httpStatus(int status)
{
    return UpdateCheckError(QStringLiteral("The update server answered with HTTP %1.").arg(status));
}

UpdateCheckError UpdateCheckError::malformed()
{
    return UpdateCheckError(QStringLiteral("The update server’s answer isn’t a release Halvik can read."));
}

namespace ReleaseFeed {

namespace {

QStringList versionParts(QString version)
{
    version = version.trimmed();
    if (version.startsWith(QLatin1Char('v')) || version.startsWith(QLatin1Char('V')))
        version.remove(0, 1);
    return version.split(QLatin1Char('.'));
}

QString stringField(const nlohmann::json& document, const char* key)
{
    const auto field = document.find(key);
    if (field == document.end() || field->is_null())
        return {};
    if (!field->is_string())
        throw UpdateCheckError::malformed();
    return QString::fromStdString(field->get<std::string>()).trimmed();
}

} // namespace

bool isVersion(const QString& version)
{
    const QStringList parts = versionParts(version);
    if (parts.size() > 4)
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        part.toUInt(&ok);
        if (!ok || part.isEmpty() || !part.at(0).isDigit())
            return false;
    }
    return true;
}

int compareVersions(const QString& a, const QString& b)
{
    const QStringList left = versionParts(a);
    const QStringList right = versionParts(b);
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const uint l = left.value(i).toUInt();
        const uint r = right.value(i).toUInt();
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

Release parse(const QByteArray& body)
{
    const nlohmann::json document = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        throw UpdateCheckError::malformed();
    Release release;
    release.version = stringField(document, "version");
    release.url = QUrl(stringField(document, "url"), QUrl::StrictMode);
    release.notes = stringField(document, "notes");
    if (!isVersion(release.version) || !release.url.isValid() ||
        (release.url.scheme() != QLatin1String("https") && release.url.scheme() != QLatin1String("http")) ||
        release.url.host().isEmpty())
        throw UpdateCheckError::malformed();
    return release;
}

} // namespace ReleaseFeed

} // namespace halvik
