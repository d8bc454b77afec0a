#pragma once

#include "models/Enums.h"

#include <QIcon>
#include <QString>

class QBoxLayout;
class QDialog;
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
void addSheetHeading(QBoxLayout* layout, const QIcon& icon, const QString& text, QWidget* parent);
// A section title inside a sheet: bold, one step larger, with a little room above it.
QLabel* sectionTitle(const QString& text, QWidget* parent);
// A provider's round badge as a button icon.
QIcon providerIcon(SourceControlProvider provider);
// An icon from the desktop's theme, with a second name to try.
QIcon themeIcon(const QString& name, const QString& fallback = QString());

// Shows how the operation a sheet started ended: the workspace's failed notice (with Git's own
// output as a tooltip), or `success` (nothing when empty) when it succeeded.
void showOutcome(ToneLabel* label, const GitWorkspace& workspace, const QString& success = QString());

} // namespace halvik::views
