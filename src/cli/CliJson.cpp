#include "CliJson.h"

#include "models/HostAccount.h"
#include "models/Site.h"

namespace halvik::cli {

std::string utf8(const QString& text)
{
    return text.toStdString();
}

Json optionalJson(const std::optional<QString>& value)
{
    return value ? Json(utf8(*value)) : Json(nullptr);
}

Json siteJson(const Site& site)
{
    return Json{{"id", utf8(uuidString(site.id()))},
                {"name", utf8(site.name())},
                {"displayName", utf8(site.displayName())},
                {"path", utf8(site.path())},
                {"createdAt", utf8(site.createdAt().toUTC().toString(Qt::ISODate))},
                {"phpSource", utf8(site.phpSourceRaw())},
                {"herdLinked", site.herdLinked()},
                {"usesSSG", site.usesSSG()},
                {"githubRepo", optionalJson(site.githubRepo())},
                {"localPort", site.localPort() ? Json(*site.localPort()) : Json(nullptr)}};
}

void printJson(QTextStream& stream, const Json& json)
{
    stream << QString::fromStdString(json.dump(2)) << '\n';
    stream.flush();
}

} // namespace halvik::cli
