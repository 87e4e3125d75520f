#pragma once
// The meters the M-Bus window and command-line tests put on the simulated bus: a water meter
// and a heat meter whose ids differ in the last digit only, and an electricity meter whose
// reply comes in three telegrams.

#include <QByteArray>
#include <QString>

#include "tests/common/MbusMeterBus.h"

namespace trelmo::test {

inline QByteArray recordBytes(const char* hex) {
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

inline constexpr uint16_t kAbc = 0x0443;  // "ABC"
inline constexpr uint16_t kKam = 0x2C2D;  // "KAM"
inline constexpr uint16_t kSon = 0x4DEE;  // "SON"

// Address 5: volume 12.345 m³ (VIF 0x13, int32), flow temperature 30.0 °C (VIF 0x5A, int16).
inline SimMeter waterMeter() {
    return {5,
            QStringLiteral("12345670"),
            kAbc,
            1,
            7,
            0,
            {recordBytes("04 13 39 30 00 00 02 5A 2C 01")}};
}

// Address 17: energy 37351 kWh (VIF 0x06), volume 10 m³ in BCD (VIF 0x13, BCD 8), status
// "power low" and "temporary error".
inline SimMeter heatMeter() {
    return {17,
            QStringLiteral("12345671"),
            kKam,
            8,
            4,
            0x14,
            {recordBytes("04 06 E7 91 00 00 0C 13 00 00 01 00")}};
}

// Address 250: three telegrams, the first two ending with 0x1F (more records follow).
inline SimMeter electricityMeter() {
    return {
        250,
        QStringLiteral("40000001"),
        kSon,
        13,
        2,
        0,
        {recordBytes("04 03 01 00 00 00 02 FD 48 60 03 1F"), recordBytes("84 10 03 02 00 00 00 1F"),
         recordBytes("84 20 03 03 00 00 00 02 FD 59 BD 03")}};
}

inline MbusMeterBus threeMeters() {
    MbusMeterBus bus;
    bus.addMeter(waterMeter());
    bus.addMeter(heatMeter());
    bus.addMeter(electricityMeter());
    return bus;
}

// The reply frame of a meter's telegram, as the bus sends it (access number 1 + index).
inline QByteArray replyOf(const SimMeter& meter, std::size_t telegram = 0) {
    return MbusMeterBus::replyFrame(meter, telegram, static_cast<uint8_t>(1 + telegram));
}

// Upper-case hex without blanks.
inline QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex().toUpper());
}

}  // namespace trelmo::test
