#include "mbus/MbusTelegram.h"

#include "core/Convert.h"
#include "widgets/Dialogs.h"
#include "core/LocaleText.h"
#include "mbus/MbusOptions.h"

namespace trelmo::mbus {

namespace {

char b(int v) {
    return static_cast<char>(static_cast<uint8_t>(v));
}

QByteArray finish(QByteArray frame, int sumFrom) {
    frame.append(b(byteSum(frame.mid(sumFrom))));
    frame.append(b(0x16));
    return frame;
}

bool allDigits(const QString& text) {
    for (QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return false;
    }
    return true;
}

}  // namespace

void TelegramState::create() {
    Mfr_code[0] = 0xD9;
    Mfr_code[1] = 0x2E;
    Field_DIF = Field_DIFE = Field_VIF = Field_VIFE = 0;
    Vif_extended = false;
    Telegram_checksum = 0;
    Telegram_bytes.clear();
    Record_data.clear();
}

uint8_t byteSum(const QByteArray& bytes) {
    uint8_t sum = 0;
    for (char c : bytes)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return sum;
}

QString hex2(uint8_t v) {
    return QStringLiteral("%1").arg(v, 2, 16, QChar(u'0')).toUpper();
}

QByteArray shortFrame(uint8_t c, uint8_t a) {
    QByteArray f;
    f.append(b(0x10)).append(b(c)).append(b(a));
    return finish(f, 1);
}

QByteArray controlFrame(uint8_t c, uint8_t a, uint8_t ci) {
    QByteArray f;
    f.append(b(0x68)).append(b(3)).append(b(3)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci));
    return finish(f, 4);
}

QByteArray controlFrameWithParam(uint8_t c, uint8_t a, uint8_t ci, uint8_t p) {
    QByteArray f;
    f.append(b(0x68)).append(b(4)).append(b(4)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci)).append(b(p));
    return finish(f, 4);
}

QByteArray longFrame(uint8_t c, uint8_t a, uint8_t ci, const QByteArray& records) {
    const int l = 3 + records.size();
    QByteArray f;
    f.append(b(0x68)).append(b(l)).append(b(l)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci)).append(records);
    return finish(f, 4);
}

QByteArray dateTimeValue(const QDateTime& moment) {
    const QDate d = moment.date();
    const QTime t = moment.time();
    const int yy = d.year() % 100;
    QByteArray v;
    v.append(b(t.minute() & 0x3F));
    v.append(b(t.hour() & 0x1F));
    v.append(b((d.day() & 0x1F) | ((yy & 0x07) << 5)));
    v.append(b((d.month() & 0x0F) | (((yy >> 3) & 0x0F) << 4)));
    return v;
}

QByteArray dateTimeValueNow() {
    return dateTimeValue(trelmo::now());
}

QByteArray tariffStartValue(uint8_t minute, uint8_t hour) {
    QByteArray v;
    v.append(b(minute)).append(b(hour)).append(b(0)).append(b(0));
    return v;
}

QByteArray identificationBlock(const QString& digits, const TelegramState& state) {
    QByteArray v;
    for (int pair = 3; pair >= 0; --pair) {
        const int hi = digits.at(2 * pair).unicode() - '0';
        const int lo = digits.at(2 * pair + 1).unicode() - '0';
        v.append(b((hi << 4) | lo));
    }
    v.append(b(state.Mfr_code[0])).append(b(state.Mfr_code[1]));
    v.append(b(0x01)).append(b(state.Medium_code));
    return v;
}

QByteArray tariffCostValue(const QString& text) {
    const uint32_t value = static_cast<uint32_t>(StrToInt(text));
    QByteArray v;
    for (int i = 0; i < 4; ++i)
        v.append(b(value >> (8 * i)));
    v.append("BGN");
    return v;
}

QByteArray typeValueBlock(uint8_t medium, uint8_t numerator, uint8_t denominator) {
    QByteArray v;
    v.append(b(medium)).append(b(numerator)).append(b(denominator));
    return v;
}

std::optional<uint8_t> hoursFromText(const QString& text) {
    if (text.isEmpty()) {
        showMessage(QStringLiteral("Please enter hours of duration"));
        return std::nullopt;
    }
    if (text.size() <= 2 && allDigits(text)) {
        int value = 0;
        for (QChar ch : text)
            value = value * 10 + (ch.unicode() - '0');
        return static_cast<uint8_t>(value);
    }
    showMessage(QStringLiteral("Error in hours"));
    return std::nullopt;
}

