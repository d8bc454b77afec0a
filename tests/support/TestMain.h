#pragma once

#include "IsolatedHome.h"
#include "views/common/Appearance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, but the whole executable runs inside its own
// temporary home, set up before the application object reads any environment.
#define HALVIK_TEST_MAIN_IMPL(AppType, TestObject)                                                           \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());           \
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");                                                               \
        halvik::test::IsolatedHome home;                                                                     \
        AppType app(argc, argv);                                                                             \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        halvik::views::installIconTheme();                                                                   \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

#define HALVIK_TEST_MAIN(TestObject) HALVIK_TEST_MAIN_IMPL(QApplication, TestObject)
#define HALVIK_TEST_MAIN_CORE(TestObject) HALVIK_TEST_MAIN_IMPL(QCoreApplication, TestObject)
