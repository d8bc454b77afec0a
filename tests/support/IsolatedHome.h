#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace halvik::test {

// Points HOME and the XDG folders into a fresh temporary folder for as long as it lives,
// so a test never touches the real user's files. Restores the previous values on destruction.
class IsolatedHome
{
public:
    IsolatedHome();
    ~IsolatedHome();
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString dataHome() const;
    QString configHome() const;

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};

} // namespace halvik::test
