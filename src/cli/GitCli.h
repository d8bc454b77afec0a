#pragma once

#include <QStringList>

namespace halvik {

class SiteStore;

// `halvik git status|log|diff|commit …`: `args` are the words after "git". Prints to standard
// output; a failure is one line on standard error and exit status 1. A <site> is a registered
// site or any folder; writes to registered sites are recorded in their history and saved.
int runGitCommand(SiteStore& store, const QStringList& args);

} // namespace halvik
