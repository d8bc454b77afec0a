#pragma once

#include "SiteImporter.h"

#include "services/HerdService.h"
#include "services/ProcessRunner.h"
#include "services/git/GitService.h"

#include <QObject>

namespace halvik {

class SiteStore;

// The serving engine and what importing needs around it, created together. Held by whoever
// offers imports (the window, the CLI) until the application services own them.
struct ImportServices : QObject
{
    explicit ImportServices(SiteStore& store, HerdRoots roots = HerdRoots::system(), QObject* parent = nullptr)
        : QObject(parent), herd(std::move(roots)), git(runner), importer(store, herd, git)
    {
        herd.refresh();
    }

    ProcessRunner runner;
    HerdService herd;
    GitService git;
    SiteImporter importer;
};

} // namespace halvik
