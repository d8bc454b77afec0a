#pragma once

#include <QObject>

namespace halvik {

// Base of the shared, observable records. Every setter goes through assign(), so observers
// hear `changed()` only when a value really changes.
class Record : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void changed();

protected:
    template <typename T, typename U>
    void assign(T& field, U&& value)
    {
        if (field == value)
            return;
        field = std::forward<U>(value);
        Q_EMIT changed();
    }
};

} // namespace halvik
