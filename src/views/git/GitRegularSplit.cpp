#include "views/git/GitRegularSplit.h"

#include "models/AppPreferences.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace halvik::views {

GitSplitHandle::GitSplitHandle(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::SplitHCursor);
    setAccessibleName(QStringLiteral("Resize the file list"));
    setToolTip(QStringLiteral("Drag, or use the Left and Right keys, to resize the list"));
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

QSize GitSplitHandle::sizeHint() const
{
    return {7, 7};
}

void GitSplitHandle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A hairline a little apart from the background, in light and dark alike.
    const QColor window = palette().color(QPalette::Window);
    const QColor text = palette().color(QPalette::WindowText);
    const qreal mix = 0.2;
    QColor line = QColor::fromRgbF(window.redF() + (text.redF() - window.redF()) * mix,
                                   window.greenF() + (text.greenF() - window.greenF()) * mix,
                                   window.blueF() + (text.blueF() - window.blueF()) * mix);
    if (underMouse() || m_pressX || hasFocus())
        line = palette().color(QPalette::Highlight);
    painter.fillRect(QRect(width() / 2, 0, 1, height()), line);
}

void GitSplitHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressX = event->globalPosition().x();
    Q_EMIT dragStarted();
    update();
}

void GitSplitHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressX)
        return QWidget::mouseMoveEvent(event);
    Q_EMIT dragged(int(event->globalPosition().x() - *m_pressX));
}

void GitSplitHandle::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressX) {
        Q_EMIT dragged(int(event->globalPosition().x() - *m_pressX));
        m_pressX.reset();
        update();
    }
}

void GitSplitHandle::keyPressEvent(QKeyEvent* event)
{
    const int step = event->modifiers() & Qt::ShiftModifier ? 64 : 16;
    if (event->key() == Qt::Key_Left)
        Q_EMIT stepped(-step);
    else if (event->key() == Qt::Key_Right)
        Q_EMIT stepped(step);
    else
        QWidget::keyPressEvent(event);
}

GitRegularSplit::GitRegularSplit(AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), m_preferences(preferences), m_handle(new GitSplitHandle(this))
{
    connect(m_handle, &GitSplitHandle::dragStarted, this, [this] { m_dragStartWidth = masterWidth(); });
    connect(m_handle, &GitSplitHandle::dragged, this, [this](int translation) {
        m_preferences.setGitSplitMasterWidth(
            clampedWidth(m_dragStartWidth + translation, width(), m_handle->sizeHint().width()));
        place();
    });
    connect(m_handle, &GitSplitHandle::stepped, this, [this](int delta) {
        m_preferences.setGitSplitMasterWidth(
            clampedWidth(masterWidth() + delta, width(), m_handle->sizeHint().width()));
        place();
    });
    connect(&m_preferences, &AppPreferences::changed, this, &GitRegularSplit::place);
}

double GitRegularSplit::clampedWidth(double proposed, double containerWidth, double handleWidth)
{
    const double upper = std::max(
        minimumMasterWidth, std::min(maximumMasterWidth, containerWidth - minimumDetailWidth - handleWidth));
    return std::clamp(proposed, minimumMasterWidth, upper);
}

void GitRegularSplit::setPanes(QWidget* master, QWidget* detail)
{
    m_master = master;
    m_detail = detail;
    master->setParent(this);
    detail->setParent(this);
    master->show();
    detail->show();
    m_handle->raise();
    place();
}

int GitRegularSplit::masterWidth() const
{
    // A window narrower than the remembered width shows less of it without forgetting it.
    return int(clampedWidth(m_preferences.gitSplitMasterWidth(), width(), m_handle->sizeHint().width()));
}

void GitRegularSplit::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

void GitRegularSplit::place()
{
    const int master = masterWidth();
    const int handle = m_handle->sizeHint().width();
    if (m_master)
        m_master->setGeometry(0, 0, master, height());
    m_handle->setGeometry(master, 0, handle, height());
    if (m_detail)
        m_detail->setGeometry(master + handle, 0, std::max(0, width() - master - handle), height());
}

} // namespace halvik::views
