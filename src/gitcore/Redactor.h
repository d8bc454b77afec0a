#pragma once

#include <QString>
#include <QStringList>

namespace halvik::gitcore {

// The one place that takes secrets out of text before it is shown, logged or saved: every
// command line, output line and error text of every tool Halvik runs goes through `redact`.
class Redactor
{
public:
    // What a secret that is not simply removed is replaced by.
    static constexpr auto mask = "********";

    // Removes user names and passwords from URLs (an HTTP URL is then written "https://"), the
    // credentials Git is given for a provider, and masks the access tokens of the providers'
    // known shapes, `--password=`-style option values, `Authorization` header values and every
    // occurrence of `knownSecrets` (exact values, such as a password the person typed).
    static QString redact(const QString& text, const QStringList& knownSecrets = {});
};

} // namespace halvik::gitcore
