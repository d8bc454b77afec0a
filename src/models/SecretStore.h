#pragma once

#include "platform/FileLock.h"

#include <QHash>
#include <QMap>
#include <QRecursiveMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

// Every secret of the application (provider tokens, hosting API tokens) by account key, kept
// in secrets.json (mode 0600) in the application folder and cached in memory. Safe to call
// from any thread: all access is serialised. An empty value counts as absent.
//
// Other Halvik processes share the file: a change is made under a lock beside it, on top of
// the file as it is then, and a lookup notices when another process replaced the file.
class SecretStore
{
public:
    // `filePath` overrides the file (tests); otherwise it is secrets.json in AppDataDir::directory().
    explicit SecretStore(QString filePath = {});

    // The process-wide store.
    static SecretStore& shared();

    std::optional<QString> get(const QString& account);
    void set(const QString& value, const QString& account);
    // Named `remove` because `delete` is a keyword here.
    void remove(const QString& account);
    // Loads the file into the cache; where required keys are still missing, the platform's
    // legacy secret migration would run (there is none on Linux).
    void warmup(const QStringList& requiredAccounts);

    QString filePath() const;
    // Why the last write of the file failed; nothing once one succeeds. What could not be
    // written stays in memory and goes with the next write.
    std::optional<QString> lastWriteError() const;
    // Writes the file again when the last write failed.
    void retryFailedWrite();
    // How many times the file was read: once, and again only after another process changed it.
    int fileReads() const { return m_fileReads; }

private:
    void syncWithFile();
    void writeFile();
    void migrateLegacyItems();

    mutable QRecursiveMutex m_mutex;
    QString m_filePath;
    QHash<QString, QString> m_cache;
    QSet<QString> m_misses;
    QMap<QString, QString> m_fileSecrets;
    FileStamp m_stamp;
    bool m_fileLoaded = false;
    int m_fileReads = 0;
    std::optional<QString> m_lastWriteError;
};

} // namespace halvik
