#include "SecretStore.h"

#include "platform/AppDataDir.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/Log.h"

#include <QFile>
#include <QMutexLocker>

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QMap<QString, QString> parseSecrets(const QByteArray& bytes)
{
    QMap<QString, QString> secrets;
    const auto json = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!json.is_object())
        return secrets; // unreadable: treated as empty, and replaced by the next write
    for (const auto& [key, value] : json.items())
        if (value.is_string())
            secrets.insert(QString::fromStdString(key), QString::fromStdString(value.get<std::string>()));
    return secrets;
}

} // namespace

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

std::optional<QString> SecretStore::lastWriteError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastWriteError;
}

void SecretStore::retryFailedWrite()
{
    QMutexLocker lock(&m_mutex);
    if (!m_lastWriteError)
        return;
    FileLock fileLock(filePath() + QStringLiteral(".lock"));
    writeFile();
}

std::optional<QString> SecretStore::get(const QString& account)
{
    QMutexLocker lock(&m_mutex);
    syncWithFile();
    if (auto it = m_cache.constFind(account); it != m_cache.constEnd())
        return *it;
    if (m_misses.contains(account))
        return std::nullopt;
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
    FileLock fileLock(filePath() + QStringLiteral(".lock"));
    syncWithFile();
    if (value.isEmpty()) {
        // An empty secret is no secret: keep it out of the cache so get() reports it absent.
        m_cache.remove(account);
        m_misses.insert(account);
    } else {
        m_cache.insert(account, value);
        m_misses.remove(account);
    }
    m_fileSecrets.insert(account, value);
    writeFile();
}

void SecretStore::remove(const QString& account)
{
    QMutexLocker lock(&m_mutex);
    FileLock fileLock(filePath() + QStringLiteral(".lock"));
    syncWithFile();
    m_cache.remove(account);
    m_misses.insert(account);
    if (m_fileSecrets.remove(account) > 0)
        writeFile();
}

void SecretStore::warmup(const QStringList& requiredAccounts)
{
    QMutexLocker lock(&m_mutex);
    syncWithFile();
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
    // Earlier versions on another platform kept secrets in its system secret store. No such
    // items exist here, so there is nothing to migrate.
}

// Reads the file when this process has not seen it yet or another process replaced it since.
// A file that went missing leaves what is in memory alone.
void SecretStore::syncWithFile()
{
    const QString path = filePath();
    const FileStamp stamp = FileStamp::of(path);
    if (m_fileLoaded && stamp == m_stamp)
        return;
    const bool changedElsewhere = m_fileLoaded;
    m_fileLoaded = true;
    m_stamp = stamp;
    if (!stamp.exists)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    ++m_fileReads;
    m_fileSecrets = parseSecrets(file.readAll());
    if (changedElsewhere) {
        // Another process stored or removed secrets: answer from its file from now on.
        m_cache.clear();
        m_misses.clear();
    }
}

void SecretStore::writeFile()
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (auto it = m_fileSecrets.constBegin(); it != m_fileSecrets.constEnd(); ++it)
        object[it.key().toStdString()] = it.value().toStdString();
    const QString path = filePath();
    const QByteArray bytes =
        QByteArray::fromStdString(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    m_lastWriteError = writeFileAtomically(path, bytes, kOwnerOnly);
    if (m_lastWriteError) {
        qCWarning(halvikLog).noquote() << "Halvik secrets write failed: " + *m_lastWriteError;
        return;
    }
    if (!QFile::setPermissions(path, kOwnerOnly))
        qCWarning(halvikLog).noquote()
            << "Halvik secrets write failed: couldn’t set the file’s permissions to 0600.";
    m_stamp = FileStamp::of(path);
}

} // namespace halvik
