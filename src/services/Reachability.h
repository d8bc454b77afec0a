#pragma once

#include <QString>

#include <optional>

namespace halvik {

// Whether a URL answers, and the one-line summary screens show for it.
class Reachability
{
public:
    enum class Case
    {
        server,
        appError,
        gateway,
        unreachable,
        unknown,
        checking,
        notRunning
    };

    Reachability() = default; // unknown
    static Reachability server(int status, std::optional<QString> serverHeader = std::nullopt)
    {
        return {Case::server, status, std::move(serverHeader), {}};
    }
    static Reachability appError(int status, std::optional<QString> serverHeader = std::nullopt)
    {
        return {Case::appError, status, std::move(serverHeader), {}};
    }
    static Reachability gateway(int status) { return {Case::gateway, status, std::nullopt, {}}; }
    static Reachability unreachable(QString reason)
    {
        return {Case::unreachable, 0, std::nullopt, std::move(reason)};
    }
    static Reachability unknown() { return {}; }
    static Reachability checking() { return {Case::checking, 0, std::nullopt, {}}; }
    static Reachability notRunning() { return {Case::notRunning, 0, std::nullopt, {}}; }

    // How a completed HTTP response is classified.
    static Reachability fromStatus(int status, std::optional<QString> serverHeader);

    Case kind() const { return m_case; }
    int status() const { return m_status; }
    const std::optional<QString>& serverHeader() const { return m_serverHeader; }
    const QString& reason() const { return m_reason; }
    // A server answered: the site is served, even if the app itself failed.
    bool isServing() const { return m_case == Case::server || m_case == Case::appError; }
    // Something should answer and does not (a site not started, not checked or still coming up
    // is not failing).
    bool isFailing() const
    {
        return !isServing() && m_case != Case::notRunning && m_case != Case::unknown &&
               m_case != Case::checking;
    }

    QString summary() const;

    bool operator==(const Reachability&) const = default;

private:
    Reachability(Case kind, int status, std::optional<QString> serverHeader, QString reason)
        : m_case(kind), m_status(status), m_serverHeader(std::move(serverHeader)), m_reason(std::move(reason))
    {
    }

    Case m_case = Case::unknown;
    int m_status = 0;
    std::optional<QString> m_serverHeader;
    QString m_reason;
};

} // namespace halvik
