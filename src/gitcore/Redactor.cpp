#include "gitcore/Redactor.h"

#include <QRegularExpression>

namespace halvik::gitcore {

namespace {

QString maskText()
{
    return QString::fromLatin1(Redactor::mask);
}

void removeURLCredentials(QString& text)
{
    if (!text.contains(QLatin1Char('@')))
        return;
    static const QRegularExpression userAndPassword(QStringLiteral("https?://[^/\\s:@]+:[^/\\s@]+@"));
    static const QRegularExpression providerCredential(
        QStringLiteral("(x-access-token|oauth2|x-token-auth):[^/\\s@]+@"));
    // Each removal can bring the next credential of a chain ("https://a:b@c:d@…") to the front.
    for (qsizetype before = -1; before != text.size();) {
        before = text.size();
        text.replace(userAndPassword, QStringLiteral("https://"));
        text.remove(providerCredential);
    }
}

// Each pattern only runs when its cheap marker is in the text: most lines hold none.
struct TokenShape
{
    QLatin1StringView marker;
    QRegularExpression pattern;
};

const QList<TokenShape>& tokenShapes()
{
    static const QList<TokenShape> shapes{
        // GitHub: classic and fine-grained personal tokens, OAuth, app and refresh tokens.
        {QLatin1StringView("gh"), QRegularExpression(QStringLiteral("\\bgh[pousr]_[A-Za-z0-9]{20,}"))},
        {QLatin1StringView("github_pat_"),
         QRegularExpression(QStringLiteral("\\bgithub_pat_[A-Za-z0-9_]{20,}"))},
        // GitLab: personal, OAuth, deploy, runner and pipeline-trigger tokens.
        {QLatin1StringView("gl"), QRegularExpression(QStringLiteral(
                                      "\\bgl(?:pat|oas|dt|rt|ptt|ft|imt|agent|soat)-[A-Za-z0-9_.\\-]{20,}"))},
        // Bitbucket app passwords and Atlassian API tokens.
        {QLatin1StringView("AT"),
         QRegularExpression(QStringLiteral("\\bAT(?:BB|ATT|CTT)[A-Za-z0-9_=\\-]{20,}"))},
        // Bearer tokens written as JSON Web Tokens (hosting APIs).
        {QLatin1StringView("eyJ"),
         QRegularExpression(
             QStringLiteral("\\beyJ[A-Za-z0-9_\\-]{8,}\\.[A-Za-z0-9_\\-]{8,}\\.[A-Za-z0-9_\\-]{8,}"))},
        // Netlify personal access tokens.
        {QLatin1StringView("nfp_"), QRegularExpression(QStringLiteral("\\bnfp_[A-Za-z0-9]{20,}"))},
    };
    return shapes;
}

void maskTokens(QString& text)
{
    for (const TokenShape& shape : tokenShapes())
        if (text.contains(shape.marker))
            text.replace(shape.pattern, maskText());
}

// `--password=value`, `--token value`-free forms only: an option whose name ends in one of the
// secret words, followed by "=" and a value (quoted or not).
void maskSecretOptions(QString& text)
{
    static const QStringList words{QStringLiteral("password"), QStringLiteral("passwd"),
                                   QStringLiteral("secret"), QStringLiteral("token")};
    bool any = false;
    for (const QString& word : words)
        any = any || text.contains(word, Qt::CaseInsensitive);
    if (!any)
        return;
    static const QRegularExpression option(
        QStringLiteral(
            "(--?[A-Za-z0-9_\\-]*(?:password|passwd|secret|token)=)(\"[^\"]*\"|'[^']*'|[^\\s\"']+)"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(option, QStringLiteral("\\1") + maskText());
}

void maskAuthorization(QString& text)
{
    if (!text.contains(QLatin1String("authorization"), Qt::CaseInsensitive))
        return;
    static const QRegularExpression header(
        QStringLiteral("(authorization\\s*[:=]\\s*(?:(?:bearer|basic|token|bot)\\s+)?)[^\\s\"']+"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(header, QStringLiteral("\\1") + maskText());
}

} // namespace

QString Redactor::redact(const QString& text, const QStringList& knownSecrets)
{
    QString result = text;
    // Again until nothing changes: taking one secret out can join the text around it into the
    // shape of another. Ordinary text goes through once.
    for (int pass = 0; pass < 8; ++pass) {
        const QString before = result;
        // Exact values first: a password may itself look like a URL or an option.
        for (const QString& secret : knownSecrets)
            if (!secret.isEmpty() && !maskText().contains(secret))
                result.replace(secret, maskText());
        removeURLCredentials(result);
        maskTokens(result);
        maskSecretOptions(result);
        maskAuthorization(result);
        if (result == before)
            break;
    }
    return result;
}

} // namespace halvik::gitcore
