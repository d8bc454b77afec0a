#pragma once

#include "platform/EditorApplications.h"

#include <QDialog>

class QListWidget;
class QPushButton;

namespace halvik::views {

// Choosing the editor: the installed applications that open folders or text files, with their
// names and icons (code editors first), and "Other…" for a program anywhere.
class EditorChooser : public QDialog
{
    Q_OBJECT
public:
    EditorChooser(const QList<EditorApplications::Application>& applications, const QString& message,
                  const QString& acceptText, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QPushButton* otherButton() const { return m_other; }
    QPushButton* chooseButton() const { return m_choose; }
    // The chosen desktop entry or program; empty until one is chosen.
    QString chosenPath() const { return m_chosen; }
    // Takes a program found elsewhere and accepts it (what "Other…" does with its file).
    void chooseOther(const QString& program);

private:
    QListWidget* m_list;
    QPushButton* m_other;
    QPushButton* m_choose;
    QString m_chosen;
};

} // namespace halvik::views
