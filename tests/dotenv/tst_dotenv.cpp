#include "TestMain.h"

#include "services/DotEnvFile.h"

#include <QFile>
#include <QTemporaryDir>

using namespace halvik;
using Entry = DotEnvFile::Entry;

namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class DotEnvTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesKeysAndValues()
    {
        const QString text = QStringLiteral("APP_NAME=Halvik\n"
                                            "export APP_ENV=local\n"
                                            "\tEXPORT  APP_DEBUG = true \r\n"
                                            "DB_PASSWORD=\"two words\"\n"
                                            "MAIL_FROM='ops#team'\n"
                                            "CACHE_DRIVER=file # fast enough\n"
                                            "QUOTE=\"\n"
                                            "EMPTY=\n"
                                            "=orphan\n"
                                            "no equals sign\n"
                                            "# APP_KEY=commented\n"
                                            "  # indented comment\n"
                                            "ESCAPED=\"a\\\"b\"\n"
                                            "URL=http://x.test/?a=b\r"
                                            "APP_NAME=Second\n");
        const QList<Entry> expected{
            {"APP_NAME", "Halvik"},
            {"APP_ENV", "local"},
            {"APP_DEBUG", "true"},
            {"DB_PASSWORD", "two words"},
            {"MAIL_FROM", "ops#team"},
            {"CACHE_DRIVER", "file"},
            {"QUOTE", ""},
            {"EMPTY", ""},
            {"ESCAPED", "a\\\"b"},
            {"URL", "http://x.test/?a=b"},
            {"APP_NAME", "Second"},
        };
        const QList<Entry> entries = DotEnvFile::entries(text);
        QCOMPARE(entries, expected);

        QCOMPARE(DotEnvFile::value(QStringLiteral("APP_NAME"), entries), QStringLiteral("Halvik"));
        QCOMPARE(DotEnvFile::value(QStringLiteral("app_name"), entries), std::nullopt);
        QCOMPARE(DotEnvFile::value(QStringLiteral("APP_KEY"), entries), std::nullopt);
        QVERIFY(DotEnvFile::entries(QString()).isEmpty());
    }

    void rendersVariables()
    {
        QCOMPARE(DotEnvFile::render({}), QString());
        const QString rendered = DotEnvFile::render({
            {"TITLE", "say \"hi\" now"},
            {"APP_ENV", "production"},
            {"PATH_LIKE", "C:\\dir"},
            {"BLANK", ""},
            {"HASH", "a#b"},
            {"TABBED", "a\tb"},
        });
        QCOMPARE(rendered, QStringLiteral("APP_ENV=production\n"
                                          "BLANK=\n"
                                          "HASH=\"a#b\"\n"
                                          "PATH_LIKE=\"C:\\\\dir\"\n"
                                          "TABBED=\"a\tb\"\n"
                                          "TITLE=\"say \\\"hi\\\" now\"\n"));
        // What is rendered reads back: quoted values keep their spaces and number signs.
        const QList<Entry> back = DotEnvFile::entries(rendered);
        QCOMPARE(DotEnvFile::value(QStringLiteral("HASH"), back), QStringLiteral("a#b"));
        QCOMPARE(DotEnvFile::value(QStringLiteral("APP_ENV"), back), QStringLiteral("production"));
    }

    void loadsAndSavesFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral(".env"));
        try {
            DotEnvFile::load(path);
            QFAIL("a missing file must throw");
        } catch (const DotEnvFileError& error) {
            QCOMPARE(error.description(), QStringLiteral(".env file not found."));
        }

        DotEnvFile::save(QStringLiteral("APP_NAME=Café"), path);
        QCOMPARE(readBytes(path), QByteArray("APP_NAME=Caf\xC3\xA9\n"));
        QCOMPARE(DotEnvFile::load(path), QStringLiteral("APP_NAME=Café\n"));

        DotEnvFile::save(QStringLiteral("A=1\nB=2\n"), path);
        QCOMPARE(readBytes(path), QByteArray("A=1\nB=2\n"));

        DotEnvFile::save(QString(), path);
        QCOMPARE(readBytes(path), QByteArray());

        // Writing into a folder that does not exist reports the system's reason.
        QVERIFY_THROWS_EXCEPTION(
            HalvikError, DotEnvFile::save(QStringLiteral("A=1"), dir.filePath(QStringLiteral("gone/.env"))));
        // Bytes that are not UTF-8 are an error, not a silently mangled file.
        QFile bad(path);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("A=\xFF\xFE\n");
        bad.close();
        QVERIFY_THROWS_EXCEPTION(HalvikError, DotEnvFile::load(path));
    }
};

HALVIK_TEST_MAIN_CORE(DotEnvTest)
#include "tst_dotenv.moc"
