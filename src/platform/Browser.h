#pragma once

#include <QUrl>

namespace halvik::Browser {

// Opens a URL in the desktop's default browser: $BROWSER when set (its first entry; "%s" is
// replaced by the URL, else the URL is appended), otherwise xdg-open (open on macOS).
// Returns whether the browser could be started.
bool open(const QUrl& url);

} // namespace halvik::Browser
