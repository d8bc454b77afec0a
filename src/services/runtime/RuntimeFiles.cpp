#include "RuntimeFiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <sys/stat.h>

namespace halvik::RuntimeFiles {

QStringList offeredPHPLines()
{
    return {QStringLiteral("8.2"), QStringLiteral("8.3"), QStringLiteral("8.4"), QStringLiteral("8.5")};
}

QByteArray managedIni()
{
    return QByteArrayLiteral(
        "; Managed by Halvik. Not for Herd or system PHP.\n"
        "; static-php-cli cannot mmap executable memory for PCRE JIT on hardened macOS.\n"
        "pcre.jit=0\n"
        "memory_limit=1G\n");
}

QByteArray phpWrapper(const QString& folder)
{
    const QByteArray dir = folder.toUtf8();
    return "#!/bin/bash\nset -euo pipefail\nexport PHPRC=\"" + dir + "\"\nexec \"" + dir +
           "/php-cli\" -d pcre.jit=0 \"$@\"";
}

QByteArray composerWrapper(const QString& pharPath)
{
    return "#!/usr/bin/env php\n<?php\n"
           "// Managed by Halvik. Works both as `composer` on PATH (shebang) and as\n"
           "// `php $(which composer)` (Quillmar starter kits).\n"
           "require '" +
           pharPath.toUtf8() + "';";
}

QString normalizedPHPLine(const QString& version)
{
    const QStringList parts = version.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return version.trimmed();
    return parts[0] + QLatin1Char('.') + parts[1];
}

int compareVersions(const QString& a, const QString& b)
{
    const auto parts = [](QString text) {
        if (text.startsWith(QLatin1Char('v')))
            text.remove(0, 1);
        QList<int> numbers;
        for (const QString& part : text.split(QLatin1Char('.')))
            numbers << part.toInt();
        return numbers;
    };
    const QList<int> left = parts(a);
    const QList<int> right = parts(b);
    for (qsizetype i = 0; i < qMax(left.size(), right.size()); ++i) {
        const int l = i < left.size() ? left[i] : 0;
        const int r = i < right.size() ? right[i] : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

std::optional<QString> newestPHPBuild(const QString& listPage, const QString& line, const QString& suffix)
{
    const QRegularExpression pattern(QStringLiteral("php-(") + QRegularExpression::escape(line) +
                                     QStringLiteral("\\.\\d+)-cli-") + QRegularExpression::escape(suffix) +
                                     QStringLiteral("\\.tar\\.gz"));
    std::optional<QString> best;
    auto matches = pattern.globalMatch(listPage);
    while (matches.hasNext()) {
        const QString version = matches.next().captured(1);
        if (!best || compareVersions(version, *best) > 0)
            best = version;
    }
    return best;
}

std::optional<QString> newestNodeLTS(const QByteArray& indexJson, const QString& major)
{
    const auto index = nlohmann::json::parse(indexJson.constBegin(), indexJson.constEnd(), nullptr, false);
    if (!index.is_array())
        throw std::runtime_error("not a release list");
    const std::string prefix = "v" + major.toStdString() + ".";
    for (const auto& entry : index) {
        if (!entry.is_object())
            throw std::runtime_error("not a release list");
        const auto version = entry.find("version");
        const auto lts = entry.find("lts");
        if (version == entry.end() || !version->is_string() || lts == entry.end() || !lts->is_string())
            continue;
        const std::string text = version->get<std::string>();
        if (text.rfind(prefix, 0) == 0 && !lts->get<std::string>().empty())
            return QString::fromStdString(text.substr(1));
    }
    return std::nullopt;
}

std::optional<QString> composerVersionFrom(const QString& output)
{
    const QStringList words = output.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const qsizetype at = words.indexOf(QStringLiteral("version"));
    if (at >= 0 && at + 1 < words.size())
        return words[at + 1];
    if (words.size() >= 3 && words[0] == QLatin1String("Composer"))
        return words[2];
    const QString first = output.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (first.isEmpty())
        return std::nullopt;
    return first;
}

std::optional<QString> latestComposerFrom(const QByteArray& versionsJson)
{
    const auto root =
        nlohmann::json::parse(versionsJson.constBegin(), versionsJson.constEnd(), nullptr, false);
    if (!root.is_object())
        return std::nullopt;
    const auto stable = root.find("stable");
    if (stable == root.end() || !stable->is_array() || stable->empty() || !(*stable)[0].is_object())
        return std::nullopt;
    const auto version = (*stable)[0].find("version");
    if (version == (*stable)[0].end() || !version->is_string())
        return std::nullopt;
    return QString::fromStdString(version->get<std::string>());
}

std::optional<QByteArray> checksumFor(const QByteArray& shasums, const QString& fileName)
{
    const QByteArray name = fileName.toUtf8();
    for (const QByteArray& raw : shasums.split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        QByteArray listed = line.mid(space).trimmed();
        if (listed.startsWith('*')) // binary-mode marker of sha256sum
            listed.remove(0, 1);
        if (listed == name)
            return line.left(space).toLower();
    }
    return std::nullopt;
}

bool isScript(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(2) == "#!";
}

bool isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

std::optional<QString> findBinary(const QString& root, const QString& name)
{
    QDirIterator it(root, {name}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isExecutable(path) && !isScript(path))
            return path;
    }
    return std::nullopt;
}

void writeAtomically(const QString& path, const QByteArray& contents, int mode)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        throw std::runtime_error(
            QStringLiteral("Couldn’t write %1: %2").arg(path, file.errorString()).toStdString());
    if (mode != 0 && ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) != 0)
        throw std::runtime_error(QStringLiteral("Couldn’t make %1 executable.").arg(path).toStdString());
}

void makeExecutable(const QString& path)
{
    if (::chmod(QFile::encodeName(path).constData(), 0755) != 0)
        throw std::runtime_error(QStringLiteral("Couldn’t make %1 executable.").arg(path).toStdString());
}

std::optional<QString> readTrimmed(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(file.read(4096)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace halvik::RuntimeFiles
