#pragma once

#include "gitcore/GitChangedFile.h"

#include <QList>
#include <QString>

namespace halvik::gitcore {

// Suggests a commit message from the changed files, in words a site editor recognises.
class GitChangeSummarizer
{
public:
    static QString label(const GitChangedFile& file);
    static QString label(const QString& path, bool added, bool deleted);
    // Up to three distinct labels joined by ", "; "Update from Halvik" when there are none.
    static QString suggestedMessage(const QList<GitChangedFile>& files);
};

} // namespace halvik::gitcore
