#pragma once
// What the M-Bus window needs from the main window.

#include <QByteArray>

namespace trelmo {

struct MbusHost {
    virtual ~MbusHost() = default;
    // True while the main window's serial port is open.
    virtual bool portOpen() const = 0;
    // Writes the whole telegram in one piece to the main window's serial port.
    virtual void writeTelegram(const QByteArray& bytes) = 0;
    // Switches the main window's MbusCapture flag: while on, each received serial byte is
    // passed to TForm5::captureByte.
    virtual void setMbusCapture(bool on) = 0;
};

}  // namespace trelmo
