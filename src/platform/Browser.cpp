#include "Browser.h"

#include <QProcess>
#include <QStandardPaths>

namespace halvik::Browser {

bool open(const QUrl& url)
{
    const QString address = url.toString(QUrl::FullyEncoded);
    const QString configured = qEnvironmentVariable("BROWSER").section(QLatin1Char(':'), 0, 0).trimmed();
    if (!configured.isEmpty()) {
        QStringList words = QProcess::splitCommand(configured);
        if (!words.isEmpty()) {
            const QString program = words.takeFirst();
            bool placed = false;
            for (QString& word : words)
                if (word.contains(QLatin1String("%s"))) {
                    word.replace(QLatin1String("%s"), address);
                    placed = true;
                }
            if (!placed)
                words << address;
            return QProcess::startDetached(program, words);
        }
    }
#ifdef Q_OS_MACOS
    return QProcess::startDetached(QStringLiteral("/usr/bin/open"), {address});
#else
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !opener.isEmpty() && QProcess::startDetached(opener, {address});
#endif
}

} // namespace halvik::Browser
