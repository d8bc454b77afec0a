#pragma once

#include "models/Enums.h"

#include <QString>
#include <QUrl>
#include <QUuid>

namespace halvik {

// One duplicate of a site, collected by the clone sheet or `halvik duplicate`.
struct CloneRequest
{
    QUuid sourceSiteID;
    QUuid targetSiteID;
    QString sourcePath;
    QUrl destination;
    QString slug;
    bool secureHerd = false;
    bool regenerateAppKey = false;
    bool removeGit = false;
    PHPSource phpSource = PHPSource::automatic;
    bool usesSSG = false;
};

} // namespace halvik
