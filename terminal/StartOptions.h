#pragma once
// What the command line asks of the main window at start (TForm1::applyStartOptions): the
// settings to put into the boxes, as typed, and the link to open.

#include <QString>
#include <optional>

namespace trelmo {

struct StartOptions {
    std::optional<QString> port, speed, parity, dataBits, stopBits, settings;
    bool connect = false;
    bool timeStamps = false;  // Tools → "Time stamps" on
    std::optional<QString> tcpHost;
    std::optional<int> tcpPort, listenPort;
};

}  // namespace trelmo
