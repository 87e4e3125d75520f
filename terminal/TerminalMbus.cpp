#include "terminal/Terminal.h"

void TForm1::connectMbusHandlers() {}

bool TForm1::portOpen() const {
    return PortOpen;
}
void TForm1::writeTelegram(const QByteArray&) {}
void TForm1::setMbusCapture(bool on) {
    MbusCapture = on;
}
