#pragma once

#include "TestPaths.h"

#include "models/Site.h"
#include "services/ProcessRunner.h"
#include "services/composer/ComposerService.h"
#include "services/runtime/RuntimeManager.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace halvik::test {

// Real Composer and PHP from the system, offline: sites below one temporary folder whose
// composer.json reads the fixture packages through a path repository, and a Composer service
// whose runtime finds /usr/bin/php and /usr/bin/composer.
class ComposerFixture
{
    QTemporaryDir m_dir; // first: everything below lives in it

public:
    ComposerFixture() : runtime(runner, roots()), composer(runner, runtime, nullptr)
    {
        QDir().mkpath(root() + "/support/composer");
        QDir().mkpath(root() + "/home");
    }

    QString root() const { return m_dir.path(); }

    RuntimeRoots roots() const
    {
        RuntimeRoots r;
        r.support = root() + "/support";
        r.home = root() + "/home";
        r.fixedSearch = {QStringLiteral("/usr/bin")};
        r.inheritedPath = QStringLiteral("/usr/bin:/bin");
        r.phpDownloads = QUrl("http://127.0.0.1:9/");
        r.nodeDistribution = QUrl("http://127.0.0.1:9");
        r.composerVersions = QUrl("http://127.0.0.1:9");
        return r;
    }

    static QJsonObject manifest(const QJsonObject& require, const QJsonObject& extra = {})
    {
        QJsonObject repository{{"type", "path"},
                               {"url", fixturesDir() + "/packages/*"},
                               {"options", QJsonObject{{"symlink", false}}}};
        QJsonObject json{{"name", "fixture/site"},
                         {"type", "project"},
                         {"require", require},
                         {"repositories", QJsonArray{repository, QJsonObject{{"packagist.org", false}}}},
                         {"minimum-stability", "stable"}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            json.insert(it.key(), it.value());
        return json;
    }

    static QJsonObject standardRequire()
    {
        return {{"php", "^8.1"},
                {"acme/widget", "^1.0"},
                {"acme/gadget", "^2.1"},
                {"quillmar/cms", "^4.2"},
                {"laravel/framework", "^8.83"}};
    }

    static void writeJSON(const QString& path, const QJsonObject& json)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(json).toJson());
    }

    // Runs the system's Composer in `folder` the way a person would, before the test starts.
    QString composerNow(const QString& folder, const QStringList& args) const
    {
        QProcess process;
        process.setWorkingDirectory(folder);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("COMPOSER_HOME", root() + "/support/composer");
        env.insert("COMPOSER_CACHE_DIR", root() + "/support/cache");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("/usr/bin/composer", args + QStringList{"--no-interaction", "--no-ansi"});
        process.waitForFinished(120000);
        return QString::fromUtf8(process.readAll());
    }

    // A site with the fixture packages installed at their lowest allowed versions, so newer
    // ones are there to find.
    SitePtr installedSite(const QString& name, const QJsonObject& extra = {})
    {
        const QString path = root() + "/sites/" + name;
        QDir().mkpath(path);
        writeJSON(path + "/composer.json", manifest(standardRequire()));
        const QString output = composerNow(path, {"update", "--prefer-lowest"});
        if (!QFile::exists(path + "/vendor/composer/installed.json"))
            qWarning().noquote() << output;
        if (!extra.isEmpty())
            writeJSON(path + "/composer.json", manifest(standardRequire(), extra));
        return std::make_shared<Site>(name, path);
    }

    // A copy of the Laravel application skeleton (with its keffin script).
    SitePtr laravelSite(const QString& name)
    {
        const QString path = root() + "/sites/" + name;
        copyFolder(fixturesDir() + "/laravel-app", path);
        return std::make_shared<Site>(name, path);
    }

    static void copyFolder(const QString& from, const QString& to)
    {
        QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QDir().mkpath(to);
        while (it.hasNext()) {
            const QString source = it.next();
            const QString target = to + source.mid(from.size());
            if (it.fileInfo().isDir()) {
                QDir().mkpath(target);
            } else {
                QFile::copy(source, target);
                QFile::setPermissions(target, QFile::permissions(source));
            }
        }
    }

    static QString readText(const QString& path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    ProcessRunner runner;
    RuntimeManager runtime;
    ComposerService composer;
};

} // namespace halvik::test
