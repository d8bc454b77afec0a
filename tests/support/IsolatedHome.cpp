#include "IsolatedHome.h"

#include <QDir>
#include <QFile>

namespace halvik::test {

namespace {
const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                  "XDG_RUNTIME_DIR"};
}

IsolatedHome::IsolatedHome()
{
    for (const char* name : kVariables)
        m_saved.append({name, qgetenv(name)});

    const QString root = m_dir.path();
    const QString runtime = root + "/runtime";
    QDir().mkpath(root + "/.local/share");
    QDir().mkpath(root + "/.config");
    QDir().mkpath(root + "/.cache");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    qputenv("HOME", root.toUtf8());
    qputenv("XDG_DATA_HOME", (root + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + "/.config").toUtf8());
    qputenv("XDG_CACHE_HOME", (root + "/.cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
}

IsolatedHome::~IsolatedHome()
{
    for (const auto& [name, value] : m_saved) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QString IsolatedHome::dataHome() const
{
    return m_dir.path() + "/.local/share";
}
QString IsolatedHome::configHome() const
{
    return m_dir.path() + "/.config";
}

} // namespace halvik::test
