#pragma once

#include "async/HalvikError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace halvik {

// The newest release, as the release feed describes it.
struct Release
{
    QString version; // "1.2.3"
    QUrl url;        // the page to download it from
    QString notes;   // may be empty

    bool operator==(const Release&) const = default;
};

// Why a release feed could not be used; the description is the one sentence the person sees.
class UpdateCheckError : public HalvikError
{
public:
    using HalvikError::HalvikError;
    static UpdateCheckError unreachable();
    static UpdateCheckError httpStatus(int status);
    static UpdateCheckError malformed();
};

// Reading the feed, a JSON document {"version": "x.y.z", "url": "…", "notes": "…"}, and
// comparing its version with ours.
namespace ReleaseFeed {

// Throws UpdateCheckError::malformed() unless `body` is such a document with a dotted numeric
// version and an http(s) URL.
Release parse(const QByteArray& body);

// Negative, zero or positive as `a` is older than, the same as or newer than `b`. Versions are
// dot-separated numbers; missing parts count as zero ("1.2" equals "1.2.0"), and a leading "v"
// is ignored.
int compareVersions(const QString& a, const QString& b);

// Whether `version` is dotted numbers as compareVersions() reads them.
bool isVersion(const QString& version);

} // namespace ReleaseFeed

} // namespace halvik
