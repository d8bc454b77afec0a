#pragma once

#include "models/Enums.h"

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace halvik::views {

// Small pieces shared by the source-control screens.

// A round badge with the provider's initial in its colour.
class ProviderBadge : public QWidget
{
public:
    explicit ProviderBadge(SourceControlProvider provider, int size = 32, QWidget* parent = nullptr);
    void setProvider(SourceControlProvider provider);
    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SourceControlProvider m_provider;
    int m_size;
};

enum class Tone
{
    plain,
    muted,
    success,
    failure
};

// Success and failure colours, chosen for the palette's lightness so both read in light and dark.
QColor toneColor(Tone tone, const QPalette& palette);
// A word-wrapping label in a tone that follows light and dark; failures are selectable so
// they can be copied.
class ToneLabel : public QLabel
{
public:
    ToneLabel(const QString& text, Tone tone, QWidget* parent);
    void setTone(Tone tone);
    Tone tone() const { return m_tone; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();
    Tone m_tone;
    bool m_applying = false;
};
// A bold label some steps larger than the system font.
QLabel* headingLabel(const QString& text, int steps, QWidget* parent);
// Text with `code` spans shown in the fixed font.
QString withCodeSpans(const QString& text);

} // namespace halvik::views
