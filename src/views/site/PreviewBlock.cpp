#include "views/site/PreviewBlock.h"

#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "services/appearance/SiteAppearanceService.h"

#include "async/FireAndForget.h"

#include <QHBoxLayout>

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

namespace halvik::views {

namespace {

constexpr qreal radius = 8;

QString noURLText()
{
    return QStringLiteral("Open the site to take a preview.");
}

} // namespace

// The preview at 16:9, rounded, with a hairline border; an empty frame when there is none.
class PreviewBlock::Picture : public QWidget
{
public:
    explicit Picture(std::function<void()> resized, QWidget* parent)
        : QWidget(parent), m_resized(std::move(resized))
    {
        QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setMinimumWidth(160);
        setMaximumWidth(maxWidth);
        setFixedHeight(heightForWidth(maxWidth));
    }
    void setImage(const QImage& image)
    {
        m_image = image;
        update();
    }
    QSize sizeHint() const override { return {maxWidth, maxWidth * 9 / 16}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width * 9 / 16; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        // Always 16:9, however wide the pane lets it be.
        if (const int height = heightForWidth(width()); height != this->height()) {
            setFixedHeight(height);
            return;
        }
        m_resized();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(frame, radius, radius);
        if (!m_image.isNull()) {
            painter.save();
            painter.setClipPath(path);
            painter.drawImage(frame, m_image);
            painter.restore();
        } else {
            painter.fillPath(path, palette().color(QPalette::AlternateBase));
        }
        QColor hairline = palette().color(QPalette::WindowText);
        hairline.setAlphaF(0.18);
        painter.setPen(QPen(hairline, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }

private:
    std::function<void()> m_resized;
    QImage m_image;
};

PreviewBlock::PreviewBlock(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_picture = new Picture(
        [this] {
            if (m_site)
                fireAndForget(this, loadImage());
        },
        this);
    m_empty = new QLabel(QStringLiteral("No preview yet."), m_picture);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    auto* pictureLayout = new QVBoxLayout(m_picture);
    pictureLayout->addWidget(m_empty);
    layout->addWidget(m_picture, 0, Qt::AlignLeft);

    auto* row = new QHBoxLayout;
    m_busy = new QProgressBar(this);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedWidth(64);
    m_busy->setMaximumHeight(fontMetrics().height() / 2 + 2);
    m_busy->setAccessibleName(QStringLiteral("Looking up site appearance…"));
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setObjectName(QStringLiteral("previewStatus"));
    m_refresh = new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")),
                                QStringLiteral("Refresh preview"), this);
    m_refresh->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(m_busy);
    row->addWidget(m_status, 1);
    row->addWidget(m_refresh, 0, Qt::AlignTop);
    layout->addLayout(row);

    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (!m_site)
            return;
        m_services.appearance().refresh(m_site, m_services.previewURL(*m_site), true);
    });
    connect(&services.appearance(), &SiteAppearanceService::changed, this, [this](const QUuid& id) {
        if (m_site && (id.isNull() || id == m_site->id()))
            refresh();
    });
}

void PreviewBlock::setSite(SitePtr site)
{
    m_site = std::move(site);
    m_image = QImage();
    m_picture->setImage({});
    refresh();
}

QSize PreviewBlock::pictureSize() const
{
    return m_picture->size();
}

void PreviewBlock::refresh()
{
    if (!m_site)
        return;
    SiteAppearanceService& appearance = m_services.appearance();
    const QUuid id = m_site->id();
    const bool refreshing = appearance.isRefreshing(id);
    const std::optional<QUrl> url = m_services.previewURL(*m_site);
    m_busy->setVisible(refreshing);
    QString status;
    bool failure = false;
    if (refreshing) {
        status = QStringLiteral("Looking up site appearance…");
    } else if (const auto failed = appearance.failedURL(id)) {
        status = QStringLiteral("Halvik couldn’t take a preview of %1.").arg(failed->toString());
        failure = true;
    } else if (!url) {
        status = noURLText();
    }
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    QPalette palette = this->palette();
    if (failure)
        palette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette));
    m_status->setPalette(palette);
    m_refresh->setEnabled(url.has_value() && !refreshing);
    m_refresh->setToolTip(url ? QString() : noURLText());
    m_empty->setVisible(!appearance.hasScreenshot(id));
    if (appearance.hasScreenshot(id))
        fireAndForget(this, loadImage());
    else {
        m_image = QImage();
        m_picture->setImage({});
    }
}

QCoro::Task<> PreviewBlock::loadImage()
{
    if (!m_site || !m_services.appearance().hasScreenshot(m_site->id()))
        co_return;
    const LifeToken alive = m_life.token();
    const QUuid id = m_site->id();
    const int load = ++m_loads;
    const qreal ratio = devicePixelRatioF();
    const QImage image = co_await m_services.appearance().preview(id, pictureSize() * ratio);
    // Only the newest load of the site still shown lands.
    if (!alive || load != m_loads || !m_site || m_site->id() != id)
        co_return;
    // A read that failed (the file being replaced) leaves the preview shown as it was.
    if (image.isNull() && !m_image.isNull())
        co_return;
    m_image = image;
    m_image.setDevicePixelRatio(ratio);
    m_picture->setImage(m_image);
    m_empty->setVisible(m_image.isNull());
}

} // namespace halvik::views
