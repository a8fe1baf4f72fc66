#include <QApplication>

#include <gtest/gtest.h>

// Every test binary runs with a real application object on Qt's offscreen
// platform, so that pictures, painters and widgets behave as in the program.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
