#pragma once

#include "services/HerdRoots.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace halvik::test {

// One call of a fake engine tool: where it ran, its arguments and its PATH.
struct ToolCall
{
    QString workingDirectory;
    QStringList arguments;
    QStringList path;
};

// A whole machine below one folder, for pointing the engine detection at: a home with a
// Valet or Herd layout, Homebrew prefixes and /usr/bin. Engine tools are shell scripts that
// record each call and fail with a set message on request.
class FakeEngine
{
public:
    explicit FakeEngine(const QString& root);

    HerdRoots roots() const { return HerdRoots::under(m_root); }
    QString root() const { return m_root; }
    QString home() const { return m_root + QStringLiteral("/home"); }

    // Valet for Linux: the tool in ~/.config/composer/vendor/bin and its config folder.
    QString installValet(const QJsonObject& config = {});
    // The Herd bundle and its support folder with `herd`, `php` and the given versioned PHPs.
    QString installHerd(const QStringList& phpNames = {});
    void writeConfig(const QString& configFolder, const QJsonObject& config) const;

    // An executable shell script; `body` runs after the recording prologue.
    QString writeScript(const QString& path, const QString& body = {}) const;
    // A PHP stand-in that prints `version` for `-r`.
    QString writePHP(const QString& path, const QString& version) const;
    static void writeFile(const QString& path, const QByteArray& contents);

    QList<ToolCall> calls() const;
    // The next calls print `message` and exit 1.
    void failWith(const QString& message) const;

private:
    QString m_root;
};

} // namespace halvik::test
