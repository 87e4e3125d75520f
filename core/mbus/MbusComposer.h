#pragma once
// The Send composer of the M-Bus window: builds one telegram from the telegram state and
// the texts and check states of the window's controls, and says what the labels show. The
// record encoders of a multitelegram are here too.
//
// The caller checks the port and resets the labels first. Input checks that fail come back as
// messages in the result; a failing single-record telegram is not built, a multitelegram
// goes out without the failing record.

#include <QByteArray>
#include <QString>
#include <optional>

#include "core/mbus/MbusResult.h"
#include "core/mbus/MbusTelegram.h"

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

// The label texts of a telegram that was built (nullopt: keep the reset text).
struct SendOutcome {
    std::optional<QString> header;  // Label_Header
    std::optional<QString> dif;     // Label_DIF
    std::optional<QString> info;    // Label_info
    std::optional<QString> vif;     // Label_VIF
    std::optional<QString> crc;     // Label_crc
    std::optional<QString> data;    // Label6
};

// Steps 2 (state part) to 3 of Send. Made only when a telegram was built: Telegram_bytes then
// holds the bytes to write. Nothing is made for a failing check of a single record (its
// message comes back) nor when no telegram applies (no action; the battery status outside
// request mode). A text that is not an integer abandons the Send: the result carries the
// conversion error behind the messages of the records before it, and nothing is written.
Result<SendOutcome> composeSend(TelegramState& s, const SendInputs& in);

// Start time text of the single-record action ("hh:mm" or "h:mm"). Refuses a text without ":"
// or of another length; throws EConvertError.
Result<QByteArray> startTimeFromText(const QString& text);

// ---- record encoders of a multitelegram: one complete record, or nothing and the message ----
// Tariff bits come from the text of Combo_tariff and are applied to Field_DIFE first. Texts
// converted as numbers throw EConvertError.
Result<QByteArray> costRecord(TelegramState& s, const QString& tariffText, const QString& costText);
QByteArray startTimeRecord(TelegramState& s, const QString& tariffText, const QString& hourText);
Result<QByteArray> durationRecord(TelegramState& s, const QString& tariffText,
                                  const QString& hoursText);
QByteArray dateTimeRecord(const TelegramState& s);
Result<QByteArray> identificationRecord(TelegramState& s, const QString& idText);
Result<QByteArray> typeValueRecord(TelegramState& s, const QString& numText);

}  // namespace trelmo::mbus
