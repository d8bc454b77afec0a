#include "SiteAddress.h"

#include "platform/AtomicFile.h"
#include "services/HerdService.h"
#include "services/serving/LocalServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace halvik::SiteAddress {

namespace {

QString envPath(const QString& siteFolder)
{
    return QDir(siteFolder).filePath(QStringLiteral(".env"));
}

QString readEnv(const QString& siteFolder)
{
    QFile file(envPath(siteFolder));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void writeEnv(const QString& siteFolder, const QString& text)
{
    if (const auto error = writeFileAtomically(envPath(siteFolder), text.toUtf8()))
        throw HalvikError(*error);
}

// Sets `key` the plain way: the first `KEY=.*` line replaced, else the line appended.
QString withLine(QString text, const QString& key, const QString& value, const QString& appended)
{
    const QString line = key + QLatin1Char('=') + value;
    if (text.contains(key + QLatin1Char('='))) {
        const QRegularExpression pattern(QRegularExpression::escape(key) + QStringLiteral("=.*"));
        const auto match = pattern.match(text);
        text.replace(match.capturedStart(), match.capturedLength(), line);
        return text;
    }
    return text + appended;
}

bool isLoopback(const QString& host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost");
}

} // namespace

QSet<int> portsInUse(const QList<SitePtr>& sites, const QUuid& except)
{
    QSet<int> ports;
    for (const SitePtr& site : sites) {
        if (!site || site->id() == except)
            continue;
        if (const auto port = site->localPort())
            ports.insert(*port);
        if (const auto url = HerdService::envAppURL(site->path());
            url && isLoopback(url->host()) && url->port() > 0)
            ports.insert(url->port());
    }
    return ports;
}

int pickLocalPort(const QList<SitePtr>& sites, const QUuid& except)
{
    return LocalServer::freePort(std::nullopt, portsInUse(sites, except));
}

QString applicationURL(const HerdService* herd, const QString& slug, bool secure, std::optional<int> port)
{
    if (herd && herd->engine())
        return (secure ? QStringLiteral("https://") : QStringLiteral("http://")) + herd->domain(slug);
    return QStringLiteral("http://127.0.0.1:%1").arg(port.value_or(4000));
}

void writeAppURL(const QString& siteFolder, const QString& url)
{
    QString text = readEnv(siteFolder);
    const QString separator =
        text.isEmpty() || text.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n");
    writeEnv(siteFolder, withLine(text, QStringLiteral("APP_URL"), url,
                                  separator + QStringLiteral("APP_URL=") + url + QLatin1Char('\n')));
}

void configureSQLite(const QString& siteFolder)
{
    const QString text = readEnv(siteFolder);
    writeEnv(siteFolder, withLine(text, QStringLiteral("DB_CONNECTION"), QStringLiteral("sqlite"),
                                  QStringLiteral("\nDB_CONNECTION=sqlite\n")));
}

} // namespace halvik::SiteAddress
