// Test main of the window tests: a real application object on the offscreen platform, so
// widgets, timers and sockets work as in the program, without a display.
#include <gtest/gtest.h>

#include <QTemporaryFile>

#include "tests/common/OffscreenScreen.h"
#include "widgets/Application.h"

int main(int argc, char** argv) {
    // The offscreen platform's own screen is 800 x 800, narrower than the main window: the
    // tests run on a desktop-sized screen instead (a test that asks for another screen sets
    // QT_QPA_PLATFORM itself).
    QTemporaryFile screen;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM", trelmo::test::offscreenPlatform(screen, QSize(1600, 1000)));
    ::testing::InitGoogleTest(&argc, argv);
    trelmo::TrelmoApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
