#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include <functional>

class QIODevice;

namespace halvik::views {

// A picture of the changed image file, read off the main thread and fitted to the pane, on a
// checkerboard so transparency shows; a sentence when there is nothing to show.
class GitImagePreview : public QWidget
{
    Q_OBJECT
public:
    explicit GitImagePreview(QWidget* parent = nullptr);

    // Reads `path`; an empty path shows the sentence at once.
    void showFile(const QString& path);
    // Shows nothing while the bytes of the picture named `key` are fetched…
    void expect(const QString& key);
    // …then decodes them (empty bytes show the sentence), unless another picture came first.
    void showBytes(const QString& key, const QByteArray& bytes);
    const QString& path() const { return m_path; }
    bool isLoading() const { return m_loading; }
    // The picture's own size; empty while loading or when it could not be read.
    QSize imageSize() const { return m_originalSize; }
    QString message() const;

    static QString unavailableText();

Q_SIGNALS:
    void loaded();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Result
    {
        QImage image;
        QSize originalSize;
    };
    // Decodes off the main thread what `read` opens, and shows it if it is still the newest.
    void decode(std::function<Result()> read);
    static Result read(QIODevice& device);

    QString m_path;
    QImage m_image;
    QSize m_originalSize;
    bool m_loading = false;
    quint64 m_generation = 0;
};

} // namespace halvik::views
