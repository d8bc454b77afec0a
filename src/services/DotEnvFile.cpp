#include "DotEnvFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

namespace halvik::DotEnvFile {

namespace {

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && (text.front() == QLatin1Char(' ') || text.front() == QLatin1Char('\t')))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == QLatin1Char(' ') || text.back() == QLatin1Char('\t')))
        text.chop(1);
    return text;
}

// The part of a line after an optional `export ` prefix, or nothing for blank and comment lines.
std::optional<QStringView> assignment(QStringView line)
{
    line = trimBlanks(line);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return std::nullopt;
    if (line.first(std::min<qsizetype>(7, line.size()))
            .compare(QLatin1String("export "), Qt::CaseInsensitive) == 0)
        line = trimBlanks(line.sliced(7));
    return line;
}

std::optional<Entry> entryOf(QStringView line)
{
    const auto body = assignment(line);
    if (!body)
        return std::nullopt;
    const qsizetype equals = body->indexOf(QLatin1Char('='));
    if (equals < 0)
        return std::nullopt;
    const QStringView key = trimBlanks(body->first(equals));
    if (key.isEmpty())
        return std::nullopt;

    QStringView raw = trimBlanks(body->sliced(equals + 1));
    QStringView value = raw;
    const auto quotedBy = [&raw](QChar quote) {
        return !raw.isEmpty() && raw.front() == quote && raw.back() == quote;
    };
    if (quotedBy(QLatin1Char('"')) || quotedBy(QLatin1Char('\''))) {
        value = raw.size() >= 2 ? raw.sliced(1, raw.size() - 2) : QStringView();
    } else if (const qsizetype hash = raw.indexOf(QLatin1Char('#')); hash >= 0) {
        value = trimBlanks(raw.first(hash));
    }
    return Entry{key.toString(), value.toString()};
}

} // namespace

QString load(const QString& path)
{
    if (!QFileInfo::exists(path))
        throw DotEnvFileError();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw HalvikError(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw HalvikError(file.errorString());
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        throw HalvikError(QStringLiteral("%1 is not valid UTF-8.").arg(path));
    return text;
}

QList<Entry> entries(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|[\n\r\v\f\u0085\u2028\u2029]"));
    QList<Entry> result;
    for (const QStringView line : QStringView(text).split(lineBreak)) {
        if (auto entry = entryOf(line))
            result.append(std::move(*entry));
    }
    return result;
}

std::optional<QString> value(const QString& key, const QList<Entry>& entries)
{
    for (const Entry& entry : entries) {
        if (entry.key == key)
            return entry.value;
    }
    return std::nullopt;
}

void save(const QString& text, const QString& path)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes.append('\n');
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw HalvikError(file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit())
        throw HalvikError(file.errorString());
}

QString render(const QList<Entry>& variables)
{
    static const QRegularExpression needsQuotes(QStringLiteral("[\\s#\"'\\\\]"),
                                                QRegularExpression::UseUnicodePropertiesOption);
    QList<Entry> sorted = variables;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Entry& a, const Entry& b) { return a.key < b.key; });

    QStringList lines;
    for (const Entry& variable : sorted) {
        if (variable.value.isEmpty() || !variable.value.contains(needsQuotes)) {
            lines.append(variable.key + QLatin1Char('=') + variable.value);
            continue;
        }
        QString escaped = variable.value;
        escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
        lines.append(variable.key + QLatin1String("=\"") + escaped + QLatin1Char('"'));
    }
    if (lines.isEmpty())
        return {};
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace halvik::DotEnvFile
