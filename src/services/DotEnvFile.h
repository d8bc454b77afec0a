#pragma once

#include "async/HalvikError.h"

#include <QList>
#include <QString>

#include <optional>

namespace halvik {

class DotEnvFileError : public HalvikError
{
public:
    DotEnvFileError() : HalvikError(QStringLiteral(".env file not found.")) {}
};

// Reading and writing a site's `.env` file. Stateless.
namespace DotEnvFile {

struct Entry
{
    QString key;
    QString value; // already unquoted

    bool operator==(const Entry&) const = default;
};

// The file's text. Throws DotEnvFileError when there is no file, HalvikError with the
// system's description when it cannot be read or is not UTF-8.
QString load(const QString& path);

// The entries in file order; lines without a key are skipped, parsing never fails.
QList<Entry> entries(const QString& text);

// The value of the first entry whose key matches exactly.
std::optional<QString> value(const QString& key, const QList<Entry>& entries);

// Writes the text atomically as UTF-8, ending it with a line feed unless it is empty.
void save(const QString& text, const QString& path);

// `.env` text for a list of variables: sorted by key, values quoted only where needed.
QString render(const QList<Entry>& variables);

} // namespace DotEnvFile

} // namespace halvik
