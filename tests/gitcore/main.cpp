#include "GitcoreSuites.h"
#include "IsolatedHome.h"

#include <QCoreApplication>
#include <QTest>

namespace halvik::test {

std::vector<SuiteFactory>& gitcoreSuites()
{
    static std::vector<SuiteFactory> suites;
    return suites;
}

} // namespace halvik::test

// Like HALVIK_TEST_MAIN_CORE, for several test classes in one executable.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    halvik::test::IsolatedHome home;
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (const auto& factory : halvik::test::gitcoreSuites()) {
        const auto suite = factory();
        failures += QTest::qExec(suite.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
