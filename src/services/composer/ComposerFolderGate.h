#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <chrono>
#include <memory>

namespace halvik {

// One Composer at a time in a folder. A run enters the gate of its working folder and waits
// there while an earlier run in the same folder holds it; the holder leaves when its Composer,
// and after a cancel every process that Composer started, is gone. Main thread.
class ComposerFolderGate : public QObject
{
    Q_OBJECT
public:
    // Held for one run; leaving happens when the last copy goes.
    class Pass
    {
    public:
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        friend class ComposerFolderGate;
        Pass(ComposerFolderGate* gate, QString folder) : m_gate(gate), m_folder(std::move(folder)) {}
        QPointer<ComposerFolderGate> m_gate;
        QString m_folder;
    };

    using Clock = std::chrono::milliseconds;

    explicit ComposerFolderGate(QObject* parent = nullptr) : QObject(parent) {}

    QCoro::Task<std::shared_ptr<Pass>> enter(QString folder);

    // Waits until the process group `pgid` (a cancelled run's Composer and its children) has
    // no process left, at most `limit`, then kills what remains.
    static QCoro::Task<> waitForGroupToEnd(qint64 pgid, Clock limit = std::chrono::seconds(10));

Q_SIGNALS:
    void left(const QString& folder);

private:
    static QString key(const QString& folder);
    void leave(const QString& folder);

    QSet<QString> m_held;
};

} // namespace halvik
