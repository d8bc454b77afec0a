#pragma once

#include "ComposerRecords.h"

#include "async/Cancellation.h"
#include "async/HalvikError.h"
#include "services/runtime/HttpFetcher.h"

#include <QCoroTask>

namespace halvik {

class PackagistError : public HalvikError
{
public:
    enum class Case
    {
        badURL,
        badServerResponse,
        invalidJSON
    };

    static PackagistError badURL()
    {
        return {Case::badURL, QStringLiteral("The package name is not valid.")};
    }
    static PackagistError badServerResponse(int status)
    {
        return {Case::badServerResponse, QStringLiteral("Packagist answered with HTTP %1.").arg(status)};
    }
    static PackagistError invalidJSON()
    {
        return {Case::invalidJSON, QStringLiteral("Packagist returned data that could not be parsed.")};
    }
    Case kind() const { return m_case; }

private:
    PackagistError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

// A package's published versions from the Packagist metadata service. Main thread.
class PackagistClient
{
public:
    static constexpr auto defaultRepository = "https://repo.packagist.org";

    // The repository from HALVIK_PACKAGIST_URL, else Packagist's own.
    static QUrl systemRepository();

    explicit PackagistClient(QUrl repository = systemRepository()) : m_repository(std::move(repository)) {}

    QUrl repository() const { return m_repository; }
    // `<repository>/p2/<package>.json`, or nothing when no valid address can be built.
    std::optional<QUrl> metadataURL(const QString& package) const;

    // Throws PackagistError or HttpFetchError; tagged releases only, in the service's order.
    QCoro::Task<QList<PackagistVersion>> versions(QString package, CancellationToken token = {});

    // The versions in one metadata document (`packages.<package>`); throws invalidJSON.
    static QList<PackagistVersion> parseVersions(const QByteArray& body, const QString& package);

private:
    QUrl m_repository;
    HttpFetcher m_http{20000};
};

} // namespace halvik
