#include "TestPaths.h"

namespace halvik::test {

QString halvikBinary()
{
    return QStringLiteral(HALVIK_BINARY);
}

QString snapshotHelper()
{
    return QStringLiteral(HALVIK_BINARY "-snapshot");
}

QString screenshotDir()
{
    return QStringLiteral(HALVIK_SCREENSHOT_DIR);
}

QString fixturesDir()
{
    return QStringLiteral(HALVIK_FIXTURES_DIR);
}

QString fuzzCorpusDir()
{
    return QStringLiteral(HALVIK_FUZZ_CORPUS_DIR);
}

} // namespace halvik::test
