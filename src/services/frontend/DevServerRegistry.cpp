#include "DevServerRegistry.h"

#include "platform/AppDataDir.h"
#include "platform/FileLock.h"
#include "platform/ProcessProbe.h"
#include "services/serving/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

using Json = nlohmann::json;

QList<DevServerRegistry::Entry> parse(const QByteArray& bytes)
{
    QList<DevServerRegistry::Entry> entries;
    const Json root = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!root.is_array())
        return entries;
    for (const Json& item : root) {
        if (!item.is_object())
            continue;
        DevServerRegistry::Entry entry;
        entry.site = QUuid::fromString(QString::fromStdString(item.value("site", std::string())));
        entry.pid = item.value("pid", qint64(0));
        entry.path = QString::fromStdString(item.value("path", std::string()));
        if (const auto url = item.find("url"); url != item.end() && url->is_string())
            entry.url = QUrl(QString::fromStdString(url->get<std::string>()));
        if (!entry.site.isNull() && entry.pid > 0)
            entries << entry;
    }
    return entries;
}

QByteArray serialize(const QList<DevServerRegistry::Entry>& entries)
{
    Json root = Json::array();
    for (const auto& entry : entries)
        root.push_back(Json{{"site", entry.site.toString(QUuid::WithoutBraces).toUpper().toStdString()},
                            {"pid", entry.pid},
                            {"path", entry.path.toStdString()},
                            {"url", entry.url ? Json(entry.url->toString().toStdString()) : Json(nullptr)}});
    return QByteArray::fromStdString(root.dump(2));
}

} // namespace

DevServerRegistry::DevServerRegistry(QString filePath)
    : m_filePath(filePath.isEmpty() ? AppDataDir::runtimeDirectory() + QStringLiteral("/dev-servers.json")
                                    : std::move(filePath))
{
}

bool DevServerRegistry::isRunning(qint64 pid)
{
    return ProcessProbe::isAlive(pid, QStringLiteral("npm"));
}

template <typename Change> QList<DevServerRegistry::Entry> DevServerRegistry::update(Change change) const
{
    return updateRegistryFile<Entry>(m_filePath, parse, serialize, &DevServerRegistry::isRunning, change);
}

QList<DevServerRegistry::Entry> DevServerRegistry::entries() const
{
    if (!QFileInfo::exists(m_filePath))
        return {};
    return update([](QList<Entry>&) {});
}

std::optional<DevServerRegistry::Entry> DevServerRegistry::entry(const QUuid& site) const
{
    for (const Entry& entry : entries())
        if (entry.site == site)
            return entry;
    return std::nullopt;
}

bool DevServerRegistry::records(qint64 pid) const
{
    const FileLock lock(m_filePath + QStringLiteral(".lock"));
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<Entry> entries = parse(file.readAll());
    return std::any_of(entries.cbegin(), entries.cend(), [pid](const Entry& e) { return e.pid == pid; });
}

void DevServerRegistry::add(const Entry& entry) const
{
    update([&entry](QList<Entry>& list) {
        list.removeIf([&entry](const Entry& e) { return e.site == entry.site || e.pid == entry.pid; });
        list << entry;
    });
}

void DevServerRegistry::remove(qint64 pid) const
{
    update([pid](QList<Entry>& list) { list.removeIf([pid](const Entry& e) { return e.pid == pid; }); });
}

} // namespace halvik
