#pragma once

#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QDialog>

class QFormLayout;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace halvik {
class ComposerService;
class GitService;
} // namespace halvik

namespace halvik::views {

// "Local Environment": the site's .env as text, with its address and database settings read
// out, a warning when Git tracks the file, Save, Cancel and "Regenerate APP_KEY".
class LocalEnvironmentSheet : public QDialog
{
    Q_OBJECT
public:
    LocalEnvironmentSheet(ComposerService& composer, GitService& git, SitePtr site,
                          QWidget* parent = nullptr);
    ~LocalEnvironmentSheet() override;

    // Loads the file and checks whether Git tracks it.
    QCoro::Task<> load();
    // Writes the edited text; false (with the reason shown) when it could not.
    bool save();
    QCoro::Task<> regenerateKey();

    QPlainTextEdit* editor() const { return m_editor; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* regenerateButton() const { return m_regenerate; }
    QString messageText() const;
    bool isTrackingWarningShown() const;
    QString summaryValue(const QString& key) const;
    bool isEdited() const;
    // The file exists but could not be read: it is shown for reading only and never saved.
    bool isReadOnly() const { return m_unreadable; }

private:
    void showText(const QString& text);
    void showUnreadable(const QString& reason);
    // The editor's text as typed: line feeds between lines, non-breaking spaces kept.
    QString editedText() const;
    void refreshSummary();
    void setMessage(const QString& text, bool problem);

    ComposerService& m_composer;
    GitService& m_git;
    SitePtr m_site;
    QString m_saved;     // with line feeds, as the editor holds it
    bool m_crlf = false; // the file's lines end in CR LF, and are written back that way
    bool m_unreadable = false;
    QWidget* m_warning;
    QFormLayout* m_summary;
    QHash<QString, QLabel*> m_values;
    QPlainTextEdit* m_editor;
    QLabel* m_message;
    QPushButton* m_save;
    QPushButton* m_regenerate;
    LifeGuard m_life;
};

} // namespace halvik::views
