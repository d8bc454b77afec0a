#pragma once

#include "models/Site.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik {

class HerdService;

// Where a new or copied site answers, and the .env lines that say so.
namespace SiteAddress {

// Ports another registered site already claims: its stored localPort, or the port of a
// loopback APP_URL in its .env.
QSet<int> portsInUse(const QList<SitePtr>& sites, const QUuid& except);
// A free loopback port none of those sites claims.
int pickLocalPort(const QList<SitePtr>& sites, const QUuid& except);
// The engine's domain for the slug when Herd or Valet is there, else 127.0.0.1 and the port.
QString applicationURL(const HerdService* herd, const QString& slug, bool secure, std::optional<int> port);
// Replaces the APP_URL line of the folder's .env (appends one when there is none); atomic.
void writeAppURL(const QString& siteFolder, const QString& url);
// DB_CONNECTION=sqlite in the folder's .env; atomic.
void configureSQLite(const QString& siteFolder);

} // namespace SiteAddress

} // namespace halvik
