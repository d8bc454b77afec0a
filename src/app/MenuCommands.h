#pragma once

#include <QObject>
#include <QString>

namespace halvik {

// In-process command names: the menu bar and screens post them, the main window handles them
// for the selected site or sites.
namespace MenuCommand {
inline const QString newSite = QStringLiteral("halvikNewSite");
inline const QString importSite = QStringLiteral("halvikImportSite");
inline const QString importAllSites = QStringLiteral("halvikImportAllSites");
inline const QString openSite = QStringLiteral("halvikOpenSite");
inline const QString openControlPanel = QStringLiteral("halvikOpenControlPanel");
inline const QString showInFileManager = QStringLiteral("halvikShowInFileManager");
inline const QString openInEditor = QStringLiteral("halvikOpenInEditor");
inline const QString createUser = QStringLiteral("halvikCreateUser");
inline const QString cloneSite = QStringLiteral("halvikCloneSite");
inline const QString toggleServe = QStringLiteral("halvikToggleServe");
inline const QString deleteSite = QStringLiteral("halvikDeleteSite");
// Posted by screens, not the menu, to ask for the delete dialog of one site.
inline const QString requestDeleteSite = QStringLiteral("halvikRequestDeleteSite");
} // namespace MenuCommand

// The broadcast channel for those names. `argument` carries a site id where one is meant.
class CommandCenter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    void post(const QString& name, const QString& argument = {}) { Q_EMIT posted(name, argument); }

Q_SIGNALS:
    void posted(const QString& name, const QString& argument);
};

} // namespace halvik
