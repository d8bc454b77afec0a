#include "views/git/GitSheetWidgets.h"

#include "views/AccountWidgets.h"

#include "app/GitWorkspace.h"

#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QStyle>

namespace halvik::views {

QVBoxLayout* sheetLayout(QDialog* sheet)
{
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    return layout;
}

void addSheetHeading(QBoxLayout* layout, const QIcon& icon, const QString& text, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* picture = new QLabel(parent);
    const int size = parent->style()->pixelMetric(QStyle::PM_LargeIconSize);
    picture->setPixmap(icon.pixmap(size, size));
    picture->setFixedSize(size, size);
    row->addWidget(picture, 0, Qt::AlignVCenter);
    row->addWidget(headingLabel(text, 2, parent), 1, Qt::AlignVCenter);
    layout->addLayout(row);
}

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    QLabel* label = headingLabel(text, 1, parent);
    label->setContentsMargins(0, 8, 0, 0);
    return label;
}

QIcon providerIcon(SourceControlProvider provider)
{
    QIcon icon;
    for (const int size : {16, 32}) {
        ProviderBadge badge(provider, size);
        icon.addPixmap(badge.grab());
    }
    return icon;
}

QIcon themeIcon(const QString& name, const QString& fallback)
{
    if (QIcon::hasThemeIcon(name) || fallback.isEmpty())
        return QIcon::fromTheme(name);
    return QIcon::fromTheme(fallback);
}

void showOutcome(ToneLabel* label, const GitWorkspace& workspace, const QString& success)
{
    const bool failed = workspace.noticeFailed() && workspace.notice().has_value();
    label->setTone(failed ? Tone::failure : Tone::success);
    label->setText(failed ? *workspace.notice() : success);
    label->setToolTip(failed ? workspace.rawError().value_or(QString()) : QString());
    label->setVisible(!label->text().isEmpty());
}

} // namespace halvik::views
