#pragma once
// Helpers of the record decoder tests: bytes from hex text, and a reply frame around
// constructed records (long header of meter 12345678, manufacturer "ABC", version 1, water).

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include "core/mbus/MbusFrame.h"
#include "core/mbus/MbusRecords.h"

namespace trelmo::mbus::test {

inline QByteArray hex(const char* text) {
    const Result<QByteArray> r = parseHexLine(QString::fromLatin1(text));
    EXPECT_TRUE(r.ok()) << text << ": " << r.error().toStdString();
    return r.ok() ? r.value() : QByteArray();
}

inline Telegram decodeHex(const char* text) {
    return decodeTelegram(hex(text));
}

// The 12 header bytes after CI 0x72: id 12345678, "ABC" (0x0443), version 1, medium 7
// (water), access 0x2A, status 0, signature 0.
inline QByteArray defaultHeader() {
    return QByteArray::fromHex(
        "7856341243040107"
        "2A000000");
}

// RSP_UD from address 1 with CI `ci` and `userData` after it.
inline QByteArray rsp(const QByteArray& userData, uint8_t ci = 0x72) {
    return longFrame(0x08, 0x01, ci, userData);
}

// RSP_UD with the default long header and the records given as hex.
inline Telegram decodeRecords(const char* recordsHex) {
    return decodeTelegram(rsp(defaultHeader() + hex(recordsHex)));
}

// Offset of the first record byte in a frame built by rsp() with the long header.
inline constexpr int kFirstRecord = 19;

inline std::string describe(const Telegram& t) {
    std::string s;
    for (const DecodeError& e : t.errors)
        s += "  error at " + std::to_string(e.offset) + ": " + e.reason.toStdString() + "\n";
    for (const Record& r : t.records)
        s += "  record @" + std::to_string(r.offset) + " " + r.quantity.toStdString() + " = " +
             r.value.toStdString() + " " + r.unit.toStdString() + " [" + r.type.toStdString() +
             "] " + r.note.toStdString() + "\n";
    return s;
}

}  // namespace trelmo::mbus::test
