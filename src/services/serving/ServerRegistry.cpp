#include "ServerRegistry.h"

#include "RegistryFile.h"
#include "platform/AppDataDir.h"
#include "platform/FileLock.h"
#include "platform/ProcessProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

using Json = nlohmann::json;

QList<ServerRegistry::Entry> parse(const QByteArray& bytes)
{
    QList<ServerRegistry::Entry> entries;
    const Json root = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!root.is_array())
        return entries;
    for (const Json& item : root) {
        if (!item.is_object())
            continue;
        ServerRegistry::Entry entry;
        entry.site = QUuid::fromString(QString::fromStdString(item.value("site", std::string())));
        entry.port = item.value("port", 0);
        entry.pid = item.value("pid", qint64(0));
        entry.path = QString::fromStdString(item.value("path", std::string()));
        if (!entry.site.isNull() && entry.port > 0 && entry.pid > 0)
            entries << entry;
    }
    return entries;
}

QByteArray serialize(const QList<ServerRegistry::Entry>& entries)
{
    Json root = Json::array();
    for (const auto& entry : entries)
        root.push_back(Json{{"site", entry.site.toString(QUuid::WithoutBraces).toUpper().toStdString()},
                            {"port", entry.port},
                            {"pid", entry.pid},
                            {"path", entry.path.toStdString()}});
    return QByteArray::fromStdString(root.dump(2));
}

} // namespace

ServerRegistry::ServerRegistry(QString filePath)
    : m_filePath(filePath.isEmpty() ? AppDataDir::runtimeDirectory() + QStringLiteral("/servers.json")
                                    : std::move(filePath))
{
}

bool ServerRegistry::isServing(qint64 pid)
{
    return ProcessProbe::isAlive(pid, QStringLiteral("artisan"));
}

template <typename Change> QList<ServerRegistry::Entry> ServerRegistry::update(Change change) const
{
    return updateRegistryFile<Entry>(m_filePath, parse, serialize, &ServerRegistry::isServing, change);
}

QList<ServerRegistry::Entry> ServerRegistry::entries() const
{
    if (!QFileInfo::exists(m_filePath))
        return {};
    return update([](QList<Entry>&) {});
}

bool ServerRegistry::records(qint64 pid) const
{
    const FileLock lock(m_filePath + QStringLiteral(".lock"));
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<Entry> entries = parse(file.readAll());
    return std::any_of(entries.cbegin(), entries.cend(), [pid](const Entry& e) { return e.pid == pid; });
}

void ServerRegistry::add(const Entry& entry) const
{
    update([&entry](QList<Entry>& list) {
        list.removeIf([&entry](const Entry& e) { return e.site == entry.site || e.pid == entry.pid; });
        list << entry;
    });
}

void ServerRegistry::remove(qint64 pid) const
{
    update([pid](QList<Entry>& list) { list.removeIf([pid](const Entry& e) { return e.pid == pid; }); });
}

} // namespace halvik