bool checkIdentification(const QString& idText, const TelegramState& s) {
    if (idText.size() != 8) {
        showMessage(QStringLiteral("Wrong ID - must be 8-digit"));
        return false;
    }
    if (!allDigits(idText)) {
        showMessage(QStringLiteral("Error in ID - must be digits only"));
        return false;
    }
    if (!s.Medium_valid) {
        showMessage(QStringLiteral("Wrong medium"));
        return false;
    }
    return true;
}

bool checkNumDenText(const QString& text) {
    if (text.isEmpty()) {
        showMessage(QStringLiteral("Please enter NUM/DENUM"));
        return false;
    }
    if (!text.contains(u'/')) {
        showMessage(QStringLiteral("Error in NUM/DENUM"));
        return false;
    }
    for (QChar ch : text) {
        if (ch != u'/' && (ch < u'0' || ch > u'9')) {
            showMessage(QStringLiteral("Error in NUM/DENUM - must be digits only"));
            return false;
        }
    }
    return true;
}

bool checkNumDenValues(const QString& text, uint8_t medium, uint8_t* num, uint8_t* den) {
    if (medium == 0) {
        showMessage(QStringLiteral("Please select medium"));
        return false;
    }
    const int slash = text.indexOf(u'/');
    const int32_t n = StrToInt(text.left(slash));
    if (n > 255) {
        showMessage(QStringLiteral("Numerator must be < 255"));
        return false;
    }
    const int32_t d = StrToInt(text.mid(slash + 1));
    if (d > 255) {
        showMessage(QStringLiteral("Denumerator must be < 255"));
        return false;
    }
    *num = static_cast<uint8_t>(n);
    *den = static_cast<uint8_t>(d);
    return true;
}

namespace {
void applyTariff(TelegramState& s, const QString& tariffText) {
    if (auto dife = tariffDife(s.Field_DIFE, tariffText))
        s.Field_DIFE = *dife;
}
QByteArray header4(const TelegramState& s) {
    QByteArray r;
    r.append(b(s.Field_DIF)).append(b(s.Field_DIFE)).append(b(s.Field_VIF)).append(b(s.Field_VIFE));
    return r;
}
}  // namespace

QByteArray costRecord(TelegramState& s, const QString& tariffText, const QString& costText) {
    applyTariff(s, tariffText);
    s.Field_DIF = 0x8F;
    s.Field_VIF = 0x7F;
    if (costText.isEmpty()) {
        showMessage(QStringLiteral("Please enter cost of tarif"));
        return {};
    }
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

QByteArray durationRecord(TelegramState& s, const QString& tariffText, const QString& hoursText) {
    applyTariff(s, tariffText);
    s.Field_DIF = 0x81;
    s.Field_VIF = 0xFD;
    s.Field_VIFE = 0x32;
    const auto hours = hoursFromText(hoursText);
    if (!hours)
        return {};
    QByteArray r = header4(s);
    r.append(b(*hours));
    return r;
}

QByteArray dateTimeRecord(const TelegramState&) {
    QByteArray r;
    r.append(b(0x04)).append(b(0x6D));
    return r + dateTimeValueNow();
}

QByteArray identificationRecord(TelegramState& s, const QString& idText) {
    if (!checkIdentification(idText, s))
        return {};
    s.Field_DIF = 0x07;
    s.Field_VIF = 0x79;
    QByteArray r;
    r.append(b(0x07)).append(b(0x79));
    return r + identificationBlock(idText, s);
}

QByteArray typeValueRecord(TelegramState& s, const QString& numText) {
    if (!checkNumDenText(numText))
        return {};
    s.Field_VIFE = 0x03;
    uint8_t num = 0;
    uint8_t den = 0;
    if (!checkNumDenValues(numText, s.Medium_code, &num, &den))
        return {};
    s.Field_DIF = 0x0F;
    QByteArray r;
    r.append(b(0x0F)).append(b(s.Field_VIF)).append(b(0x03));
    return r + typeValueBlock(s.Medium_code, num, den);
}

uint32_t hexTextToNumber(const QString& text) {
    uint32_t value = 0;
    const int n = std::min<int>(8, text.size());
    for (int i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        // Letters are hexadecimal digits; anything else is converted as a decimal number.
        const int letter = ch.isDigit() ? -1 : hexDigitValue(ch);
        const uint32_t digit = letter >= 0 ? static_cast<uint32_t>(letter)
                                           : static_cast<uint32_t>(StrToInt(QString(ch)));
        value += digit << (4 * (7 - i));
    }
    return value;
}

}  // namespace trelmo::mbus
