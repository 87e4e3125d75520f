// Test main of the window tests: a real application object on the offscreen platform, so
// widgets, timers and sockets work as in the program, without a display.
#include <gtest/gtest.h>

#include "widgets/Application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    trelmo::TrelmoApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
