#pragma once

#include <QColor>
#include <QList>
#include <QPalette>

#include <functional>

class QLabel;
class QWidget;

namespace halvik::views {

// The few colours that carry meaning, each with a light and a dark variant. Every one of them
// is used for text, so each keeps at least 4.5:1 against the window and the base colour of
// its appearance. Nothing else in the window names a colour of its own.
enum class Semantic
{
    info,    // blue
    caution, // orange
    danger,  // red
    success  // green
};

const QList<Semantic>& allSemantics();
bool isDark(const QPalette& palette);
QColor semanticColor(Semantic role, const QPalette& palette);

// WCAG contrast ratio between two colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);

// Calls `update` now and again whenever the widget's palette changes (a change of
// appearance), for colours that are computed rather than inherited.
void followPalette(QWidget* widget, std::function<void()> update);

// Gives a widget's text the semantic colour, kept right across changes of appearance.
void setSemanticText(QWidget* widget, Semantic role);

// Rich text fixes its link colour when it is set: a label with links sets its text again when
// the appearance changes, so links drawn before the change take the new palette.
void recolourLinks(QLabel* label);

} // namespace halvik::views
