#pragma once

#include "FakePrompts.h"
#include "GitSandbox.h"
#include "IsolatedHome.h"
#include "Screenshots.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "views/git/GitChangeRow.h"
#include "views/git/GitChangesList.h"
#include "views/git/GitChangesModel.h"
#include "views/git/GitWorkspaceView.h"
#include "views/site/SiteDetailPane.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include <QDir>
#include <QListView>
#include <QTabWidget>
#include <QTest>

namespace halvik::test {

// The real main window around one site whose folder is a real repository (or not), with the
// Git tab open. Everything the tab asks a person goes to `prompts`.
struct GitTab
{
    explicit GitTab(bool identity = true)
    {
        if (identity)
            GitSandbox::configureIdentity();
    }
    ~GitTab()
    {
        // Loads the workspace started end inside the Git service: let them finish first.
        for (views::GitWorkspaceView* view : views)
            if (view && view->workspace()) {
                view->workspace()->stop();
                GitWorkspace* ws = view->workspace();
                if (!QTest::qWaitFor([ws] { return ws->loadsInFlight() == 0 && !ws->isOperating(); }, 30000))
                    qFatal("A workspace load never ended");
            }
    }

    SitePtr addSite(const QString& name, const QString& path)
    {
        auto added = std::make_shared<Site>(name, path);
        services.store().insertSite(added);
        return added;
    }

    // Shows the window on the site's Git tab and waits for the first refresh.
    views::GitWorkspaceView* open(const QString& path, const QString& name = QStringLiteral("Shop"))
    {
        site = addSite(name, path);
        window.resize(1280, 800);
        window.show();
        window.sitesPage()->selectSite(site->id());
        pane()->tabs()->setCurrentIndex(2);
        views::GitWorkspaceView* view = pane()->git();
        if (!views.contains(view))
            views.append(view);
        if (!QTest::qWaitFor([view] { return view->workspace() && view->workspace()->hasRefreshed(); },
                             30000))
            qWarning("The first refresh never ended");
        settle();
        return view;
    }

    views::SiteDetailPane* pane() const { return window.findChild<views::SiteDetailPane*>(); }
    GitWorkspace& ws() const { return *pane()->git()->workspace(); }

    // Waits until no operation or refresh runs.
    bool settle(int timeout = 30000) const
    {
        GitWorkspace* workspace = pane()->git()->workspace();
        return QTest::qWaitFor(
            [workspace] {
                return !workspace->isOperating() && !workspace->isRefreshing() && !workspace->isLoadingDiff();
            },
            timeout);
    }

    QString git(const QString& repo, const QStringList& args) const { return box.git(repo, args); }
    QStringList cached(const QString& repo) const
    {
        return git(repo, {"diff", "--cached", "--name-only"}).split('\n', Qt::SkipEmptyParts);
    }

    // Clicks the inclusion checkbox of the row showing `path`.
    bool clickCheckbox(const QString& path) const
    {
        views::GitChangesList* list = pane()->git()->changesList();
        QListView* view = list->view();
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            const QModelIndex index = view->model()->index(row, 0);
            if (index.data(views::GitChangesModel::PathRole).toString() != path)
                continue;
            view->scrollTo(index);
            QStyleOptionViewItem option;
            option.initFrom(view);
            option.widget = view;
            const QRect check = views::GitChangeRow::checkRect(option, view->visualRect(index));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, check.center());
            return true;
        }
        return false;
    }

    void shoot(QWidget* widget, const QString& name) const { QVERIFY(saveLightAndDark(widget, name)); }

    IsolatedHome home;
    GitSandbox box;
    SecretStore secrets;
    FakePrompts prompts;
    AppServices services{secrets, prompts};
    views::MainWindow window{services};
    SitePtr site;
    QList<views::GitWorkspaceView*> views;
};

} // namespace halvik::test
