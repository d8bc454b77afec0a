#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

namespace halvik {
class AppPreferences;
}

namespace halvik::views {

// The strip between the list and the detail; dragging it resizes the list.
class GitSplitHandle : public QWidget
{
    Q_OBJECT
public:
    explicit GitSplitHandle(QWidget* parent = nullptr);
    QSize sizeHint() const override;

Q_SIGNALS:
    void dragStarted();
    // The horizontal distance moved since the drag started.
    void dragged(int translation);
    // Left or Right with the handle focused: a step narrower or wider.
    void stepped(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<double> m_pressX;
};

// The list and the detail side by side. The list is as wide as the remembered width, which
// the handle changes: the width at the start of the drag plus the translation, kept between
// 240 and the smaller of 520 and what leaves the detail 280.
class GitRegularSplit : public QWidget
{
    Q_OBJECT
public:
    static constexpr double minimumMasterWidth = 240;
    static constexpr double maximumMasterWidth = 520;
    static constexpr double minimumDetailWidth = 280;

    explicit GitRegularSplit(AppPreferences& preferences, QWidget* parent = nullptr);

    // Takes the two panes (they may come from the compact stack).
    void setPanes(QWidget* master, QWidget* detail);
    GitSplitHandle* handle() const { return m_handle; }
    int masterWidth() const;

    static double clampedWidth(double proposed, double containerWidth, double handleWidth);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    AppPreferences& m_preferences;
    GitSplitHandle* m_handle;
    QPointer<QWidget> m_master;
    QPointer<QWidget> m_detail;
    double m_dragStartWidth = 0;
};

} // namespace halvik::views
