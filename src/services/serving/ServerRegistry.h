#pragma once

#include <QList>
#include <QString>
#include <QUuid>

namespace halvik {

// The built-in servers every Halvik process on this machine is running, kept in one small file
// in the runtime folder, so the window shows a server a terminal started and can stop it.
// Entries whose process is gone are dropped whenever the file is read.
class ServerRegistry
{
public:
    struct Entry
    {
        QUuid site;
        int port = 0;
        qint64 pid = 0; // also the server's process group
        QString path;   // the site folder

        bool operator==(const Entry&) const = default;
    };

    // By default the file lives in the platform's runtime folder.
    explicit ServerRegistry(QString filePath = {});

    QString filePath() const { return m_filePath; }
    QList<Entry> entries() const;
    // Whether the file still names this process, dead or alive (nothing is pruned).
    bool records(qint64 pid) const;
    // Replaces any entry of the same site.
    void add(const Entry& entry) const;
    void remove(qint64 pid) const;

    // Whether the pid still runs a built-in server.
    static bool isServing(qint64 pid);

private:
    template <typename Change> QList<Entry> update(Change change) const;

    QString m_filePath;
};

} // namespace halvik
