#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace halvik {

// A place in the document, for error messages: "sites[3].operations[0]". Built only when an
// error is reported, so decoding pays nothing for it.
struct JsonPlace
{
    const JsonPlace* parent = nullptr;
    const char* name = nullptr; // a key, or nullptr for an array element
    qsizetype index = -1;
    QString text() const;
};

// Reads a JSON document in one pass, front to back, without building a tree. String values
// come back as spans of the buffer so that callers decide whether (and when) to decode them.
// Every method throws StoreDecodeError on malformed input.
class StoreJsonCursor
{
public:
    struct String
    {
        const char* body = nullptr; // between the quotes, escapes intact
        qsizetype size = 0;
        bool escaped = false;
        QString decode() const;
    };
    enum class Kind
    {
        object,
        array,
        string,
        number,
        boolean,
        null,
        end
    };

    explicit StoreJsonCursor(const QByteArray& bytes);

    Kind peek();
    // Object members: call enterObject, then nextKey until it returns false.
    void enterObject(const JsonPlace& place);
    // The next member's key, positioned at its value. The view points into the buffer, or
    // into `scratch` when the key holds escapes.
    bool nextKey(QByteArrayView& key, QByteArray& scratch);
    void enterArray(const JsonPlace& place);
    bool nextElement();

    String readString(const JsonPlace& place);
    double readNumber(const JsonPlace& place, bool* integral = nullptr, qint64* integer = nullptr);
    bool readBool(const JsonPlace& place);
    // Consumes a null and returns true, or leaves anything else in place.
    bool skipNull();
    void skipValue();
    // Fails unless only white space is left.
    void expectEnd();

    [[noreturn]] void fail(const JsonPlace& place, const QString& problem) const;
    [[noreturn]] void malformed() const;

    const QByteArray& buffer() const { return m_bytes; }

private:
    void skipSpace();
    bool nextMember(char close);
    const char* scanString(bool& escaped); // returns the closing quote
    void skipComposite();

    QByteArray m_bytes; // shared with the caller, so string spans stay valid
    const char* m_p;
    const char* m_end;
    bool m_firstMember = false;
};

} // namespace halvik
