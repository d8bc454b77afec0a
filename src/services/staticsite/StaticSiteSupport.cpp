#include "StaticSiteSupport.h"

#include "platform/AtomicFile.h"
#include "services/serving/LaravelConfigurationResolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

QCoro::Task<QString> outputDirectory(LaravelConfigurationResolver& resolver, QString siteFolder, QString php)
{
    const QString value =
        (co_await resolver.string(QStringLiteral("quillmar.ssg.destination"), siteFolder, php)).trimmed();
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

} // namespace halvik::StaticSiteSupport
