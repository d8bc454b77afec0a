#pragma once

#include <QString>

#include <exception>
#include <string>

namespace halvik {

// Base of every service error. description() is the one sentence a person sees, unchanged.
class HalvikError : public std::exception
{
public:
    explicit HalvikError(QString description)
        : m_description(std::move(description)), m_what(m_description.toStdString())
    {
    }

    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    QString m_description;
    std::string m_what;
};

// Thrown by anything awaited under a token that was cancelled.
class CancelledError : public HalvikError
{
public:
    CancelledError() : HalvikError(QStringLiteral("Cancelled")) {}
};

} // namespace halvik
