#include "GitcoreSuites.h"

#include "gitcore/GitChangeSummarizer.h"

#include <QTest>

using namespace halvik::gitcore;

class SummarizerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void labels_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("added");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("label");
        QTest::newRow("composer") << "composer.lock" << false << false << "Installed or updated packages";
        QTest::newRow("nested composer") << "sub/composer.json" << false << false << "sub/composer.json";
        QTest::newRow("entry edited") << "content/collections/blog/my-first_post.md" << false << false
                                      << "Edited blog entry: My first post";
        QTest::newRow("entry added") << "/content/collections/news/2024/launch-day.md/" << true << false
                                     << "New news entry: Launch day";
        QTest::newRow("entry removed")
            << "content/collections/blog/old.md" << false << true << "Removed blog entry: Old";
        QTest::newRow("page added") << "content/collections/pages/about-us.md" << true << false
                                    << "New About us page";
        QTest::newRow("page removed")
            << "content/collections/pages/team.md" << false << true << "Removed Team page";
        // Slashes are trimmed before the prefixes are tested.
        QTest::newRow("collection folder")
            << "content/collections/" << false << false << "content/collections";
        QTest::newRow("globals") << "content/globals/seo.yaml" << false << false << "Updated globals";
        QTest::newRow("nav") << "content/navigation/main.yaml" << true << false << "Updated nav";
        QTest::newRow("taxonomy") << "content/taxonomies/tags/php.yaml" << false << true
                                  << "Updated taxonomy";
        QTest::newRow("orvane view") << "resources/views/partials/nav.orvane.html" << false << false
                                     << "Edited template: partials/nav";
        QTest::newRow("blade view") << "resources/views/home.blade.php" << true << false
                                    << "New template: home";
        QTest::newRow("other view") << "resources/views/feed.xml" << false << true
                                    << "Removed template: feed.xml";
        QTest::newRow("blueprint") << "resources/blueprints/collections/blog/post_type.yaml" << false << false
                                   << "Changed Post type blueprint";
        QTest::newRow("fieldset") << "resources/fieldsets/hero-block.yaml" << true << false
                                  << "Changed Hero block fieldset";
        QTest::newRow("config") << "config/quillmar/sites.php" << false << false
                                << "Changed settings: quillmar/sites";
        QTest::newRow("user") << "users/ada@example.test.yaml" << false << false
                              << "Updated user: ada@example.test";
        QTest::newRow("asset added") << "assets/img/logo.png" << true << false << "Added asset: logo.png";
        QTest::newRow("public asset removed")
            << "public/assets/app.css" << false << true << "Removed asset: app.css";
        QTest::newRow("asset edited") << "assets/a.svg" << false << false << "Updated asset: a.svg";
        QTest::newRow("anything else") << "/routes/web.php" << false << false << "routes/web.php";
    }

    void labels()
    {
        QFETCH(QString, path);
        QFETCH(bool, added);
        QFETCH(bool, deleted);
        QTEST(GitChangeSummarizer::label(path, added, deleted), "label");
    }

    void labelsFromFileStatus()
    {
        QCOMPARE(GitChangeSummarizer::label(GitChangedFile::withStatus("assets/x.png", "??")),
                 QStringLiteral("Added asset: x.png"));
        QCOMPARE(GitChangeSummarizer::label(GitChangedFile::withStatus("assets/x.png", "D ")),
                 QStringLiteral("Removed asset: x.png"));
        QCOMPARE(GitChangeSummarizer::label(GitChangedFile::withStatus("assets/x.png", "AD")),
                 QStringLiteral("Added asset: x.png"));
        QCOMPARE(GitChangeSummarizer::label(GitChangedFile::withStatus("assets/x.png", "MM")),
                 QStringLiteral("Updated asset: x.png"));
    }

    void suggestedMessages()
    {
        QCOMPARE(GitChangeSummarizer::suggestedMessage({}), QStringLiteral("Update from Halvik"));
        QCOMPARE(GitChangeSummarizer::suggestedMessage(
                     {GitChangedFile::withStatus("content/collections/blog/my-first_post.md", ".M")}),
                 QStringLiteral("Edited blog entry: My first post"));
        // Duplicates (compared without case) are skipped; only three distinct labels are kept.
        const QList<GitChangedFile> files{GitChangedFile::withStatus("composer.json", "M"),
                                          GitChangedFile::withStatus("composer.lock", "M"),
                                          GitChangedFile::withStatus("README.md", "M"),
                                          GitChangedFile::withStatus("readme.md", "M"),
                                          GitChangedFile::withStatus("content/globals/a", "M"),
                                          GitChangedFile::withStatus("routes/web.php", "M"),
                                          GitChangedFile::withStatus("config/app.php", "M")};
        QCOMPARE(GitChangeSummarizer::suggestedMessage(files),
                 QStringLiteral("Installed or updated packages, README.md, Updated globals"));
    }
};

HALVIK_GITCORE_SUITE(SummarizerTest)

#include "tst_summarizer.moc"
