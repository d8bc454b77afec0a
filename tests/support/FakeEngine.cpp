#include "FakeEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace halvik::test {

FakeEngine::FakeEngine(const QString& root) : m_root(root)
{
    QDir().mkpath(home());
}

void FakeEngine::writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(contents);
}

QString FakeEngine::writeScript(const QString& path, const QString& body) const
{
    const QString log = m_root + QStringLiteral("/calls.log");
    const QString failure = m_root + QStringLiteral("/fail-with");
    // One record per call: working directory, arguments and PATH separated by unit separators.
    const QString script = QStringLiteral("#!/bin/sh\n"
                                          "{ printf '%s' \"$PWD\"; for a in \"$@\"; do printf '\\037%s' "
                                          "\"$a\"; done; printf '\\036%s\\n' \"$PATH\"; } >> '%1'\n"
                                          "if [ -f '%2' ]; then cat '%2'; exit 1; fi\n")
                               .arg(log, failure) +
                           body;
    writeFile(path, script.toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
    return path;
}

QString FakeEngine::writePHP(const QString& path, const QString& version) const
{
    return writeScript(path, QStringLiteral("[ \"$1\" = \"-r\" ] && printf '%1\\n'\nexit 0\n").arg(version));
}

void FakeEngine::writeConfig(const QString& configFolder, const QJsonObject& config) const
{
    writeFile(configFolder + QStringLiteral("/config.json"), QJsonDocument(config).toJson());
}

QString FakeEngine::installValet(const QJsonObject& config)
{
    const QString tool = writeScript(home() + QStringLiteral("/.config/composer/vendor/bin/valet"));
    QDir().mkpath(home() + QStringLiteral("/.config/valet"));
    if (!config.isEmpty())
        writeConfig(home() + QStringLiteral("/.config/valet"), config);
    return tool;
}

QString FakeEngine::installHerd(const QStringList& phpNames)
{
    QDir().mkpath(m_root + QStringLiteral("/Applications/Herd.app"));
    const QString bin = home() + QStringLiteral("/Library/Application Support/Herd/bin/");
    writePHP(bin + QStringLiteral("php"), QStringLiteral("8.4.1"));
    for (const QString& name : phpNames)
        writePHP(bin + name, QStringLiteral("8.0.0"));
    return writeScript(bin + QStringLiteral("herd"));
}

QList<ToolCall> FakeEngine::calls() const
{
    QFile file(m_root + QStringLiteral("/calls.log"));
    QList<ToolCall> calls;
    if (!file.open(QIODevice::ReadOnly))
        return calls;
    for (const QString& line :
         QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList record = line.split(QChar(0x1e));
        QStringList fields = record.value(0).split(QChar(0x1f));
        ToolCall call;
        call.workingDirectory = fields.takeFirst();
        call.arguments = fields;
        call.path = record.value(1).split(QLatin1Char(':'));
        calls << call;
    }
    return calls;
}

void FakeEngine::failWith(const QString& message) const
{
    writeFile(m_root + QStringLiteral("/fail-with"), message.toUtf8());
}

} // namespace halvik::test
