#include "AppearanceRules.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace halvik::appearance {

QStringList localIconPaths()
{
    return {QStringLiteral("public/apple-touch-icon.png"),  QStringLiteral("public/apple-touch-icon.jpg"),
            QStringLiteral("public/apple-touch-icon.jpeg"), QStringLiteral("public/favicon.png"),
            QStringLiteral("public/favicon.jpg"),           QStringLiteral("public/favicon.jpeg"),
            QStringLiteral("public/favicon.ico"),           QStringLiteral("public/favicon.svg")};
}

QStringList contentRoots()
{
    return {QStringLiteral("content"), QStringLiteral("resources"), QStringLiteral("public"),
            QStringLiteral("config/quillmar"), QStringLiteral("users")};
}

QStringList skipDirectoryNames()
{
    return {QStringLiteral("node_modules"), QStringLiteral("vendor"),    QStringLiteral("storage"),
            QStringLiteral(".git"),         QStringLiteral("bootstrap"), QStringLiteral("hot")};
}

namespace {

bool isLocal(const QString& host)
{
    const QString lower = host.toLower();
    return lower.endsWith(QLatin1String(".test")) || lower == QLatin1String("localhost") ||
           lower.startsWith(QLatin1String("127."));
}

QUrl withScheme(QUrl url, const QString& scheme)
{
    // An explicit port belongs to the scheme the URL was given with; a default one follows.
    url.setScheme(scheme);
    return url;
}

} // namespace

QList<QUrl> captureURLCandidates(const QUrl& url)
{
    if (!isLocal(url.host()))
        return {url};
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {withScheme(url, QStringLiteral("http")), url};
    if (scheme == QLatin1String("http"))
        return {url, withScheme(url, QStringLiteral("https"))};
    return {url};
}

int iconLinkScore(const QString& href)
{
    const QString lower = href.toLower();
    if (lower.contains(QLatin1String("apple-touch")))
        return 3;
    if (lower.endsWith(QLatin1String(".png")) || lower.endsWith(QLatin1String(".webp")))
        return 2;
    if (lower.endsWith(QLatin1String(".svg")))
        return 1;
    return 0;
}

QStringList iconLinksFromHTML(const QString& html)
{
    static const QRegularExpression relFirst(
        QStringLiteral(R"re(<link\b[^>]*\brel\s*=\s*["']([^"']*)["'][^>]*\bhref\s*=\s*["']([^"']+)["'])re"));
    static const QRegularExpression hrefFirst(
        QStringLiteral(R"re(<link\b[^>]*\bhref\s*=\s*["']([^"']+)["'][^>]*\brel\s*=\s*["']([^"']*)["'])re"));
    QStringList hrefs;
    for (auto it = relFirst.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(1).toLower().contains(QLatin1String("icon")))
            hrefs << match.captured(2);
    }
    for (auto it = hrefFirst.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(2).toLower().contains(QLatin1String("icon")))
            hrefs << match.captured(1);
    }
    std::stable_sort(hrefs.begin(), hrefs.end(),
                     [](const QString& a, const QString& b) { return iconLinkScore(a) > iconLinkScore(b); });
    return hrefs;
}

std::optional<QByteArray> decodeDataURL(const QString& url)
{
    if (!url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return std::nullopt;
    const qsizetype comma = url.indexOf(QLatin1Char(','));
    if (comma < 0)
        return std::nullopt;
    const QString header = url.mid(5, comma - 5);
    const QByteArray payload = url.mid(comma + 1).toUtf8();
    if (header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)) {
        auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return *decoded;
    }
    return QByteArray::fromPercentEncoding(payload);
}

bool looksLikeSVG(const QUrl& url, const QByteArray& data)
{
    if (url.path().toLower().endsWith(QLatin1String(".svg")))
        return true;
    return QString::fromUtf8(data.left(256)).trimmed().toLower().contains(QLatin1String("<svg"));
}

} // namespace halvik::appearance
