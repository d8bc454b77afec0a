#pragma once

#include <QString>
#include <QTextStream>

#include <nlohmann/json.hpp>

#include <optional>

namespace halvik {

class Site;

namespace cli {

// Every JSON document the command line prints is built with this, keys in a fixed order.
using Json = nlohmann::ordered_json;

std::string utf8(const QString& text);
// A string, or null when there is none.
Json optionalJson(const std::optional<QString>& value);

// One site, in the one shape every command that prints a site uses.
Json siteJson(const Site& site);

// Pretty-printed, two spaces, one trailing newline.
void printJson(QTextStream& stream, const Json& json);

} // namespace cli
} // namespace halvik
