#pragma once
// Command strings: what the user types into the command line, turned into the bytes sent.
//
// Read left to right, each item gives one byte:
//   "#" and two hexadecimal digits (0-9, A-F, a-f)  -> the byte of those digits, high first;
//   any other character                              -> its Windows-1252 byte (a character
//                                                       the code page lacks gives '?').
// Nothing is added: no terminator, CR or LF unless written. "#23" is the literal "#".

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace trelmo {

// The refusal shown for a malformed command string.
inline const QString kWrongSendString = QStringLiteral("Wrong send string. Please correct it");

// Parses a whole command string, of any length (no fixed buffer, nothing cut).
// Returns the bytes, or std::nullopt when a "#" is not followed by two hexadecimal digits
// (fewer than two characters left, or a character that is not a hexadecimal digit);
// the caller then shows kWrongSendString and sends nothing.
// An empty string gives an empty byte array (the caller refuses empty commands first).
// A character outside the Basic Multilingual Plane (a UTF-16 surrogate pair) is one
// character and gives one '?'.
std::optional<QByteArray> parseCommandString(QStringView command);

}  // namespace trelmo
