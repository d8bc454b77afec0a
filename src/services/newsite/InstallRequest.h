#pragma once

#include "models/Enums.h"
#include "services/composer/ComposerRecords.h"

#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace halvik {

// Everything one new-site installation needs, collected by the wizard or `halvik new`.
struct InstallRequest
{
    QUuid siteID;
    QUrl destination;
    QString slug;
    std::optional<QString> version;    // a CMS release, or "latest"
    std::optional<QString> starterKit; // Composer package; none for a fresh site
    ContentStorage contentStorage = ContentStorage::flatFiles;
    bool installSSG = false;
    bool createSuperUser = false;
    QString adminName;
    QString adminEmail;
    QString adminPassword;
    bool secureHerd = false;
    PHPSource phpSource = PHPSource::automatic;
    bool initGit = false;
    bool createGitHubRepo = false;
    bool githubRepoIsPrivate = true;
    std::optional<QString> githubToken;
    std::optional<QString> isolatePHPVersion;
};

} // namespace halvik
