#pragma once

#include "models/Site.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {

class GitService;

// `halvik git lines <site> <path> include|exclude|discard LINES [--yes]`: includes, excludes or
// discards some changed lines of one hunk. LINES lists "+N" for the added line numbered N in
// the new file and "-N" for the removed line numbered N in the old one, comma separated, with
// ranges such as "+3-5". `rest` holds the words after <site>.
QCoro::Task<int> runGitLines(GitService& git, SitePtr site, QStringList rest);

} // namespace halvik
