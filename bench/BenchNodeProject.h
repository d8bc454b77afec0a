#pragma once

#include <QDir>
#include <QFile>
#include <QString>

namespace halvik::bench {

// A Vite-like project: `npm run dev` runs `program` (a Node script written here), node_modules
// is present so nothing is installed.
inline void writeNodeProject(const QString& folder, const QByteArray& program)
{
    QDir().mkpath(folder + QStringLiteral("/public"));
    QDir().mkpath(folder + QStringLiteral("/node_modules"));
    QFile package(folder + QStringLiteral("/package.json"));
    package.open(QIODevice::WriteOnly);
    package.write(R"({"name":"bench","private":true,"scripts":{"dev":"node server.js # vite"},)"
                  R"("devDependencies":{"vite":"^5.0.0"}})");
    QFile script(folder + QStringLiteral("/server.js"));
    script.open(QIODevice::WriteOnly);
    script.write(program);
}

// Prints Vite's banner at once and keeps running.
inline const QByteArray bannerProgram =
    "console.log('\\n  \\x1b[32mVITE v5.0.0\\x1b[39m  ready in 100 ms\\n');\n"
    "console.log('  \\x1b[32m➜\\x1b[39m  \\x1b[1mLocal\\x1b[22m:   "
    "\\x1b[36mhttp://localhost:5173/\\x1b[39m');\n"
    "setInterval(() => {}, 1000);\n";

} // namespace halvik::bench
