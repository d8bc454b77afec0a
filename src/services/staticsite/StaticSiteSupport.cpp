#include "StaticSiteSupport.h"

#include "LiveOutputRewriter.h"

#include "LocalOriginRewriter.h"
#include "OutputFolderRewriter.h"
#include "platform/AtomicFile.h"

#include "services/DotEnvFile.h"
#include "services/serving/LaravelConfigurationResolver.h"

#include <QCoroFuture>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>

namespace halvik::StaticSiteSupport {

namespace {

void writeText(const QString& path, const QString& text)
{
    if (const auto error = writeFileAtomically(path, text.toUtf8()))
        throw HalvikError(*error);
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// The output folder relative to the project, or a failure when it lies outside.
QString insideProject(const QString& siteFolder, const QString& outputDirectory)
{
    const QString root = QDir::cleanPath(QFileInfo(siteFolder).absoluteFilePath());
    const QString output = QDir::cleanPath(QDir(root).absoluteFilePath(outputDirectory));
    if (output == root || !output.startsWith(root + QLatin1Char('/')))
        throw StaticSiteSupportError::outputOutsideProject();
    return output.mid(root.size() + 1);
}

} // namespace

bool hasSSGPackage(const SiteManifest& manifest)
{
    for (const InstalledPackage& p : manifest.packages)
        if (p.name == QLatin1String(ssgPackage))
            return true;
    return false;
}

bool refreshUsesSSG(Site& site, const std::optional<SiteManifest>& manifest)
{
    const QDir folder(site.path());
    bool uses = false;
    if (const auto installed = readFile(folder.filePath(QStringLiteral("vendor/composer/installed.json"))))
        uses = installed->contains(ssgPackage);
    else if (const auto lock = readFile(folder.filePath(QStringLiteral("composer.lock"))))
        uses = lock->contains(ssgPackage);
    else if (manifest)
        uses = hasSSGPackage(*manifest);
    site.setUsesSSG(uses);
    return uses;
}

bool ensureAssetURL(const QString& siteFolder)
{
    const QString path = QDir(siteFolder).filePath(QStringLiteral(".env"));
    QString text = QString::fromUtf8(readFile(path).value_or(QByteArray()));
    static const QRegularExpression existing(QStringLiteral("^\\s*ASSET_URL="),
                                             QRegularExpression::MultilineOption);
    if (existing.match(text).hasMatch())
        return false;
    text += QStringLiteral("\n# Halvik: root-relative Vite assets for static hosts\nASSET_URL=/\n");
    writeText(path, text);
    return true;
}

QCoro::Task<QString> outputDirectory(LaravelConfigurationResolver& resolver, QString siteFolder, QString php,
                                     QMap<QString, QString> environment)
{
    const QString value =
        (co_await resolver.string(QStringLiteral("quillmar.ssg.destination"), siteFolder, php, environment))
            .trimmed();
    if (value.isEmpty())
        throw StaticSiteSupportError::emptyOutput();
    co_return QDir::cleanPath(QDir(siteFolder).absoluteFilePath(value));
}

void writeNetlifyToml(const QString& siteFolder, const QString& outputDirectory)
{
    const QString relative = insideProject(siteFolder, outputDirectory);
    const QString text =
        QStringLiteral(
            "# Written by Halvik for optional Git-based Netlify builds.\n"
            "# Halvik’s one-click publish generates locally and uploads the static folder instead.\n"
            "\n"
            "[build]\n"
            "  command = \"npm ci && npm run build && php keffin ssg:generate\"\n"
            "  publish = \"%1\"\n"
            "\n"
            "[build.environment]\n"
            "  PHP_VERSION = \"8.3\"\n"
            "  NODE_VERSION = \"20\"\n")
            .arg(relative);
    writeText(QDir(siteFolder).filePath(QStringLiteral("netlify.toml")), text);
}

void writeCloudflarePagesConfig(const QString& siteFolder, const QString& outputDirectory,
                                const QString& projectName)
{
    const QString relative = insideProject(siteFolder, outputDirectory);
    const QString name = projectName.isEmpty() ? QStringLiteral("quillmar-site") : projectName;
    const QString text =
        QStringLiteral(
            "# Written by Halvik for optional Cloudflare Pages / Wrangler deploys.\n"
            "# Halvik’s one-click publish generates locally and uploads the static folder instead.\n"
            "\n"
            "name = \"%1\"\n"
            "compatibility_date = \"2024-01-01\"\n"
            "pages_build_output_dir = \"%2\"\n")
            .arg(name, relative);
    writeText(QDir(siteFolder).filePath(QStringLiteral("wrangler.toml")), text);
}

namespace {

// "scheme://host[:port]" of the .env's APP_URL, lower-cased, or empty.
QByteArray appOrigin(const QString& siteFolder)
{
    QString text;
    try {
        text = DotEnvFile::load(QDir(siteFolder).filePath(QStringLiteral(".env")));
    } catch (const HalvikError&) {
        return {};
    }
    const QUrl url(DotEnvFile::value(QStringLiteral("APP_URL"), DotEnvFile::entries(text))
                       .value_or(QString())
                       .trimmed());
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return {};
    QString origin = url.scheme() + QStringLiteral("://") + url.host();
    if (url.port() > 0)
        origin += QLatin1Char(':') + QString::number(url.port());
    return origin.toUtf8();
}

// Present in an output folder while its files are being rewritten: a folder left with it was
// interrupted and may hold half-written pages.
QString rewriteMarker(const QString& outputFolder)
{
    return QDir(outputFolder).filePath(QStringLiteral(".halvik-rewriting"));
}

} // namespace

QStringList rewrittenExtensions()
{
    return {QStringLiteral("html"), QStringLiteral("htm"), QStringLiteral("css"),
            QStringLiteral("js"),   QStringLiteral("mjs"), QStringLiteral("json"),
            QStringLiteral("xml"),  QStringLiteral("svg"), QStringLiteral("webmanifest"),
            QStringLiteral("map")};
}

RewriteSummary rewriteOutput(const QString& outputFolder, const QString& siteFolder)
{
    const QString marker = rewriteMarker(outputFolder);
    if (!QFileInfo(outputFolder).isDir())
        return {};
    QFile markerFile(marker);
    if (!markerFile.open(QIODevice::WriteOnly))
        throw HalvikError(
            QStringLiteral("Couldn’t rewrite %1: %2").arg(outputFolder, markerFile.errorString()));
    markerFile.close();
    const OutputFolderRewriter::Result result =
        OutputFolderRewriter::run(outputFolder, LocalOriginRewriter(appOrigin(siteFolder)),
                                  QFile::encodeName(QFileInfo(marker).fileName()).toStdString());
    markerFile.remove();
    return {result.replacements, result.files};
}

OutputRewrite::OutputRewrite(QString outputFolder, QString siteFolder, bool followWriter)
    : m_output(std::move(outputFolder)), m_site(std::move(siteFolder))
{
    if (!followWriter)
        return;
    // The folder is marked only once the generator is done: a generator that clears its folder
    // first would take the mark for a stray file. Until then it is incomplete anyway.
    m_live = LiveOutputRewriter::follow(
        m_output, LocalOriginRewriter(appOrigin(m_site)),
        QFile::encodeName(QFileInfo(rewriteMarker(m_output)).fileName()).toStdString());
}

OutputRewrite::~OutputRewrite() = default;

RewriteSummary OutputRewrite::finish()
{
    if (!m_live)
        return rewriteOutput(m_output, m_site);
    if (!QFileInfo(m_output).isDir())
        return {};
    QFile marker(rewriteMarker(m_output));
    if (!marker.open(QIODevice::WriteOnly))
        throw HalvikError(QStringLiteral("Couldn’t rewrite %1: %2").arg(m_output, marker.errorString()));
    marker.close();
    const OutputFolderRewriter::Result result = m_live->finish();
    marker.remove();
    return {result.replacements, result.files};
}

int rewriteLocalAbsoluteURLs(const QString& outputFolder, const QString& siteFolder)
{
    return rewriteOutput(outputFolder, siteFolder).replacements;
}

bool isCompleteOutput(const QString& outputFolder)
{
    const QDir folder(outputFolder);
    return folder.exists() && !folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) &&
           !QFileInfo::exists(rewriteMarker(outputFolder));
}

QCoro::Task<int> rewriteLocalAbsoluteURLsAsync(QString outputFolder, QString siteFolder)
{
    QFuture<int> work = QtConcurrent::run(&rewriteLocalAbsoluteURLs, outputFolder, siteFolder);
    const int count = co_await work;
    co_return count;
}

QString rewroteLine(int count)
{
    return QStringLiteral("Rewrote %1 local absolute URL%2 to root-relative paths")
        .arg(count)
        .arg(count == 1 ? QString() : QStringLiteral("s"));
}

QString preferredPublicURL(const QString& address)
{
    QString text = address.trimmed();
    if (text.isEmpty())
        return {};
    if (text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        text = text.mid(7);
    else if (text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        text = text.mid(8);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return QStringLiteral("https://") + text;
}

QString hostSiteName(const QString& name)
{
    static const QRegularExpression others(QStringLiteral("[^a-z0-9]+"));
    QString slug = name.toLower().replace(others, QStringLiteral("-"));
    auto trim = [](QString& text) {
        while (text.startsWith(QLatin1Char('-')))
            text.remove(0, 1);
        while (text.endsWith(QLatin1Char('-')))
            text.chop(1);
    };
    trim(slug);
    if (slug.size() > 58) {
        slug.truncate(58);
        trim(slug);
    }
    return slug;
}

QString cloudflareProjectName(const QString& address)
{
    const QUrl url(preferredPublicURL(address));
    const QString host = url.host().toLower();
    const QString suffix = QStringLiteral(".pages.dev");
    if (!host.endsWith(suffix))
        return {};
    return hostSiteName(host.section(QLatin1Char('.'), 0, 0));
}

} // namespace halvik::StaticSiteSupport
