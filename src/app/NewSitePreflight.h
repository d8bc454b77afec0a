#pragma once

#include "models/Enums.h"

#include <QCoroTask>
#include <QString>

#include <optional>

namespace halvik {

class AppServices;

// What a person asked for before a new site exists, checked so that a doomed install never
// starts. The wizard and `halvik new` ask the same questions and show the same sentences.
struct NewSiteDraft
{
    QString destination;
    std::optional<QString> starterKit;
    std::optional<QString> version;
    bool createSuperUser = false;
    QString adminPassword;
    PHPSource phpSource = PHPSource::automatic;
    bool createGitHubRepo = false;
};

// The first problem found, or nothing. Reads the marketplace (cached) and the release list;
// a release list that cannot load skips that check.
QCoro::Task<std::optional<QString>> newSiteProblem(AppServices& services, NewSiteDraft draft);

// The checks that need no network, for a screen to run on every keystroke.
std::optional<QString> localNewSiteProblem(AppServices& services, const NewSiteDraft& draft);

} // namespace halvik
