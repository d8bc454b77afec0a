#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace halvik::EditorApplications {

// An installed desktop application that could edit a site.
struct Application
{
    QString desktopFile; // its full path, what the editor preference keeps
    QString name;
    QString icon; // a theme icon name or an absolute path
    bool knownEditor = false;
};

// The `applications` folders of the XDG data folders, the user's own first.
QStringList standardFolders();

// The applications whose desktop entries say they open folders or text files (their MIME
// types), hidden ones left out and each desktop id once (the first folder wins): known code
// editors first, then the rest, each group by name.
QList<Application> candidates(const QStringList& folders = standardFolders());

} // namespace halvik::EditorApplications
