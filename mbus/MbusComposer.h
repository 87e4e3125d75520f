#pragma once
// The Send composer of the M-Bus window: builds one telegram from the telegram state and
// the texts and check states of the window's controls, and says what the labels show.
//
// The caller checks the port and resets the labels first. Input checks show their message
// through the dialog seam; a failing single-record telegram is not built. A text that is not
// an integer throws EConvertError: the Send is abandoned and nothing is written.

#include <QByteArray>
#include <QString>
#include <optional>

#include "mbus/MbusTelegram.h"

namespace trelmo::mbus {

// What Send reads from the window.
struct SendInputs {
    bool shortFrame = false;        // Radio_Short checked
    bool recordControls = false;    // Group_DIF visible
    bool parameterVisible = false;  // Combo_Parameter1 visible
    bool multi = false;             // Check_multi
    bool multiCost = false, multiTime = false, multiDuration = false;
    bool multiDate = false, multiId = false, multiType = false;
    bool overwriteVif = false;  // Check_ovrVIF
    QString data;               // Edit_data
    QString vifSpecial;         // Edit_VIFspecial
    QString tariff;             // Combo_tariff
    QString multiCostText, multiTimeText, multiDurationText, multiIdText, multiNumText;
};

// The outcome: the bytes to write (when `write`) and the label texts to set (nullopt: keep
// the reset text).
struct SendOutcome {
    bool write = false;
    QByteArray bytes;
    std::optional<QString> header;  // Label_Header
    std::optional<QString> dif;     // Label_DIF
    std::optional<QString> info;    // Label_info
    std::optional<QString> vif;     // Label_VIF
    std::optional<QString> crc;     // Label_crc
    std::optional<QString> data;    // Label6
};

// Steps 2 (state part) to 3 of Send. Sets Telegram_bytes to the bytes written.
SendOutcome composeSend(TelegramState& s, const SendInputs& in);

// Start time text of the single-record action ("hh:mm" or "h:mm"). Shows a message and
// returns nullopt for a text without ":" or of another length; throws EConvertError.
std::optional<QByteArray> startTimeFromText(const QString& text);

}  // namespace trelmo::mbus
