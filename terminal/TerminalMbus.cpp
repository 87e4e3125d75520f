// The main window's side of the M-Bus window: the port state, the telegram write and the
// capture flag that passes received serial bytes on (TerminalReceive.cpp).
#include "mbus/MbusWindow.h"
#include "serial/VaComm.h"
#include "terminal/Terminal.h"

void TForm1::setMbusWindow(trelmo::TForm5* window) {
    if (mbusWindow_)
        disconnect(mbusWindow_, &QObject::destroyed, this, nullptr);
    mbusWindow_ = window;
    // A window destroyed before this one never receives another byte.
    if (window)
        connect(window, &QObject::destroyed, this, [this] { mbusWindow_ = nullptr; });
}

bool TForm1::portOpen() const {
    return PortOpen;
}

void TForm1::writeTelegram(const QByteArray& bytes) {
    Com_Port->WriteText(bytes);
}

void TForm1::setMbusCapture(bool on) {
    MbusCapture = on;
}
