#pragma once
// The system's 8-bit character set: Windows-1252, one codec for received bytes,
// command strings, command files and saved logs.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace trelmo::codec {

// The character a byte stands for.
QChar toChar(uint8_t byte);
// The byte of a character; characters the code page lacks become '?'.
uint8_t toByte(QChar ch);

QString toUnicode(QByteArrayView bytes);
QByteArray fromUnicode(QStringView text);

}  // namespace trelmo::codec
