#include "views/git/GitImagePreview.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik::views {

namespace {

constexpr int largestSide = 2048;

} // namespace

GitImagePreview::GitImagePreview(QWidget* parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Image preview"));
    setMinimumHeight(120);
}

QString GitImagePreview::unavailableText()
{
    return QStringLiteral("Image preview isn\u2019t available.");
}

QString GitImagePreview::message() const
{
    return !m_loading && m_image.isNull() ? unavailableText() : QString();
}

void GitImagePreview::showFile(const QString& path)
{
    m_path = path;
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        showBytes(path, QByteArray());
        return;
    }
    decode([path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? read(file) : Result{};
    });
}

void GitImagePreview::expect(const QString& key)
{
    m_path = key;
    m_image = {};
    m_originalSize = {};
    ++m_generation;
    m_loading = true;
    update();
}

void GitImagePreview::showBytes(const QString& key, const QByteArray& bytes)
{
    if (key != m_path)
        return; // another picture was asked for meanwhile
    if (bytes.isEmpty()) {
        m_image = {};
        m_originalSize = {};
        ++m_generation;
        m_loading = false;
        setAccessibleDescription(unavailableText());
        update();
        Q_EMIT loaded();
        return;
    }
    decode([bytes] {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        return read(buffer);
    });
}

GitImagePreview::Result GitImagePreview::read(QIODevice& device)
{
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    Result result;
    result.originalSize = reader.size();
    if (result.originalSize.isValid() &&
        std::max(result.originalSize.width(), result.originalSize.height()) > largestSide)
        reader.setScaledSize(result.originalSize.scaled(largestSide, largestSide, Qt::KeepAspectRatio));
    result.image = reader.read();
    if (result.image.isNull())
        result.originalSize = {};
    else if (!result.originalSize.isValid())
        result.originalSize = result.image.size();
    return result;
}

void GitImagePreview::decode(std::function<Result()> reading)
{
    m_image = {};
    m_originalSize = {};
    const quint64 generation = ++m_generation;
    m_loading = true;
    // Only the newest request lands; an older one still reading is left to finish unseen.
    auto* watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        const Result result = watcher->result();
        m_image = result.image;
        m_originalSize = result.originalSize;
        m_loading = false;
        setAccessibleDescription(
            m_image.isNull()
                ? unavailableText()
                : QStringLiteral("%1 × %2 pixels").arg(m_originalSize.width()).arg(m_originalSize.height()));
        update();
        Q_EMIT loaded();
    });
    watcher->setFuture(QtConcurrent::run(std::move(reading)));
    update();
}

void GitImagePreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect().adjusted(16, 16, -16, -16);
    if (m_loading)
        return;
    if (m_image.isNull()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, unavailableText());
        return;
    }
    const QFontMetrics metrics(font());
    const int captionHeight = metrics.height() + 8;
    QRect space = area.adjusted(0, 0, 0, -captionHeight);
    // Never blown up beyond its own size: small icons stay crisp.
    QSize shown = m_image.size();
    if (shown.width() > space.width() || shown.height() > space.height())
        shown.scale(space.size(), Qt::KeepAspectRatio);
    const QRect target(space.left() + (space.width() - shown.width()) / 2,
                       space.top() + (space.height() - shown.height()) / 2, shown.width(), shown.height());
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const QColor light = dark ? QColor(70, 70, 74) : QColor(255, 255, 255);
    const QColor shade = dark ? QColor(56, 56, 60) : QColor(228, 228, 232);
    constexpr int cell = 8;
    painter.save();
    painter.setClipRect(target);
    for (int y = target.top(); y <= target.bottom(); y += cell)
        for (int x = target.left(); x <= target.right(); x += cell)
            painter.fillRect(x, y, cell, cell,
                             ((x - target.left()) / cell + (y - target.top()) / cell) % 2 ? shade : light);
    painter.restore();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(target.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QString caption =
        QStringLiteral("%1 × %2").arg(m_originalSize.width()).arg(m_originalSize.height());
    painter.drawText(QRect(area.left(), target.bottom() + 6, area.width(), captionHeight),
                     Qt::AlignHCenter | Qt::AlignTop, caption);
}

} // namespace halvik::views
