#pragma once
// The offscreen platform with a screen of a chosen size: the platform reads the screens from
// a JSON file named in its platform argument.

#include <QByteArray>
#include <QSize>
#include <QTemporaryFile>

namespace trelmo::test {

// Writes a one-screen configuration (`size` device pixels at 96 dpi) into `file` and returns
// the QT_QPA_PLATFORM value that starts the offscreen platform with it; plain "offscreen"
// (its 800 x 800 screen) when the file cannot be written. The file must outlive the start.
inline QByteArray offscreenPlatform(QTemporaryFile& file, QSize size) {
    if (!file.open())
        return "offscreen";
    file.write(QByteArray(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": )") +
               QByteArray::number(size.width()) + R"(, "height": )" +
               QByteArray::number(size.height()) +
               R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.flush();
    return "offscreen:configfile=" + file.fileName().toLocal8Bit();
}

}  // namespace trelmo::test
