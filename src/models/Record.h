#pragma once

#include <QObject>

#include <atomic>

namespace halvik {

// Base of the shared, observable records. Every setter goes through assign(), so observers
// hear `changed()` only when a value really changes. Each change also stamps the record with
// a new revision from one process-wide counter, which is how the store finds what to save.
class Record : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    quint64 revision() const { return m_revision; }
    // The newest revision handed out so far.
    static quint64 latestRevision() { return s_counter.load(std::memory_order_relaxed); }

Q_SIGNALS:
    void changed();

protected:
    template <typename T, typename U> void assign(T& field, U&& value)
    {
        if (field == value)
            return;
        field = std::forward<U>(value);
        touch();
    }
    void touch()
    {
        m_revision = s_counter.fetch_add(1, std::memory_order_relaxed) + 1;
        Q_EMIT changed();
    }

private:
    static inline std::atomic<quint64> s_counter{0};
    quint64 m_revision = 0;
};

} // namespace halvik
