// Test main of the layers below the windows: a QCoreApplication, so timers, queued calls and
// sockets work as in the program, and no widget library is loaded.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
