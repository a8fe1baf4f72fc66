#include "runtime/Runtime.h"

#include <QApplication>

#include <gtest/gtest.h>

// Every test binary runs with a real application object on Qt's offscreen
// platform, so that pictures, painters and widgets behave as in the program.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // An unhandled exception is only written to stderr here: a message box
    // would wait for a click that never comes. Tests that look at the box
    // put it back.
    RuntimeSetUnhandledExceptionPresenter([](Ref<RuntimeException> const&) { });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
