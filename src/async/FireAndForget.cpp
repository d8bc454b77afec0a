#include "FireAndForget.h"

#include "HalvikError.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QObject>

namespace halvik {

namespace {

QCoro::Task<> runDetached(QByteArray owner, QCoro::Task<> task)
{
    try {
        co_await std::move(task);
    } catch (const CancelledError&) {
    } catch (const std::exception& error) {
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik task of %1 failed: %2")
                   .arg(QString::fromLatin1(owner), QString::fromUtf8(error.what()));
    } catch (...) {
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik task of %1 failed.").arg(QString::fromLatin1(owner));
    }
}

} // namespace

void fireAndForget(const QObject* context, QCoro::Task<> task)
{
    QByteArray owner =
        context ? QByteArray(context->metaObject()->className()) : QByteArrayLiteral("(nothing)");
    // The wrapper's frame frees itself when it ends; dropping its handle here is what detaches it.
    runDetached(std::move(owner), std::move(task));
}

} // namespace halvik
