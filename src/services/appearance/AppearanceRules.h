#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace halvik::appearance {

// The user agent of every icon and page request.
inline constexpr char userAgent[] = "Halvik/1.0";
// The user agent the page renderer announces.
inline constexpr char pageUserAgent[] =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.4 Safari/605.1.15";

// Project files tried for an icon, in order of preference.
QStringList localIconPaths();
// Folders whose changes make a preview stale, and folders never walked looking for them.
QStringList contentRoots();
QStringList skipDirectoryNames();

// The URLs a page is tried at: a local https site over http first, a local http site then
// over https; any other URL only as it is.
QList<QUrl> captureURLCandidates(const QUrl& url);

// The icon links of a page, best first: apple-touch icons, then PNG or WebP, then SVG, then
// the rest, keeping document order among equals.
QStringList iconLinksFromHTML(const QString& html);
int iconLinkScore(const QString& href);

// A `data:` URL's bytes, or nothing when it is not a readable one.
std::optional<QByteArray> decodeDataURL(const QString& url);

// Whether the bytes are SVG markup: the URL ends in .svg, or the first 256 bytes mention <svg.
bool looksLikeSVG(const QUrl& url, const QByteArray& data);

} // namespace halvik::appearance
