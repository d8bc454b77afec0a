#include "PortableFolderWatcher.h"

#include "platform/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

namespace halvik {

// What a walk found, level by level: folders first, then the files directly in them.
struct PortableFolderWatcher::Walk
{
    std::atomic_bool cancelled = false;
    QStringList folders;
    QStringList files;
};

namespace {

// Fills `walk` with `top` and everything below it that is not excluded.
void walkTree(const QString& root, const QString& top, const FolderWatcher::Exclusion& excluded,
              PortableFolderWatcher::Walk& walk)
{
    const QDir rootDir(root);
    QStringList level{top};
    while (!level.isEmpty() && !walk.cancelled) {
        QStringList next;
        for (const QString& folder : std::as_const(level)) {
            walk.folders.append(folder);
            QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System |
                                        QDir::NoSymLinks);
            while (it.hasNext()) {
                const QString child = it.next();
                if (it.fileInfo().isDir()) {
                    if (!excluded || !excluded(rootDir.relativeFilePath(child)))
                        next.append(child);
                } else {
                    walk.files.append(child);
                }
            }
        }
        level = std::move(next);
    }
}

} // namespace

PortableFolderWatcher::PortableFolderWatcher(QObject* parent) : FolderWatcher(parent) {}

PortableFolderWatcher::~PortableFolderWatcher()
{
    stop();
}

void PortableFolderWatcher::start(const QString& root, Exclusion excluded, int watchBudget)
{
    stop();
    m_root = QDir::cleanPath(root);
    m_excluded = std::move(excluded);
    m_budget = watchBudget;
    m_degraded = false;
    m_watcher = std::make_unique<QFileSystemWatcher>();
    connect(m_watcher.get(), &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
        Q_EMIT changedPaths({path});
        Q_EMIT changed();
    });
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this,
            &PortableFolderWatcher::folderChanged);

    auto walk = std::make_shared<Walk>();
    m_walk = walk;
    auto future = QtConcurrent::run(
        [root = m_root, excluded = m_excluded, walk] { walkTree(root, root, excluded, *walk); });
    auto* watcher = new QFutureWatcher<void>(this);
    QPointer<PortableFolderWatcher> self(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, self, watcher, walk] {
        watcher->deleteLater();
        if (!self || m_walk != walk)
            return;
        m_walk.reset();
        watch(walk->folders, walk->files);
        Q_EMIT ready();
    });
    watcher->setFuture(future);
}

void PortableFolderWatcher::stop()
{
    if (m_walk)
        m_walk->cancelled = true;
    m_walk.reset();
    m_watcher.reset();
}

int PortableFolderWatcher::watchedFolderCount() const
{
    return m_watcher ? int(m_watcher->directories().size()) : 0;
}

void PortableFolderWatcher::watch(const QStringList& folders, const QStringList& files)
{
    if (!m_watcher || m_degraded)
        return;
    // Folders first, shallow to deep, then files: past the budget it is files and the deepest
    // folders that go unwatched.
    qsizetype taken = m_watcher->directories().size() + m_watcher->files().size();
    for (const QStringList* paths : {&folders, &files}) {
        for (const QString& path : *paths) {
            if ((m_budget >= 0 && taken >= m_budget) || !m_watcher->addPath(path)) {
                if (!QFileInfo::exists(path))
                    continue; // vanished meanwhile: nothing to watch
                m_degraded = true;
                qCWarning(halvikLog).noquote()
                    << "Halvik folder monitor: the system's watch limit was reached;"
                    << QDir(m_root).relativeFilePath(path) << "and what follows are not watched in" << m_root;
                return;
            }
            ++taken;
        }
    }
}

void PortableFolderWatcher::folderChanged(const QString& folder)
{
    // Entries came or went: take new subfolders (with everything in them) and new or replaced
    // files. Qt drops the watch of a file that is removed or replaced on its own.
    if (m_watcher && QFileInfo::exists(folder)) {
        const QStringList folders = m_watcher->directories();
        const QStringList files = m_watcher->files();
        const QSet<QString> watchedFolders(folders.cbegin(), folders.cend());
        const QSet<QString> watchedFiles(files.cbegin(), files.cend());
        Walk found;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System |
                                    QDir::NoSymLinks);
        while (it.hasNext()) {
            const QString child = it.next();
            if (it.fileInfo().isDir()) {
                if (!watchedFolders.contains(child) &&
                    !(m_excluded && m_excluded(QDir(m_root).relativeFilePath(child))))
                    walkTree(m_root, child, m_excluded, found);
            } else if (!watchedFiles.contains(child)) {
                found.files.append(child);
            }
        }
        watch(found.folders, found.files);
    }
    Q_EMIT changedPaths({folder});
    Q_EMIT changed();
}

} // namespace halvik
