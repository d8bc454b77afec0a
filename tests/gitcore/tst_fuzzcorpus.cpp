#include "GitcoreSuites.h"
#include "TestPaths.h"

#include "../../fuzz/FuzzEntries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// Replays the checked-in fuzzing corpus (seeds and past findings) through the same entry
// functions the libFuzzer programs use, so every build re-checks them.
class FuzzCorpusTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void corpusReplays_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("file");
        const QString root = halvik::test::fuzzCorpusDir();
        QVERIFY2(QFileInfo(root).isDir(), qPrintable(root));
        int rows = 0;
        for (const auto& target : halvik::fuzz::kFuzzTargets) {
            const QString name = QString::fromLatin1(target.name.data(), qsizetype(target.name.size()));
            QDirIterator it(root + '/' + name, QDir::Files);
            int files = 0;
            while (it.hasNext()) {
                const QString file = it.next();
                QTest::newRow(qPrintable(name + '/' + QFileInfo(file).fileName())) << name << file;
                ++files;
            }
            QVERIFY2(files > 0, qPrintable("no corpus for " + name));
            rows += files;
        }
        QVERIFY(rows > 0);
    }

    void corpusReplays()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFile input(file);
        QVERIFY(input.open(QIODevice::ReadOnly));
        const QByteArray bytes = input.readAll();
        const auto* entry = halvik::fuzz::fuzzTarget(target.toStdString());
        QVERIFY(entry);
        QVERIFY(entry->run(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
    }
};

HALVIK_GITCORE_SUITE(FuzzCorpusTest)

#include "tst_fuzzcorpus.moc"
