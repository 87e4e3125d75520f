#include "mbus/MbusComposer.h"

#include "core/Convert.h"
#include "widgets/Dialogs.h"

namespace trelmo::mbus {

namespace {

char b(int v) {
    return static_cast<char>(static_cast<uint8_t>(v));
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
    out.write = true;
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
    out.write = true;
    return out;
}

SendOutcome buildMulti(TelegramState& s, const SendInputs& in) {
    SendOutcome out;
    s.Start_byte = 0x68;
    s.Field_L = 0;
    s.Telegram_checksum = 0;
    QByteArray t;
    t.append(b(0x68)).append(b(0)).append(b(0)).append(b(0x68));
    t.append(b(s.Field_C)).append(b(s.Field_A)).append(b(s.Field_CI));
    if (in.multiCost)
        t += costRecord(s, in.tariff, in.multiCostText);
    if (in.multiTime)
        t += startTimeRecord(s, in.tariff, in.multiTimeText);
    if (in.multiDuration)
        t += durationRecord(s, in.tariff, in.multiDurationText);
    if (in.multiDate)
        t += dateTimeRecord(s);
    if (in.multiId)
        t += identificationRecord(s, in.multiIdText);
    if (in.multiType)
        t += typeValueRecord(s, in.multiNumText);
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
    out.write = true;
    return out;
}

// Reads and checks the value bytes of the row in send mode; nullopt after a message.
std::optional<QByteArray> rowValue(TelegramState& s, const SendInputs& in) {
    switch (s.Selected_action) {
        case Action::DateTime:
            return dateTimeValueNow();
        case Action::StartTime:
            return startTimeFromText(in.data);
        case Action::Duration: {
            const auto hours = hoursFromText(in.data);
            if (!hours)
                return std::nullopt;
            return QByteArray(1, b(*hours));
        }
        case Action::Cost:
            if (in.data.isEmpty()) {
                showMessage(QStringLiteral("Please enter cost of tarif"));
                return std::nullopt;
            }
            return tariffCostValue(in.data);
        case Action::Identification:
            if (!checkIdentification(in.data, s))
                return std::nullopt;
            return identificationBlock(in.data, s);
        default:
            return QByteArray();
    }
}

SendOutcome buildSingle(TelegramState& s, const SendInputs& in) {
    SendOutcome out;
    const Action action = s.Selected_action;
    if (action == Action::None)
        return out;
    if (action == Action::Battery && !s.Request_mode)
        return out;
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
        if (!s.Request_mode && !checkNumDenText(in.data))
            return out;
        if (in.overwriteVif)
            s.Field_VIF = static_cast<uint8_t>(StrToInt(in.vifSpecial));
        if (!s.Request_mode) {
            uint8_t num = 0;
            uint8_t den = 0;
            if (!checkNumDenValues(in.data, s.Medium_code, &num, &den))
                return out;
            s.Record_data = typeValueBlock(s.Medium_code, num, den);
        }
    } else if (!s.Request_mode) {
        const auto value = rowValue(s, in);
        if (!value)
            return out;
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
    out.write = true;
    return out;
}

}  // namespace

std::optional<QByteArray> startTimeFromText(const QString& text) {
    if (!text.contains(u':')) {
        showMessage(QStringLiteral("Hours and minutes must be separate by :"));
        return std::nullopt;
    }
    QString hourText;
    QString minuteText;
    if (text.size() == 5) {
        hourText = text.mid(0, 2);
        minuteText = text.mid(3, 2);
    } else if (text.size() == 4) {
        hourText = text.mid(0, 1);
        minuteText = text.mid(2, 2);
    } else {
        showMessage(QStringLiteral("Wrong time format"));
        return std::nullopt;
    }
    const int32_t hour = StrToInt(hourText);
    const int32_t minute = StrToInt(minuteText);
    return tariffStartValue(static_cast<uint8_t>(minute), static_cast<uint8_t>(hour));
}

SendOutcome composeSend(TelegramState& s, const SendInputs& in) {
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
    return buildSingle(s, in);
}

}  // namespace trelmo::mbus
