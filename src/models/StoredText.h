#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace halvik {

// A text read from store.json and kept as the bytes of its JSON string literal until someone
// reads it. Operation logs are nearly all of a store's bytes and most are never looked at, so
// a store loads without decoding them and saves them again by copying those bytes.
// Copies share the bytes and the decoded text; safe to copy and read from any thread.
class StoredText
{
public:
    StoredText() = default;
    StoredText(QString text); // NOLINT: a plain text is a stored text

    // `body` is what stands between the quotes of a JSON string inside `owner`, escapes
    // intact; `escaped` says whether it holds any backslash. The bytes are shared, not copied.
    static StoredText fromJsonBody(const QByteArray& owner, const char* body, qsizetype size, bool escaped);

    QString text() const;
    bool isEmpty() const;
    // Appends the text as a JSON string literal, quotes included, bounded as below.
    void appendJson(QByteArray& out, qsizetype maxBytes) const;

    // `text` itself when its UTF-8 form surely fits in `maxBytes`; otherwise its head and tail,
    // cut at line ends where one is near, with a line saying how much was left out. Costs
    // nothing for a text that fits and about `maxBytes` for one that does not.
    static QString bounded(const QString& text, qsizetype maxBytes);

    bool operator==(const StoredText& other) const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

namespace StoreJson {

// Appends `text` (UTF-8) escaped for a JSON string, without quotes.
void appendEscaped(QByteArray& out, const char* text, qsizetype size);
// Decodes the body of a JSON string (escapes intact) into text. Returns false on a bad escape.
bool decodeBody(const char* body, qsizetype size, QString& out);

} // namespace StoreJson

} // namespace halvik
