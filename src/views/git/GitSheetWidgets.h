#pragma once

#include "models/Enums.h"

#include <QIcon>
#include <QList>
#include <QString>

class QBoxLayout;
class QDialog;
class QFormLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class ToneLabel;

// Small pieces the Git tab's sheets share, so they look alike.

// The sheet's outer layout with the house margins, and its heading row (icon and title).
QVBoxLayout* sheetLayout(QDialog* sheet);
void addSheetHeading(QBoxLayout* layout, const QString& icon, const QString& fallback, const QString& text,
                     QWidget* parent);
// A section title inside a sheet: bold, one step larger, with a little room above it.
QLabel* sectionTitle(const QString& text, QWidget* parent);
// A hairline between rows, a little stronger than the window in light and in dark.
QWidget* horizontalRule(QWidget* parent);
// A provider's round badge as a button icon.
QIcon providerIcon(SourceControlProvider provider);
// An icon from the desktop's theme, with a second name to try.
QIcon themeIcon(const QString& name, const QString& fallback = QString());
// A one-colour theme icon on a button, an action or a label, drawn in the palette's text colour
// on a dark palette (the fallback theme's glyphs are dark); refreshGlyphs() redraws every one
// under `root` after the palette changed.
void setGlyph(QObject* target, const QString& name, const QString& fallback = QString());
void refreshGlyphs(QWidget* root);
// Lines up the label columns of forms that sit one above the other.
void alignFormLabels(const QList<QFormLayout*>& forms);

// Buttons follow the workspace's busyAction, which announces itself; an operation that is only
// asking its question is not announced, so a click then is refused by the workspace and the
// sheets notice by seeing no operation start.

// Shows how the operation a sheet started ended: the workspace's failed notice (with Git's own
// output as a tooltip), or `success` (nothing when empty) when it succeeded.
void showOutcome(ToneLabel* label, const GitWorkspace& workspace, const QString& success = QString());

} // namespace halvik::views
