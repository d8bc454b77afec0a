#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <chrono>
#include <memory>

namespace halvik {

// One Composer at a time in a folder. A run enters the gate of its working folder and waits
// there while an earlier run in the same folder holds it; the holder leaves when its Composer
// has ended, and after a cancel only once every process that Composer started is gone too.
// Main thread.
class ComposerFolderGate : public QObject
{
    Q_OBJECT
public:
    // Held for one run; the folder is left when the pass goes.
    class Pass
    {
    public:
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

        // The folder stays held after the pass goes until the process group `pgid` (a cancelled
        // Composer and its scripts) has no process left.
        void holdUntilGroupEnds(qint64 pgid) { m_group = pgid; }

    private:
        friend class ComposerFolderGate;
        Pass(ComposerFolderGate* gate, QString folder) : m_gate(gate), m_folder(std::move(folder)) {}
        QPointer<ComposerFolderGate> m_gate;
        QString m_folder;
        qint64 m_group = 0;
    };

    // How long a cancelled Composer's processes may take to end before they are killed.
    static constexpr std::chrono::seconds groupLimit{10};

    explicit ComposerFolderGate(QObject* parent = nullptr) : QObject(parent) {}

    QCoro::Task<std::shared_ptr<Pass>> enter(QString folder);

Q_SIGNALS:
    void left(const QString& folder);

private:
    static QString key(const QString& folder);
    void leaveWhenGroupEnds(const QString& folder, qint64 pgid);
    void leave(const QString& folder);

    QSet<QString> m_held;
};

} // namespace halvik
