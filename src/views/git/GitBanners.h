#pragma once

#include "views/common/SemanticColors.h"

#include <QFrame>
#include <QString>

#include <optional>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace halvik::views {

// A tinted strip above the lists: an icon, a bold title, a sentence and its buttons.
class GitBanner : public QFrame
{
    Q_OBJECT
public:
    explicit GitBanner(Semantic tone, QWidget* parent = nullptr);

    void setTone(Semantic tone);
    Semantic tone() const { return m_tone; }
    void setTitle(const QString& title);
    void setText(const QString& text);
    QString title() const;
    QString text() const;
    QLabel* textLabel() const { return m_text; }
    // Buttons line up on the right, in the order they are added.
    QPushButton* addButton(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Extra rows (fields, lists, help) go below the sentence.
    QVBoxLayout* body() const { return m_body; }

private:
    void applyIcon();

    Semantic m_tone;
    QLabel* m_icon;
    QLabel* m_title;
    QLabel* m_text;
    QVBoxLayout* m_body;
    QHBoxLayout* m_buttons;
};

// A banner with an optional "Details" disclosure for Git's own words and a "Copy details"
// button beside it.
class GitNoticeBanner : public GitBanner
{
    Q_OBJECT
public:
    explicit GitNoticeBanner(QWidget* parent = nullptr);

    void setDetails(const std::optional<QString>& details, bool copyable);
    QToolButton* detailsToggle() const { return m_detailsToggle; }
    QPushButton* copyButton() const { return m_copy; }
    QLabel* detailsText() const { return m_details; }
    // Shows a close button that calls `dismissed`.
    void setDismissible(bool dismissible);

Q_SIGNALS:
    void copyRequested(const QString& details);
    void dismissed();

private:
    QToolButton* m_detailsToggle;
    QPushButton* m_copy;
    QToolButton* m_close;
    QLabel* m_details;
};

// The identity form: a name and an email, saved once for every commit.
class GitIdentityBanner : public GitBanner
{
    Q_OBJECT
public:
    explicit GitIdentityBanner(QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* emailField() const { return m_email; }
    QPushButton* saveButton() const { return m_save; }

private:
    QLineEdit* m_name;
    QLineEdit* m_email;
    QPushButton* m_save;
};

// An interrupted rebase, undo or restore: the unresolved files and the way out.
class GitRebaseBanner : public GitBanner
{
    Q_OBJECT
public:
    explicit GitRebaseBanner(QWidget* parent = nullptr);

    void setFiles(const QStringList& paths);
    void setHelp(const QString& help);
    QListWidget* fileList() const { return m_files; }
    QLabel* helpLabel() const { return m_help; }

private:
    QLabel* m_filesTitle;
    QListWidget* m_files;
    QLabel* m_help;
};

} // namespace halvik::views
