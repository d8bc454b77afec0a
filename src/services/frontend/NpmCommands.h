#pragma once

#include "services/ProcessRequest.h"
#include "services/runtime/NodeRuntime.h"

namespace halvik::NpmCommands {

// The toolchain's folder, then `phpEntries`, then the system folders, each once.
QStringList pathFor(const NodeRuntime::Toolchain& node, const QStringList& phpEntries);

// "npm ci" when the folder has a package-lock.json, otherwise "npm install".
QStringList installArguments(const QString& folder);

// `npm ci` / `npm install` in the folder, with CI=1, npm_config_yes and npm_node_execpath.
ProcessRequest install(const QString& folder, const NodeRuntime::Toolchain& node, const QStringList& path);

// `npm run <script>` in the folder, with npm_node_execpath and `extra` on top.
ProcessRequest runScript(const QString& folder, const NodeRuntime::Toolchain& node, const QStringList& path,
                         const QString& script, const QMap<QString, QString>& extra = {});

} // namespace halvik::NpmCommands
