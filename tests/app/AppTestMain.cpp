// One application object for every test of the window, offscreen, with the program's
// font and the UI thread joined to the apartment as the program entry does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

#include "platform/ClassRegistry.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setFont(QFont("Liberation Sans", 8));
    CoInitialize(nullptr);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
