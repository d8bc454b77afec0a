#include "views/git/GitSheetWidgets.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/SemanticColors.h"

#include "app/GitWorkspace.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace halvik::views {

QVBoxLayout* sheetLayout(QDialog* sheet)
{
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    return layout;
}

namespace {

constexpr auto glyphName = "halvikGlyph";
constexpr auto glyphFallback = "halvikGlyphFallback";

QIcon glyphIcon(const QString& name, const QString& fallback, const QPalette& palette)
{
    const QIcon source = themeIcon(name, fallback);
    if (!isDark(palette))
        return source;
    QIcon tinted;
    for (const auto& [mode, group] :
         {std::pair{QIcon::Normal, QPalette::Active}, std::pair{QIcon::Disabled, QPalette::Disabled}}) {
        const QColor color = palette.color(group, QPalette::ButtonText);
        for (const int size : {16, 22, 32, 48}) {
            QImage image =
                source.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(image.rect(), color);
            painter.end();
            tinted.addPixmap(QPixmap::fromImage(image), mode);
        }
    }
    return tinted;
}

void applyGlyph(QObject* target, const QPalette& palette)
{
    const QString name = target->property(glyphName).toString();
    if (name.isEmpty())
        return;
    const QString fallback = target->property(glyphFallback).toString();
    if (auto* button = qobject_cast<QAbstractButton*>(target)) {
        button->setIcon(glyphIcon(name, fallback, palette));
    } else if (auto* action = qobject_cast<QAction*>(target)) {
        action->setIcon(glyphIcon(name, fallback, palette));
    } else if (auto* label = qobject_cast<QLabel*>(target)) {
        const int size = label->width();
        label->setPixmap(glyphIcon(name, fallback, palette).pixmap(size, size));
    }
}

} // namespace

namespace {

class Rule : public QWidget
{
public:
    explicit Rule(QWidget* parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QColor base = palette().color(backgroundRole());
        const QColor ink = palette().color(QPalette::WindowText);
        const qreal share = 0.14;
        painter.fillRect(rect(), QColor::fromRgbF(base.redF() + (ink.redF() - base.redF()) * share,
                                                  base.greenF() + (ink.greenF() - base.greenF()) * share,
                                                  base.blueF() + (ink.blueF() - base.blueF()) * share));
    }
};

} // namespace

QWidget* horizontalRule(QWidget* parent)
{
    return new Rule(parent);
}

void setGlyph(QObject* target, const QString& name, const QString& fallback)
{
    target->setProperty(glyphName, name);
    target->setProperty(glyphFallback, fallback);
    const QWidget* widget = qobject_cast<QWidget*>(target);
    if (!widget)
        widget = qobject_cast<QWidget*>(target->parent());
    applyGlyph(target, widget ? widget->palette() : QApplication::palette());
}

void refreshGlyphs(QWidget* root)
{
    // The root's palette: when the application's changes, children may not have theirs yet.
    for (QObject* object : root->findChildren<QObject*>())
        applyGlyph(object, root->palette());
}

void alignFormLabels(const QList<QFormLayout*>& forms)
{
    int widest = 0;
    QList<QWidget*> labels;
    for (QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget()) {
                labels << item->widget();
                widest = qMax(widest, item->widget()->sizeHint().width());
            }
    for (QWidget* label : labels)
        label->setMinimumWidth(widest);
}

void addSheetHeading(QBoxLayout* layout, const QString& icon, const QString& fallback, const QString& text,
                     QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* picture = new QLabel(parent);
    const int size = parent->style()->pixelMetric(QStyle::PM_LargeIconSize);
    picture->setFixedSize(size, size);
    setGlyph(picture, icon, fallback);
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
