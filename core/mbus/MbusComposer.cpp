#include "core/mbus/MbusComposer.h"

#include <exception>

#include "core/Convert.h"
#include "core/mbus/MbusOptions.h"

namespace trelmo::mbus {

namespace {

char b(int v) {
    return static_cast<char>(static_cast<uint8_t>(v));
}

void applyTariff(TelegramState& s, const QString& tariffText) {
    if (auto dife = tariffDife(s.Field_DIFE, tariffText))
        s.Field_DIFE = *dife;
}

// DIF, DIFE, VIF and VIFE of a tariff record.
QByteArray header4(const TelegramState& s) {
    QByteArray r;
    r.append(b(s.Field_DIF)).append(b(s.Field_DIFE)).append(b(s.Field_VIF)).append(b(s.Field_VIFE));
    return r;
}

QString frameHeader(uint8_t l, const TelegramState& s) {
    return QStringLiteral("Header: 68 ") + hex2(l) + u' ' + hex2(l) + QStringLiteral(" 68") + u' ' +
           hex2(s.Field_C) + u' ' + hex2(s.Field_A) + u' ' + hex2(s.Field_CI);
}

SendOutcome buildShort(TelegramState& s) {
    SendOutcome out;
    s.Telegram_bytes = shortFrame(s.Field_C, s.Field_A);
    s.Telegram_checksum = static_cast<uint8_t>(s.Field_C + s.Field_A);
    out.header = QStringLiteral("Header: 10 ") + hex2(s.Field_C) + u' ' + hex2(s.Field_A);
    out.vif = QStringLiteral("Checksum: ") + hex2(s.Telegram_checksum);
    out.dif = out.info = QStringLiteral("None");
    return out;
}

SendOutcome buildControl(TelegramState& s, bool withParam) {
    SendOutcome out;
    s.Start_byte = 0x68;
    if (withParam) {
        s.Field_L = 4;
        s.Telegram_bytes = controlFrameWithParam(s.Field_C, s.Field_A, s.Field_CI, s.Reset_param);
    } else {
        s.Field_L = 3;
        s.Telegram_bytes = controlFrame(s.Field_C, s.Field_A, s.Field_CI);
    }
    s.Telegram_checksum = static_cast<uint8_t>(s.Telegram_bytes.at(s.Telegram_bytes.size() - 2));
    QString header = frameHeader(s.Field_L, s);
    if (withParam)
        header += u' ' + hex2(s.Reset_param);
    out.header = header;
    out.dif = out.info = QStringLiteral("None");
    out.vif = QStringLiteral("Checksum: ") + hex2(s.Telegram_checksum);
    return out;
}

// A record that fails its check is left out; its message is kept for the window. A
// conversion error abandons the telegram after the messages of the records before it.
Result<SendOutcome> buildMulti(TelegramState& s, const SendInputs& in) {
    SendOutcome out;
    s.Start_byte = 0x68;
    s.Field_L = 0;
    s.Telegram_checksum = 0;
    QByteArray t;
    t.append(b(0x68)).append(b(0)).append(b(0)).append(b(0x68));
    t.append(b(s.Field_C)).append(b(s.Field_A)).append(b(s.Field_CI));
    QStringList messages;
    auto add = [&](const Result<QByteArray>& record) {
        messages += record.messages();
        if (record)
            t += *record;
    };
    try {
        if (in.multiCost)
            add(costRecord(s, in.tariff, in.multiCostText));
        if (in.multiTime)
            add(startTimeRecord(s, in.tariff, in.multiTimeText));
        if (in.multiDuration)
            add(durationRecord(s, in.tariff, in.multiDurationText));
        if (in.multiDate)
            add(dateTimeRecord(s));
        if (in.multiId)
            add(identificationRecord(s, in.multiIdText));
        if (in.multiType)
            add(typeValueRecord(s, in.multiNumText));
    } catch (const EConvertError&) {
        return Result<SendOutcome>::abandoned(messages, std::current_exception());
    }
    s.Telegram_checksum = byteSum(t.mid(4));
    out.crc = QStringLiteral("Checksum: ") + hex2(s.Telegram_checksum);
    s.Field_L = static_cast<uint8_t>(t.size() - 4);
    t[1] = b(s.Field_L);
    t[2] = b(s.Field_L);
    QString data = QStringLiteral("Data");
    for (int i = 7; i < t.size(); ++i)
        data += u' ' + hex2(static_cast<uint8_t>(t.at(i)));
    out.data = data;
    QString header = QStringLiteral("Header: ");
    for (int i = 0; i < 7; ++i)
        header += u' ' + hex2(static_cast<uint8_t>(t.at(i)));
    out.header = header;
    t.append(b(s.Telegram_checksum)).append(b(0x16));
    s.Telegram_bytes = t;
    Result<SendOutcome> sent(out);
    sent.addMessages(messages);
    return sent;
}

// Reads and checks the value bytes of the row in send mode.
Result<QByteArray> rowValue(TelegramState& s, const SendInputs& in) {
    switch (s.Selected_action) {
        case Action::DateTime:
            return dateTimeValueNow();
        case Action::StartTime:
            return startTimeFromText(in.data);
        case Action::Duration: {
            const auto hours = hoursFromText(in.data);
            if (!hours)
                return Result<QByteArray>::refused(hours);
            return QByteArray(1, b(*hours));
        }
        case Action::Cost:
            if (in.data.isEmpty())
                return Result<QByteArray>::refused(QStringLiteral("Please enter cost of tarif"));
            return tariffCostValue(in.data);
        case Action::Identification:
            if (const auto checked = checkIdentification(in.data, s); !checked)
                return Result<QByteArray>::refused(checked);
            return identificationBlock(in.data, s);
        default:
            return QByteArray();
    }
}

Result<SendOutcome> buildSingle(TelegramState& s, const SendInputs& in) {
    SendOutcome out;
    const Action action = s.Selected_action;
    if (action == Action::None)
        return Result<SendOutcome>::nothing();
    if (action == Action::Battery && !s.Request_mode)
        return Result<SendOutcome>::nothing();
    s.Start_byte = 0x68;

    bool hasDife = false;
    bool hasVife = false;
    s.Telegram_checksum = 0;
    s.Record_data.clear();
    switch (action) {
        case Action::DateTime:
            s.Field_DIF = 0x04;
            s.Field_VIF = 0x6D;
            break;
        case Action::StartTime:
            s.Field_DIF = 0x84;
            s.Field_VIF = 0xED;
            s.Field_VIFE = 0x30;
            hasDife = hasVife = true;
            break;
        case Action::Duration:
            s.Field_DIF = 0x81;
            s.Field_VIF = 0xFD;
            s.Field_VIFE = 0x32;
            hasDife = hasVife = true;
            break;
        case Action::Cost:
            s.Field_DIF = 0x8F;
            s.Field_VIF = 0x7F;
            s.Field_VIFE = 0x07;
            hasDife = hasVife = true;
            break;
        case Action::TypeValue:
            s.Field_DIF = 0x0F;
            s.Field_VIFE = s.Request_mode ? 0x00 : 0x03;
            s.Vif_extended = true;
            hasVife = true;
            break;
        case Action::Identification:
            s.Field_DIF = 0x07;
            s.Field_VIF = 0x79;
            break;
        case Action::Battery:
            s.Field_DIF = 0x0F;
            s.Field_VIF = 0x7F;
            break;
        case Action::None:
            break;
    }
    s.Field_L = hasDife ? 7 : (hasVife ? 6 : 5);

    if (action == Action::TypeValue) {
        if (!s.Request_mode) {
            if (const auto checked = checkNumDenText(in.data); !checked)
                return Result<SendOutcome>::refused(checked);
        }
        if (in.overwriteVif)
            s.Field_VIF = static_cast<uint8_t>(StrToInt(in.vifSpecial));
        if (!s.Request_mode) {
            const auto values = checkNumDenValues(in.data, s.Medium_code);
            if (!values)
                return Result<SendOutcome>::refused(values);
            s.Record_data = typeValueBlock(s.Medium_code, values->num, values->den);
        }
    } else if (!s.Request_mode) {
        const auto value = rowValue(s, in);
        if (!value)
            return Result<SendOutcome>::refused(value);
        s.Record_data = *value;
    }
    s.Field_L = static_cast<uint8_t>(s.Field_L + s.Record_data.size());

    out.header = frameHeader(s.Field_L, s);
    QByteArray t;
    t.append(b(0x68)).append(b(s.Field_L)).append(b(s.Field_L)).append(b(0x68));
    t.append(b(s.Field_C)).append(b(s.Field_A)).append(b(s.Field_CI));
    t.append(b(s.Field_DIF));
    QString dif = QStringLiteral("DIF and VIF: ") + hex2(s.Field_DIF);
    if (hasDife) {
        t.append(b(s.Field_DIFE));
        dif += u' ' + hex2(s.Field_DIFE);
    }
    t.append(b(s.Field_VIF));
    dif += u' ' + hex2(s.Field_VIF);
    if (hasVife) {
        t.append(b(s.Field_VIFE));
        dif += u' ' + hex2(s.Field_VIFE);
    }
    t.append(s.Record_data);
    out.dif = dif;
    if (!s.Request_mode) {
        QString info;
        for (char c : s.Record_data)
            info += u' ' + hex2(static_cast<uint8_t>(c));
        out.info = info;
    }
    s.Telegram_checksum = byteSum(t.mid(4));
    out.vif = QStringLiteral("Checksum: ") + hex2(s.Telegram_checksum);
    t.append(b(s.Telegram_checksum)).append(b(0x16));
    s.Telegram_bytes = t;
    if (action == Action::Identification || action == Action::Battery)
        s.Record_data.clear();
    return out;
}

}  // namespace

Result<QByteArray> startTimeFromText(const QString& text) {
    if (!text.contains(u':'))
        return Result<QByteArray>::refused(
            QStringLiteral("Hours and minutes must be separate by :"));
    QString hourText;
    QString minuteText;
    if (text.size() == 5) {
        hourText = text.mid(0, 2);
        minuteText = text.mid(3, 2);
    } else if (text.size() == 4) {
        hourText = text.mid(0, 1);
        minuteText = text.mid(2, 2);
    } else {
        return Result<QByteArray>::refused(QStringLiteral("Wrong time format"));
    }
    const int32_t hour = StrToInt(hourText);
    const int32_t minute = StrToInt(minuteText);
    return tariffStartValue(static_cast<uint8_t>(minute), static_cast<uint8_t>(hour));
}

Result<SendOutcome> composeSend(TelegramState& s, const SendInputs& in) {
    s.Telegram_bytes.clear();
    s.Record_data.clear();
    s.Field_L = 0;
    s.Stop_byte = 0x16;
    s.Telegram_checksum = 0;
    if (in.shortFrame)
        return buildShort(s);
    s.Start_byte = 0x68;
    if (!in.recordControls)
        return buildControl(s, in.parameterVisible);
    if (in.multi)
        return buildMulti(s, in);
    try {
        return buildSingle(s, in);
    } catch (const EConvertError&) {
        return Result<SendOutcome>::abandoned({}, std::current_exception());
    }
}

Result<QByteArray> costRecord(TelegramState& s, const QString& tariffText,
                              const QString& costText) {
    applyTariff(s, tariffText);
    s.Field_DIF = 0x8F;
    s.Field_VIF = 0x7F;
    if (costText.isEmpty())
        return Result<QByteArray>::refused(QStringLiteral("Please enter cost of tarif"));
    const QByteArray value = tariffCostValue(costText);
    s.Field_VIFE = 0x07;
    return header4(s) + value;
}

QByteArray startTimeRecord(TelegramState& s, const QString& tariffText, const QString& hourText) {
    applyTariff(s, tariffText);
    const int32_t hour = StrToInt(hourText);
    s.Field_DIF = 0x84;
    s.Field_VIF = 0xED;
    s.Field_VIFE = 0x30;
    return header4(s) + tariffStartValue(0, static_cast<uint8_t>(hour));
}

Result<QByteArray> durationRecord(TelegramState& s, const QString& tariffText,
                                  const QString& hoursText) {
    applyTariff(s, tariffText);
    s.Field_DIF = 0x81;
    s.Field_VIF = 0xFD;
    s.Field_VIFE = 0x32;
    const auto hours = hoursFromText(hoursText);
    if (!hours)
        return Result<QByteArray>::refused(hours);
    QByteArray r = header4(s);
    r.append(b(*hours));
    return r;
}

QByteArray dateTimeRecord(const TelegramState&) {
    QByteArray r;
    r.append(b(0x04)).append(b(0x6D));
    return r + dateTimeValueNow();
}

Result<QByteArray> identificationRecord(TelegramState& s, const QString& idText) {
    if (const auto checked = checkIdentification(idText, s); !checked)
        return Result<QByteArray>::refused(checked);
    s.Field_DIF = 0x07;
    s.Field_VIF = 0x79;
    QByteArray r;
    r.append(b(0x07)).append(b(0x79));
    return r + identificationBlock(idText, s);
}

Result<QByteArray> typeValueRecord(TelegramState& s, const QString& numText) {
    if (const auto checked = checkNumDenText(numText); !checked)
        return Result<QByteArray>::refused(checked);
    s.Field_VIFE = 0x03;
    const auto values = checkNumDenValues(numText, s.Medium_code);
    if (!values)
        return Result<QByteArray>::refused(values);
    s.Field_DIF = 0x0F;
    QByteArray r;
    r.append(b(0x0F)).append(b(s.Field_VIF)).append(b(0x03));
    return r + typeValueBlock(s.Medium_code, values->num, values->den);
}

}  // namespace trelmo::mbus
