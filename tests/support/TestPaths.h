#pragma once

#include <QString>

namespace halvik::test {

// Absolute paths fixed when the build was configured. Only TestPaths.cpp sees them, so every
// other test source compiles the same in any checkout and ccache can share its objects.
QString halvikBinary();   // the halvik executable under test
QString snapshotHelper(); // the halvik-snapshot helper built beside it
QString screenshotDir();  // build/screenshots in the source folder
QString fixturesDir();    // tests/fixtures
QString fuzzCorpusDir();  // the checked-in libFuzzer corpus

} // namespace halvik::test
