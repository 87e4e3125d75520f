#pragma once
// What the command line asks of the main window at start (TForm1::applyStartOptions): the
// settings to put into the boxes, as typed, the link to open, and the log to write.

#include <QString>
#include <optional>

namespace trelmo {

struct StartOptions {
    std::optional<QString> port, speed, parity, dataBits, stopBits, settings;
    bool connect = false;
    // Reopen the serial port when its device returns, reconnect a dropped TCP client link.
    bool reopen = false;
    bool timeStamps = false;  // Tools → "Time stamps" on
    std::optional<QString> tcpHost;
    std::optional<int> tcpPort, listenPort;
    // --log: every received byte, exactly as received, to this file from the start.
    std::optional<QString> logFile;
};

}  // namespace trelmo
