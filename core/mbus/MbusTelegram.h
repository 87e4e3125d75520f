#pragma once
// The M-Bus telegram state of the M-Bus window, the frame layouts it emits, the value
// encodings, the input checks shared by a single record and a multitelegram's records, and
// the small text conversions.
//
// Input checks that fail return their message in the result and make nothing; the window
// shows it. Texts converted as decimal numbers go through trelmo::StrToInt and raise
// trelmo::EConvertError, which is not caught here.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

#include "core/mbus/MbusResult.h"

namespace trelmo::mbus {

// The entry of Combo_Action in force.
enum class Action { None, DateTime, StartTime, Duration, Cost, Identification, TypeValue, Battery };

// The bytes of the telegram being composed. Every numeric field starts at zero.
struct TelegramState {
    uint8_t Field_C = 0;
    uint8_t Field_CI = 0;
    uint8_t Field_A = 0;
    uint8_t Reset_param = 0;
    uint8_t Field_L = 0;
    uint8_t Telegram_checksum = 0;
    uint8_t Start_byte = 0;
    uint8_t Stop_byte = 0;
    uint8_t Field_DIF = 0;
    uint8_t Field_DIFE = 0;
    uint8_t Field_VIF = 0;
    uint8_t Field_VIFE = 0;
    bool Vif_extended = false;
    uint8_t Mfr_code[2] = {0, 0};  // low byte first
    int32_t Mfr_number = 0;        // display only
    uint8_t Medium_code = 0;
    bool Medium_valid = false;
    bool Request_mode = false;
    Action Selected_action = Action::None;
    QByteArray Telegram_bytes;
    QByteArray Record_data;

    // What the window's creation handler sets: Mfr_code D9 2E, record header bytes 0,
    // Vif_extended false, checksum 0, byte strings empty.
    void create();
};

// ---- frames: each returns the complete byte string with L, CS and the stop byte 0x16 ----
QByteArray shortFrame(uint8_t c, uint8_t a);
QByteArray controlFrame(uint8_t c, uint8_t a, uint8_t ci);
QByteArray controlFrameWithParam(uint8_t c, uint8_t a, uint8_t ci, uint8_t p);
QByteArray longFrame(uint8_t c, uint8_t a, uint8_t ci, const QByteArray& records);

// Sum modulo 256 of the bytes.
uint8_t byteSum(const QByteArray& bytes);
// Two upper-case hex digits.
QString hex2(uint8_t b);

// ---- value encodings ----
// Date and time (type F, 4 bytes) of the given local moment; no invalid/summer-time bits.
QByteArray dateTimeValue(const QDateTime& moment);
// The same for trelmo::now().
QByteArray dateTimeValueNow();
// Tariff start time: minute, hour, 00, 00.
QByteArray tariffStartValue(uint8_t minute, uint8_t hour);
// Identification block (8 bytes): BCD of the 8 digits, last pair first, then Mfr_code,
// version 01 and Medium_code. Needs exactly 8 decimal digits.
QByteArray identificationBlock(const QString& digits, const TelegramState& state);
// Tariff cost (7 bytes): the decimal text as a 32-bit integer, least significant byte
// first, then "BGN". Throws EConvertError for a text that is not an integer.
QByteArray tariffCostValue(const QString& text);
// Type and value (3 bytes): medium, numerator, denominator.
QByteArray typeValueBlock(uint8_t medium, uint8_t numerator, uint8_t denominator);
// Hours text rule: "" -> "Please enter hours of duration"; one or two digits -> the value;
// anything else -> "Error in hours". A failing text makes nothing and says which.
Result<uint8_t> hoursFromText(const QString& text);

// ---- input checks: each refuses with the message of the first check that fails ----
// The identification record and action: length 8, digits only, a valid medium.
Result<> checkIdentification(const QString& idText, const TelegramState& s);

// Character checks of a NUM/DENUM text: empty, no "/", a character other than a digit or "/".
Result<> checkNumDenText(const QString& text);
// The numerator and denominator of a NUM/DENUM text.
struct NumDen {
    uint8_t num = 0;
    uint8_t den = 0;
};
// Medium, numerator and denominator checks of a NUM/DENUM text that passed the character
// checks. Throws EConvertError for an empty or malformed part ("/5", "5/", "1/2/3").
Result<NumDen> checkNumDenValues(const QString& text, uint8_t medium);

// Takes the first eight characters; character i (1..8) weighs 16^(8-i); "A"-"F" and "a"-"f"
// count 10-15, any other character is converted as a one-character decimal number (a
// non-digit throws EConvertError). A shorter text is taken as far as it goes.
uint32_t hexTextToNumber(const QString& text);

}  // namespace trelmo::mbus
