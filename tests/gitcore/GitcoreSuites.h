#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// Every test class of this area registers a factory here; main() runs them in sequence.
namespace halvik::test {

using SuiteFactory = std::function<std::unique_ptr<QObject>()>;

std::vector<SuiteFactory>& gitcoreSuites();

struct SuiteRegistration
{
    explicit SuiteRegistration(SuiteFactory factory) { gitcoreSuites().push_back(std::move(factory)); }
};

} // namespace halvik::test

#define HALVIK_GITCORE_SUITE(Class)                                                                          \
    static const halvik::test::SuiteRegistration registration##Class(                                        \
        [] { return std::unique_ptr<QObject>(new Class); });
