#include "SecretStore.h"

#include "platform/AppDataDir.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace halvik {

namespace {
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

SecretStore::SecretStore(QString filePath) : m_filePath(std::move(filePath)) {}

SecretStore& SecretStore::shared()
{
    static SecretStore store;
    return store;
}

QString SecretStore::filePath() const
{
    return m_filePath.isEmpty() ? AppDataDir::directory() + QStringLiteral("/secrets.json") : m_filePath;
}

std::optional<QString> SecretStore::get(const QString& account)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_cache.constFind(account); it != m_cache.constEnd())
        return *it;
    if (m_misses.contains(account))
        return std::nullopt;
    loadFileIfNeeded();
    const QString value = m_fileSecrets.value(account);
    if (!value.isEmpty()) {
        m_cache.insert(account, value);
        return value;
    }
    m_misses.insert(account);
    return std::nullopt;
}

void SecretStore::set(const QString& value, const QString& account)
{
    QMutexLocker lock(&m_mutex);
    if (value.isEmpty()) {
        // An empty secret is no secret: keep it out of the cache so get() reports it absent.
        m_cache.remove(account);
        m_misses.insert(account);
    } else {
        m_cache.insert(account, value);
        m_misses.remove(account);
    }
    loadFileIfNeeded();
    m_fileSecrets.insert(account, value);
    writeFile();
}

void SecretStore::remove(const QString& account)
{
    QMutexLocker lock(&m_mutex);
    m_cache.remove(account);
    m_misses.insert(account);
    loadFileIfNeeded();
    if (m_fileSecrets.remove(account) > 0)
        writeFile();
}

void SecretStore::warmup(const QStringList& requiredAccounts)
{
    QMutexLocker lock(&m_mutex);
    loadFileIfNeeded();
    for (auto it = m_fileSecrets.constBegin(); it != m_fileSecrets.constEnd(); ++it) {
        if (!it.value().isEmpty()) {
            m_cache.insert(it.key(), it.value());
            m_misses.remove(it.key());
        }
    }
    for (const QString& account : requiredAccounts) {
        if (m_cache.value(account).isEmpty()) {
            migrateLegacyItems();
            break;
        }
    }
}

void SecretStore::migrateLegacyItems()
{
    // Earlier versions kept secrets in the macOS keychain. No such items exist on Linux, and
    // this build has no keychain access, so there is nothing to migrate.
}

void SecretStore::loadFileIfNeeded()
{
    if (m_fileLoaded)
        return;
    m_fileLoaded = true;
    ++m_fileReads;
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        if (it.value().isString())
            m_fileSecrets.insert(it.key(), it.value().toString());
}

void SecretStore::writeFile()
{
    QJsonObject object;
    for (auto it = m_fileSecrets.constBegin(); it != m_fileSecrets.constEnd(); ++it)
        object.insert(it.key(), it.value());
    const QString path = filePath();
    if (auto error = writeFileAtomically(path, QJsonDocument(object).toJson(QJsonDocument::Compact), kOwnerOnly)) {
        qCWarning(halvikLog).noquote() << "Halvik secrets write failed: " + *error;
        return;
    }
    if (!QFile::setPermissions(path, kOwnerOnly))
        qCWarning(halvikLog).noquote() << "Halvik secrets write failed: couldn’t set the file’s permissions to 0600.";
}

} // namespace halvik
