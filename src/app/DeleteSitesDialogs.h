#pragma once

#include "UserPrompts.h"

#include "models/Site.h"

namespace halvik::DeleteSitesDialogs {

// Button indexes of the first dialog and of the confirmation.
inline constexpr int removeButton = 0;
inline constexpr int deleteFilesButton = 1;
inline constexpr int moveToTrashButton = 0;

// The first question: remove from Halvik, delete the files, or cancel. `sites` are distinct.
PromptDialog first(const QList<SitePtr>& sites);
// The confirmation before folders go to the Trash.
PromptDialog confirmTrash(const QList<SitePtr>& sites);
QString failureTitle(int askedCount);

} // namespace halvik::DeleteSitesDialogs
