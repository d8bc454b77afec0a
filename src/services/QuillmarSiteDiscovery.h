#pragma once

#include <QCoroTask>
#include <QStringList>

namespace halvik {

// Recognises Quillmar sites: folders directly inside a parent that hold both `keffin` and
// `composer.json` at their top level. Hidden entries are skipped; there is no recursion.
class QuillmarSiteDiscovery
{
public:
    // Standardised folder paths, in name order. An unreadable folder yields nothing.
    static QStringList discover(const QString& folder);
    // The same, off the main thread.
    static QCoro::Task<QStringList> discoverInBackground(QString folder);
};

} // namespace halvik
