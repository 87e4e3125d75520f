#pragma once
// The running check code of received bytes. Although the program labels it "CRC", it is an
// 8-bit arithmetic sum (modulo 256) of every byte received since the last send.

#include <QString>
#include <cstdint>

namespace trelmo {

// sum + byte, modulo 256.
inline uint8_t addToCheckSum(uint8_t sum, uint8_t byte) {
    return static_cast<uint8_t>(sum + byte);
}

// "CRC: 0x" and the sum as two upper-case hexadecimal digits (10 reads "CRC: 0x0A").
inline QString checkSumText(uint8_t sum) {
    return QStringLiteral("CRC: 0x") + QString::number(sum, 16).rightJustified(2, u'0').toUpper();
}

// The reset a send performs before parsing its command: sum := 0; returns the label text
// "CRC: 0x00".
inline QString resetCheckSum(uint8_t& sum) {
    sum = 0;
    return checkSumText(0);
}

}  // namespace trelmo
