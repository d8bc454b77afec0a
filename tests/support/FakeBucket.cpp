#include "FakeBucket.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QUrl>

namespace halvik::test {

namespace {

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray hmac(const QByteArray& key, const QByteArray& message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

QByteArray encodedPath(const QString& path)
{
    QByteArrayList segments;
    for (const QString& segment : path.split(QLatin1Char('/')))
        segments << QUrl::toPercentEncoding(segment);
    return segments.join('/');
}

} // namespace

FakeBucket::FakeBucket(QString bucketName, QString accessKey, QByteArray secretKey)
    : bucket(std::move(bucketName)), key(std::move(accessKey)), secret(std::move(secretKey))
{
    m_server.setHandler([this](const FakeApiServer::Request& request) { return answer(request); });
}

QString FakeBucket::signatureProblem(const FakeApiServer::Request& request) const
{
    static const QRegularExpression pattern(QStringLiteral(
        "^AWS4-HMAC-SHA256 Credential=([^/]+)/(\\d{8})/([^/]+)/s3/aws4_request, SignedHeaders=([a-z0-9;-]+), "
        "Signature=([0-9a-f]{64})$"));
    const auto match = pattern.match(QString::fromLatin1(request.header("authorization")));
    if (!match.hasMatch())
        return QStringLiteral("no signature");
    if (match.captured(1) != key)
        return QStringLiteral("unknown key");
    const QByteArray payload = request.header("x-amz-content-sha256");
    if (payload != sha256Hex(request.body))
        return QStringLiteral("payload hash");
    const QByteArray date = request.header("x-amz-date");
    if (!date.startsWith(match.captured(2).toLatin1()))
        return QStringLiteral("date");
    const QStringList signedHeaders = match.captured(4).split(QLatin1Char(';'));
    for (const char* required : {"host", "x-amz-content-sha256", "x-amz-date"})
        if (!signedHeaders.contains(QLatin1String(required)))
            return QStringLiteral("unsigned ") + QLatin1String(required);
    if (request.method == "PUT" && !signedHeaders.contains(QLatin1String("if-none-match")))
        return QStringLiteral("unsigned if-none-match");
    QByteArray canonicalHeaders;
    for (const QString& name : signedHeaders)
        canonicalHeaders += name.toLatin1() + ':' + request.header(name.toLatin1()).trimmed() + '\n';
    const QByteArray canonical = request.method + '\n' + encodedPath(request.path) + '\n' +
                                 request.query.toLatin1() + '\n' + canonicalHeaders + '\n' +
                                 match.captured(4).toLatin1() + '\n' + payload;
    const QByteArray scope =
        match.captured(2).toLatin1() + '/' + match.captured(3).toLatin1() + "/s3/aws4_request";
    const QByteArray toSign = "AWS4-HMAC-SHA256\n" + date + '\n' + scope + '\n' + sha256Hex(canonical);
    QByteArray signingKey = hmac("AWS4" + secret, match.captured(2).toLatin1());
    signingKey = hmac(signingKey, match.captured(3).toLatin1());
    signingKey = hmac(signingKey, "s3");
    signingKey = hmac(signingKey, "aws4_request");
    if (hmac(signingKey, toSign).toHex() != match.captured(5).toLatin1())
        return QStringLiteral("signature");
    return {};
}

FakeApiServer::Response FakeBucket::answer(const FakeApiServer::Request& request)
{
    const QString publicPrefix = QStringLiteral("/public/");
    if (request.path.startsWith(publicPrefix)) {
        const QString objectKey = request.path.mid(publicPrefix.size());
        if (!publicReads || request.method != "GET" || !objects.contains(objectKey))
            return {publicReads ? 404 : 403, {}, "text/plain", {}};
        return {200, objects.value(objectKey), "application/octet-stream", {}};
    }
    const QString prefix = QLatin1Char('/') + bucket + QLatin1Char('/');
    if (!request.path.startsWith(prefix))
        return {404, "NoSuchBucket", "text/plain", {}};
    const QString objectKey = request.path.mid(prefix.size());
    if (const QString problem = checkSignatures ? signatureProblem(request) : QString(); !problem.isEmpty()) {
        rejected << QString::fromLatin1(request.method) + QLatin1Char(' ') + objectKey +
                        QStringLiteral(": ") + problem;
        return {403, "SignatureDoesNotMatch", "text/plain", {}};
    }
    if (request.method == "PUT") {
        puts << objectKey;
        if (request.header("if-none-match") != "*") {
            rejected << QStringLiteral("PUT ") + objectKey + QStringLiteral(": unconditional");
            return {400, "Unconditional PUT", "text/plain", {}};
        }
        if (objects.contains(objectKey))
            return {412, "PreconditionFailed", "text/plain", {}};
        if (failAfterStores >= 0 && stores >= failAfterStores)
            return {500, "InternalError", "text/plain", {}};
        objects.insert(objectKey, request.body);
        ++stores;
        return {200, {}, "text/plain", {}};
    }
    if (request.method == "GET") {
        if (!objects.contains(objectKey))
            return {404, "NoSuchKey", "text/plain", {}};
        return {200, objects.value(objectKey), "application/octet-stream", {}};
    }
    if (request.method == "DELETE") {
        objects.remove(objectKey);
        return {204, {}, "text/plain", {}};
    }
    return {405, {}, "text/plain", {}};
}

} // namespace halvik::test
