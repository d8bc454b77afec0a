#pragma once

#include <QByteArray>

namespace halvik {

// Finds the origins of the local development host in generated text and makes the URLs
// root-relative: the site's own origin (from APP_URL) and any http(s) origin of a ".test" host,
// port included. An origin followed by "/" is dropped, any other becomes "/". An origin ends
// where the host and port end, so "site.testing" or "localhost:81" (for "localhost") are left
// alone. Works on the bytes as they are: text that is not valid UTF-8 comes back unchanged
// outside the replaced origins.
class LocalOriginRewriter
{
public:
    // `appOrigin` is "scheme://host[:port]", or empty when the site has none.
    explicit LocalOriginRewriter(QByteArray appOrigin = {});

    // The number of replacements; `text` is changed only when there is at least one.
    int rewrite(QByteArray& text) const;

private:
    // The length of a local origin starting at `start` (at an "http" scheme), 0 when none.
    qsizetype originAt(const QByteArray& text, qsizetype start, qsizetype schemeLength) const;

    QByteArray m_appOrigin;
};

} // namespace halvik
