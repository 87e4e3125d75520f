#pragma once
// How the texts of the M-Bus window's option controls map to telegram state. Every
// comparison is exact and case-sensitive; a text that is not one of the listed ones
// yields nullopt, and the caller leaves the governed value as it was.

#include <QString>
#include <cstdint>
#include <optional>

#include "core/mbus/MbusTelegram.h"

namespace trelmo::mbus {

std::optional<uint8_t> cFieldFromText(const QString& text);
std::optional<uint8_t> ciFieldFromText(const QString& text);
std::optional<uint8_t> resetParamFromText(const QString& text);
std::optional<uint8_t> mediumFromText(const QString& text);
// Field_DIFE after a tariff number text: "0" clears the byte, "1".."3" set bits 4-5.
std::optional<uint8_t> tariffDife(uint8_t dife, const QString& text);
// Exponent of a Combo_power text: empty -> 3, "0.001".."10000" -> 0..7; any other text 3.
int powerExponent(const QString& powerText);
// Field_VIF after a volume unit choice; bit 7 of the current VIF is kept.
std::optional<uint8_t> vifFromChoice(uint8_t currentVif, const QString& unitText,
                                     const QString& powerText);
Action actionFromText(const QString& text);
// The address text as a decimal integer, low 8 bits. Throws EConvertError.
uint8_t addressFromText(const QString& text);
// (c1-64)*1024 + (c2-64)*32 + (c3-64), where c1..c3 are the code page (Windows-1252) bytes
// of the first characters ('?' for a character the page lacks); nullopt when any is empty.
std::optional<int32_t> manufacturerNumber(const QString& l1, const QString& l2, const QString& l3);

// Applies a C choice: Field_C and Request_mode. Returns true when the record controls
// (Group_DIF, Group_VIF, the action list) are to be shown.
bool applyCChoice(TelegramState& s, const QString& text);

}  // namespace trelmo::mbus
