#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace halvik::views {

// "About Halvik": the version, the licence, the project's page and the folder Halvik keeps its
// data in.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl&)>;
    using FolderShower = std::function<void(const QString&)>;

    explicit AboutDialog(QWidget* parent = nullptr);

    static QUrl projectPage();
    static QString licence();

    // Where the project's page opens (the desktop's browser) and how the data folder is shown
    // (the file manager); tests replace them.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    void setFolderShower(FolderShower shower) { m_showFolder = std::move(shower); }

    QLabel* versionLabel() const { return m_version; }
    QLabel* pageLink() const { return m_page; }
    QLabel* dataFolderLabel() const { return m_dataFolder; }
    QPushButton* showDataFolderButton() const { return m_showDataFolder; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void colourLink();

    QLabel* m_version;
    QLabel* m_page;
    QLabel* m_dataFolder;
    QPushButton* m_showDataFolder;
    UrlOpener m_openUrl;
    FolderShower m_showFolder;
};

} // namespace halvik::views
