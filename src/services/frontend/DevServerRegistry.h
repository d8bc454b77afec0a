#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace halvik {

// The frontend dev servers every Halvik process on this machine runs, in one small file in the
// runtime folder: the window shows and stops a terminal's, a terminal stops the window's, and
// a second start anywhere is refused. Entries whose process is gone are dropped on every read.
class DevServerRegistry
{
public:
    struct Entry
    {
        QUuid site;
        qint64 pid = 0; // also the process group of the npm script
        QString path;   // the site folder
        std::optional<QUrl> url;

        bool operator==(const Entry&) const = default;
    };

    explicit DevServerRegistry(QString filePath = {});

    QString filePath() const { return m_filePath; }
    QList<Entry> entries() const;
    std::optional<Entry> entry(const QUuid& site) const;
    // Whether the file still names this process, dead or alive (nothing is pruned).
    bool records(qint64 pid) const;
    // Replaces any entry of the same site.
    void add(const Entry& entry) const;
    void remove(qint64 pid) const;

    static bool isRunning(qint64 pid);

private:
    template <typename Change> QList<Entry> update(Change change) const;

    QString m_filePath;
};

} // namespace halvik
