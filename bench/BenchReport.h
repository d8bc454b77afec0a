#pragma once

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <functional>

namespace halvik::bench {

// Prints one figure as a JSON line. `ratio` is value / baseline, both measured in this run.
inline void report(const QString& name, double value, const QString& unit, double baseline = -1,
                   const QString& note = {}, const QJsonObject& extra = {})
{
    QJsonObject line{{"bench", name}, {"value", value}, {"unit", unit}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        line.insert(it.key(), it.value());
    if (baseline > 0) {
        line["baseline"] = baseline;
        line["ratio"] = value / baseline;
    }
    if (!note.isEmpty())
        line["note"] = note;
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// Best (lowest) wall time in seconds over `runs` runs: shared machines are noisy upwards only.
inline double bestSeconds(int runs, const std::function<void()>& body)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        body();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

// Best (lowest) of the figures `runs` runs of `measure` return, for runs whose timed part is
// only some of what they do (a start timed, its stop not).
inline double bestOf(int runs, const std::function<double()>& measure)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, measure());
    return best;
}

} // namespace halvik::bench
