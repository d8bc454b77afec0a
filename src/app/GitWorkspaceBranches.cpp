// The Git workspace's operations on commits, branches, remotes, set-aside changes and the
// repository itself.
#include "GitWorkspace.h"

namespace halvik {

using namespace gitcore;

namespace {
const QSet<QString> noPaths;
}

QCoro::Task<> GitWorkspace::commit()
{
    const LifeToken alive = m_life.token();
    const QString text = m_message.isEmpty() ? m_suggestedMessage : m_message;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site, text](CancellationToken) -> QCoro::Task<> {
        co_await service.commitStaged(site, text);
    };
    const QString label = QStringLiteral("Commit");
    const bool ran = co_await run(label, GitBusyKind::local, noPaths, body);
    if (alive && ran && !m_noticeFailed)
        setMessage(QString());
}

QCoro::Task<> GitWorkspace::pull()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const LifeToken alive = m_life.token();
    const Body body = [this, alive, &service, site](CancellationToken token) -> QCoro::Task<> {
        const bool clashed = co_await service.pullRebase(site, token);
        if (clashed && alive) {
            m_unmergedSource = GitConflictKind::autostash;
            m_successNotice =
                QStringLiteral("Pull finished, but your uncommitted changes clash with the pulled "
                               "ones. Resolve them, then Mark Resolved; a copy stays set aside.");
        }
    };
    const QString label = QStringLiteral("Pull");
    co_await run(label, GitBusyKind::network, noPaths, body);
}

QCoro::Task<> GitWorkspace::push()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken token) -> QCoro::Task<> {
        co_await service.push(site, token);
    };
    const QString label = QStringLiteral("Push");
    co_await run(label, GitBusyKind::network, noPaths, body);
}

QCoro::Task<> GitWorkspace::continueRebase()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.continueRebase(site);
    };
    const QString label = QStringLiteral("Continue rebase");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::abortRebase()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.abortRebase(site);
    };
    const QString label = QStringLiteral("Abort rebase");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::continueRevert()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.continueRevert(site);
    };
    const QString label = QStringLiteral("Continue undo");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::abortRevert()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.abortRevert(site);
    };
    const QString label = QStringLiteral("Abort undo");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::switchTo(GitBranch branch)
{
    if (branch.isRemote) {
        const QString local = branch.shortName();
        co_await m_service.createTrackingBranch(m_site, local, branch.name);
    } else {
        co_await m_service.checkout(m_site, branch.name);
    }
}

QCoro::Task<> GitWorkspace::checkout(GitBranch branch)
{
    if (isOperating())
        co_return;
    const LifeToken alive = m_life.token();
    // Switching anywhere replaces an earlier refused switch.
    assign(m_pendingDirtySwitch, std::nullopt, &GitWorkspace::pendingDirtySwitchChanged);
    const Body body = [this, alive, branch](CancellationToken) -> QCoro::Task<> {
        try {
            co_await switchTo(branch);
        } catch (const GitServiceError& error) {
            if (error.kind() == GitServiceError::Case::dirtyWorktree && alive) {
                const PendingDirtySwitch pending{branch.name, branch.isRemote, branch.shortName()};
                assign(m_pendingDirtySwitch, pending, &GitWorkspace::pendingDirtySwitchChanged);
            }
            throw;
        }
    };
    const QString label = QStringLiteral("Switch branch");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::setAsideAndSwitch()
{
    if (!m_pendingDirtySwitch)
        co_return;
    const LifeToken alive = m_life.token();
    const PendingDirtySwitch pending = *m_pendingDirtySwitch;
    const Body body = [this, alive, pending](CancellationToken) -> QCoro::Task<> {
        const std::optional<QString> stashMessage =
            QStringLiteral("Set aside before switching to ") + pending.branch;
        co_await m_service.stashPush(m_site, stashMessage);
        if (!alive)
            co_return;
        GitBranch branch;
        branch.name = pending.branch;
        branch.isRemote = pending.isRemote;
        co_await switchTo(branch);
        if (alive)
            assign(m_pendingDirtySwitch, std::nullopt, &GitWorkspace::pendingDirtySwitchChanged);
    };
    const QString label = QStringLiteral("Set aside and switch");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::createBranch()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString name = m_newBranchName;
    const Body body = [&service, site, name](CancellationToken) -> QCoro::Task<> {
        co_await service.createBranch(site, name);
    };
    const QString label = QStringLiteral("New branch");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::restoreStash(GitStash stash)
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString ref = stash.ref;
    const LifeToken alive = m_life.token();
    const Body body = [this, alive, &service, site, ref](CancellationToken) -> QCoro::Task<> {
        if (alive)
            m_unmergedSource = GitConflictKind::restore;
        const bool restoreIndex = true;
        const auto applied = co_await service.stashApply(site, ref, restoreIndex);
        if (applied == GitService::StashApplied::withoutIndex && alive)
            m_successNotice = QStringLiteral("Restore finished. The included part could not be brought back "
                                             "on its own, so every change is back as remaining.");
    };
    const QString label = QStringLiteral("Restore");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::stashChanges()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        const std::optional<QString> noMessage;
        co_await service.stashPush(site, noMessage);
    };
    const QString label = QStringLiteral("Set aside");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::saveIdentity(bool global)
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString name = m_identityName.trimmed();
    const QString email = m_identityEmail.trimmed();
    const Body body = [&service, site, name, email, global](CancellationToken) -> QCoro::Task<> {
        co_await service.setIdentity(site, name, email, global);
    };
    const QString label = QStringLiteral("Save name");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::initializeRepo()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.initialize(site);
        const std::optional<QStringList> everything;
        const QString message = QStringLiteral("Initial commit from Halvik");
        co_await service.commit(site, everything, message);
    };
    const QString label = QStringLiteral("Initialize Git");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::stopTrackingEnv()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site](CancellationToken) -> QCoro::Task<> {
        co_await service.untrackEnv(site);
    };
    const QString label = QStringLiteral("Stop tracking .env");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::setOrigin()
{
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString url = m_remoteDraft;
    const Body body = [&service, site, url](CancellationToken) -> QCoro::Task<> {
        co_await service.setOriginURL(site, url);
    };
    const QString label = QStringLiteral("Update remote");
    co_await run(label, GitBusyKind::local, noPaths, body);
}

QCoro::Task<> GitWorkspace::createRemote(SourceControlProvider provider, QString name,
                                         std::optional<QString> owner, bool isPrivate)
{
    GitService& service = m_service;
    RemoteRepositoryCreator& creator = *m_remoteCreator;
    const SitePtr site = m_site;
    const Body body = [&service, &creator, site, provider, name, owner,
                       isPrivate](CancellationToken token) -> QCoro::Task<> {
        const CreatedRemoteRepository created =
            co_await creator.createRepository(provider, name, isPrivate, owner);
        token.throwIfCancelled();
        // The origin keeps the clean URL: the push borrows the account's token through the
        // service's credential source, so it never lands in .git/config.
        co_await service.addOrigin(site, created.cloneURL);
        co_await service.push(site, token);
    };
    const QString label = QStringLiteral("Create ") + title(provider) + QStringLiteral(" repo");
    co_await run(label, GitBusyKind::network, noPaths, body);
}

} // namespace halvik
